// Test data for the codec's tests: the named images of tests/images/ (its
// README tells what each is), images built from payloads, and deterministic
// inputs to pack.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "lzs/format.hpp"

namespace testdata {

using Bytes = std::vector<std::uint8_t>;

// The payload behind a header that gives its length: a well-formed image.
inline Bytes WithHeader(const Bytes& payload) {
  const auto n = static_cast<std::uint32_t>(payload.size());
  Bytes image;
  for (std::uint32_t k = 0; k < lzs::HeaderSize; ++k)
    image.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
  image.insert(image.end(), payload.begin(), payload.end());
  return image;
}

// A file of tests/images/ (LZS_TEST_IMAGES_DIR, from the build), whole;
// the test program stops when it cannot be read.
inline Bytes ImageFile(const std::string& name) {
  std::ifstream file(std::filesystem::path(LZS_TEST_IMAGES_DIR) / name, std::ios::binary);
  if (!file) {
    (void)std::fprintf(stderr, "cannot read %s in %s\n", name.c_str(), LZS_TEST_IMAGES_DIR);
    std::abort();
  }
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A named image with what it decodes to or, when it is refused, the words
// of lzs_describe for it.
struct NamedImage {
  std::string name;  // "worked-example"
  Bytes image;
  bool refused;
  Bytes output;       // what it decodes to
  std::string error;  // the words of its refusal
};

inline NamedImage ReadNamedImage(const std::string& name) {
  NamedImage named{name, ImageFile(name + ".lzs"), false, {}, {}};
  named.refused =
      std::filesystem::exists(std::filesystem::path(LZS_TEST_IMAGES_DIR) / (name + ".err"));
  if (!named.refused) {
    named.output = ImageFile(name + ".out");
    return named;
  }
  const Bytes words = ImageFile(name + ".err");
  named.error.assign(words.begin(), words.end());
  if (!named.error.empty() && named.error.back() == '\n') named.error.pop_back();
  return named;
}

// Every image of tests/images/, by name.
inline std::vector<NamedImage> NamedImages() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(LZS_TEST_IMAGES_DIR)) {
    if (entry.path().extension() == ".lzs") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<NamedImage> images;
  images.reserve(names.size());
  for (const std::string& name : names) images.push_back(ReadNamedImage(name));
  return images;
}

// The worked example (see tests/images/README.md): ABCABCABC.
inline const Bytes WorkedExample = ImageFile("worked-example.lzs");
inline const std::string WorkedExampleDecoded = [] {
  const Bytes output = ImageFile("worked-example.out");
  return std::string(output.begin(), output.end());
}();

// size bytes of pieces one after another, piece(random) making each, with
// random seeded by `seed`.
template <typename Piece>
Bytes Pieces(std::size_t size, std::uint32_t seed, Piece piece) {
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < size) {
    const Bytes part = piece(random);
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

// size bytes of text-like input: words drawn at random from a short list.
inline Bytes Words(std::size_t size, std::uint32_t seed) {
  static const char* const words[] = {"the ",    "LZS ",   "window ", "of ",    "and ",
                                      "packed ", "file, ", "a ",      "byte. ", "\n"};
  return Pieces(size, seed, [](std::mt19937& random) {
    const char* word = words[random() % 10];
    return Bytes(word, word + std::char_traits<char>::length(word));
  });
}

// size bytes drawn at random from the first `alphabet` byte values.
inline Bytes RandomBytes(std::mt19937& rng, std::size_t size, std::uint32_t alphabet = 256) {
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<std::uint8_t>(rng() % alphabet);
  return out;
}

// Builds a payload item by item; back-references are given by distance and
// length and encoded for the output index they will be decoded at.
class PayloadBuilder {
 public:
  PayloadBuilder& Literal(std::uint8_t byte) {
    StartItem(true);
    payload_.push_back(byte);
    ++outputLength_;
    return *this;
  }
  PayloadBuilder& Literals(std::uint32_t count, std::uint8_t first = 'a') {
    for (std::uint32_t n = 0; n < count; ++n) Literal(static_cast<std::uint8_t>(first + n * 7));
    return *this;
  }
  PayloadBuilder& Reference(std::uint32_t distance, std::uint32_t length) {
    StartItem(false);
    const std::uint32_t position = lzs::ItemPositionAt(outputLength_, distance);
    payload_.push_back(lzs::ItemByte0(position));
    payload_.push_back(lzs::ItemByte1(position, length));
    outputLength_ += length;
    return *this;
  }
  // Sets the flag bits of the items not yet used in the last group.
  PayloadBuilder& UnusedFlags(std::uint8_t bits) {
    if (item_ < 8) payload_[flagIndex_] |= static_cast<std::uint8_t>(bits << item_);
    return *this;
  }
  PayloadBuilder& Raw(std::uint8_t byte) {
    payload_.push_back(byte);
    return *this;
  }
  Bytes Image() const { return WithHeader(payload_); }

 private:
  void StartItem(bool literal) {
    if (item_ == 8) {
      flagIndex_ = payload_.size();
      payload_.push_back(0);
      item_ = 0;
    }
    if (literal) payload_[flagIndex_] |= static_cast<std::uint8_t>(1 << item_);
    ++item_;
  }

  Bytes payload_;
  std::size_t flagIndex_ = 0;
  int item_ = 8;
  std::uint32_t outputLength_ = 0;
};

}  // namespace testdata
