// Looking inside images through liblzs's C interface: lzs_inspect against
// crafted images and the reference decoder; lzs_decode_salvage and
// lzs_salvage_alloc on an image cut at every position and followed by more
// bytes; lzs_scan_next on containers of images among random bytes and this
// program's own bytes, with the limits on what else it finds; and
// lzs_encode_like with images of both our levels and of a greedy packer of
// the tests' own, after edits that keep the size and edits that change it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/walk.hpp"
#include "tests/support/greedy_packer.hpp"
#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"

namespace {

using testdata::Bytes;
using testdata::PayloadBuilder;
using testdata::RandomBytes;
using testdata::WithHeader;
using testdata::Words;

using lzs::Error;

Bytes Reference(const Bytes& image) { return ReferenceDecoded(image); }

Bytes Pack(const Bytes& data, int level) {
  Bytes image(lzs_encode_bound(data.size()));
  const size_t n = lzs_encode(image.data(), image.size(), data.data(), data.size(), level);
  EXPECT_FALSE(lzs_is_error(n)) << lzs_error_name(n);
  image.resize(lzs_is_error(n) ? 0 : n);
  return image;
}

// Bytes like a program's data: records of small numbers, zeros between
// them, and now and then a word.
Bytes Records(size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t value = rng() % (rng() % 4 == 0 ? 65536 : 300);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
    if (rng() % 16 == 0) {
      const Bytes words = Words(8 + rng() % 24, rng());
      out.insert(out.end(), words.begin(), words.end());
    }
  }
  out.resize(size);
  return out;
}

// Text and records in turns, as a file of a program's resources has them.
Bytes Mixed(size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const size_t piece = 2000 + rng() % 30000;
    const Bytes part = rng() % 2 == 0 ? Words(piece, rng()) : Records(piece, rng());
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

// The packers whose images the scan must find and lzs_encode_like must
// reproduce: both levels of ours, and the tests' greedy one.
struct Packer {
  const char* name;
  Bytes (*pack)(const Bytes& data);
};
const Packer Packers[] = {
    {"optimal", [](const Bytes& data) { return Pack(data, LZS_LEVEL_OPTIMAL); }},
    {"fast", [](const Bytes& data) { return Pack(data, LZS_LEVEL_FAST); }},
    {"greedy", [](const Bytes& data) { return PackGreedy(data); }},
};

Bytes Cut(Bytes image, size_t keep) {
  image.resize(keep);
  return image;
}

Bytes Appended(Bytes image, std::initializer_list<std::uint8_t> more) {
  image.insert(image.end(), more);
  return image;
}

// ---- lzs_decode_salvage, lzs_salvage_alloc --------------------------------

// 37510112 as "37,510,112", as the library writes sizes.
std::string Grouped(size_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

std::string Described(size_t result, const lzs_info& info) {
  char words[256];
  lzs_describe(result, &info, words, sizeof words);
  return words;
}

TEST(LzsSalvage, EveryCutOfAnImage) {
  const Bytes image = Pack(Mixed(3000, 7), LZS_LEVEL_OPTIMAL);
  for (size_t keep = 0; keep <= image.size(); ++keep) {
    SCOPED_TRACE("keep " + std::to_string(keep));
    const Bytes cut = Cut(image, keep);
    Bytes out(lzs_decode_bound(image.size()) + 1);
    lzs_info info;
    const size_t n = lzs_decode_salvage(out.data(), out.size(), cut.data(), cut.size(), &info);
    void* allocated = nullptr;
    lzs_info allocInfo;
    const size_t m = lzs_salvage_alloc(&allocated, cut.data(), cut.size(), SIZE_MAX, nullptr,
                                       nullptr, &allocInfo);
    if (keep <= 4) {
      EXPECT_EQ(n, Error(LZS_ERROR_NOT_AN_IMAGE));
      EXPECT_EQ(m, n);
      std::free(allocated);
      continue;
    }
    const Bytes expected = Reference(WithHeader(Bytes(cut.begin() + 4, cut.end())));
    if (expected.empty()) {
      EXPECT_EQ(n, Error(LZS_ERROR_NO_OUTPUT));
    } else {
      ASSERT_EQ(n, expected.size());
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(n)), expected);
      EXPECT_EQ(info.decodedSize, n);
      EXPECT_EQ(info.imageSize, image.size());
      EXPECT_EQ(info.inputSize, keep);
      EXPECT_EQ((info.flags & LZS_INFO_SALVAGED) != 0, keep < image.size());
      ASSERT_EQ(m, n);
      EXPECT_EQ(std::memcmp(allocated, expected.data(), n), 0);
      EXPECT_EQ(allocInfo.flags, info.flags);
    }
    std::free(allocated);
  }
}

TEST(LzsSalvage, BytesAfterTheImageAndWords) {
  const Bytes image = Pack(Words(5000, 3), LZS_LEVEL_FAST);
  const Bytes decoded = Reference(image);
  Bytes longer = image;
  for (int more = 1; more <= 20; ++more) {
    longer.push_back(static_cast<std::uint8_t>(more * 37));
    Bytes out(lzs_decode_bound(longer.size()));
    lzs_info info;
    ASSERT_EQ(lzs_decode_salvage(out.data(), out.size(), longer.data(), longer.size(), &info),
              decoded.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), out.begin()));
    EXPECT_EQ(info.flags, LZS_INFO_SALVAGED);
  }
  lzs_info info;
  Bytes out(lzs_decode_bound(longer.size()));
  const size_t n = lzs_decode_salvage(out.data(), out.size(), longer.data(), longer.size(), &info);
  EXPECT_EQ(Described(n, info), "bytes after the end of the image (" + Grouped(longer.size()) +
                                    " bytes; the image is " + Grouped(image.size()) +
                                    "); kept the image's 5,000 bytes");
  const Bytes cut = Cut(image, 1000);
  const size_t m = lzs_decode_salvage(out.data(), out.size(), cut.data(), cut.size(), &info);
  EXPECT_EQ(Described(m, info), "cut short: the image is shorter than its header says (1,000 of " +
                                    Grouped(image.size()) +
                                    " bytes); kept what its whole items give, " + Grouped(m) +
                                    " bytes");
  // A whole image is no salvage: lzs_decode's result, no flag, no words.
  EXPECT_EQ(lzs_decode_salvage(out.data(), out.size(), image.data(), image.size(), &info),
            decoded.size());
  EXPECT_EQ(info.flags, 0u);
  EXPECT_EQ(Described(decoded.size(), info), "no error");
  // Arguments, as lzs_decode checks them.
  EXPECT_EQ(lzs_decode_salvage(out.data(), 3, image.data(), image.size(), &info),
            Error(LZS_ERROR_DST_TOO_SMALL));
  EXPECT_EQ(lzs_decode_salvage(longer.data(), longer.size(), longer.data(), longer.size(), nullptr),
            Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_decode_salvage(nullptr, 0, nullptr, 5, nullptr), Error(LZS_ERROR_BAD_ARGUMENT));
}

}  // namespace
