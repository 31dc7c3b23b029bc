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

// size bytes of text-like input: words drawn at random from a short list.
inline Bytes Words(std::size_t size, std::uint32_t seed) {
  static const char* const words[] = {"the ",    "LZS ",   "window ", "of ",    "and ",
                                      "packed ", "file, ", "a ",      "byte. ", "\n"};
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < size) {
    const char* word = words[random() % 10];
    out.insert(out.end(), word, word + std::char_traits<char>::length(word));
  }
  out.resize(size);
  return out;
}

}  // namespace testdata
