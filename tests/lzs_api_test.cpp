// liblzs through its C interface: the bounded decoder against the reference
// decoder at every capacity around the decoded size, with both the image and
// the destination ending at an inaccessible page; the size scan; the error
// codes; encoding at both levels.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"
#include "lzs/buffer.hpp"
#include "lzs/encode.hpp"
#include "lzs/format.hpp"
#include "tests/guarded_buffer.hpp"
#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"

namespace {

using testdata::Bytes;
using testdata::WithHeader;
using testdata::Words;

constexpr size_t Error(lzs_error code) { return static_cast<size_t>(0) - code; }

Bytes Reference(const Bytes& image) {
  Bytes out(lzs::MaxExpansion * image.size() + 1);
  out.resize(
      DecodeLzsReference(image.data(), static_cast<std::uint32_t>(image.size()), out.data()));
  return out;
}

// lzs_decode at every capacity from 0 to the decoded size plus a few, each
// destination ending at the guard page; lzs_decoded_size once.
void ExpectBoundedLikeReference(const Bytes& image, const std::string& what) {
  const Bytes expected = Reference(image);
  ASSERT_FALSE(expected.empty()) << what;
  GuardedBuffer in(image.size());
  std::memcpy(in.data(), image.data(), image.size());
  EXPECT_EQ(lzs_decoded_size(in.data(), image.size()), expected.size()) << what;

  GuardedBuffer out(expected.size() + 3);
  for (size_t capacity = 0; capacity <= out.size(); ++capacity) {
    out.Fill(0xA5);
    std::uint8_t* dst = out.data() + out.size() - capacity;
    const size_t n = lzs_decode(dst, capacity, in.data(), image.size());
    if (capacity < expected.size()) {
      ASSERT_EQ(n, Error(LZS_ERROR_DST_TOO_SMALL)) << what << ", capacity " << capacity;
    } else {
      ASSERT_EQ(n, expected.size()) << what << ", capacity " << capacity;
      ASSERT_EQ(std::memcmp(dst, expected.data(), n), 0) << what << ", capacity " << capacity;
    }
  }
}

Bytes RandomBytes(std::mt19937& rng, size_t size, std::uint32_t alphabet) {
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<std::uint8_t>(rng() % alphabet);
  return out;
}

TEST(LzsDecode, EveryCapacityOnRandomImages) {
  std::mt19937 rng(1111);
  for (size_t length = 1; length <= 200; length += (length < 40 ? 1 : 23)) {
    for (int round = 0; round < 4; ++round) {
      const Bytes image = WithHeader(RandomBytes(rng, length, round == 0 ? 2 : 256));
      if (Reference(image).empty()) continue;  // yields nothing: see the error table
      ExpectBoundedLikeReference(image, "random payload of " + std::to_string(length));
    }
  }
}

// Long copies of short distances and of distance 0, so that the output runs
// far ahead of the input and the end of the destination is met inside copies.
TEST(LzsDecode, EveryCapacityOnLongCopies) {
  for (const std::uint8_t b1 : {0x0F, 0x1F, 0xFF, 0x03}) {
    for (const size_t references : {1u, 7u, 8u, 9u, 40u}) {
      Bytes payload;
      for (size_t n = 0; n < references; ++n) {
        if (n % 8 == 0) payload.push_back(n == 0 ? 0x01 : 0x00);  // first item a literal
        payload.push_back(n == 0 ? 'x' : static_cast<std::uint8_t>(n));
        if (n != 0) payload.push_back(b1);
      }
      ExpectBoundedLikeReference(WithHeader(payload),
                                 std::to_string(references) + " items, b1 " + std::to_string(b1));
    }
  }
}

TEST(LzsDecode, EveryCapacityOnEncoderImages) {
  std::mt19937 rng(77);
  lzs::LzsEncoder encoder;
  for (const size_t size : {1u, 2u, 3u, 17u, 18u, 19u, 40u, 160u, 1000u, 4097u}) {
    const Bytes inputs[] = {RandomBytes(rng, size, 256), RandomBytes(rng, size, 3),
                            Words(size, rng()), Bytes(size, 0)};
    for (const Bytes& input : inputs) {
      for (const lzs::Parse parse : {lzs::Parse::Optimal, lzs::Parse::Fast}) {
        const Bytes image = encoder.Encode(input.data(), input.size(), parse);
        ExpectBoundedLikeReference(image, "size " + std::to_string(size) + ", input " +
                                              std::to_string(&input - inputs) + ", parse " +
                                              std::to_string(static_cast<int>(parse)));
      }
    }
  }
}

TEST(LzsDecode, RefusedImagesAndArguments) {
  const Bytes worked = {0x06, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3};
  std::uint8_t out[16];
  struct Case {
    const char* name;
    Bytes image;
    bool nullImage;
    bool nullDst;
    size_t capacity;
    size_t decoded;  // lzs_decode's result
    size_t size;     // lzs_decoded_size's result
  };
  const Case cases[] = {
      {"empty", {}, false, false, 16, Error(LZS_ERROR_NOT_AN_IMAGE), Error(LZS_ERROR_NOT_AN_IMAGE)},
      {"null image of size 0",
       {},
       true,
       false,
       16,
       Error(LZS_ERROR_NOT_AN_IMAGE),
       Error(LZS_ERROR_NOT_AN_IMAGE)},
      {"null image of size 10", worked, true, false, 16, Error(LZS_ERROR_BAD_ARGUMENT),
       Error(LZS_ERROR_BAD_ARGUMENT)},
      {"four bytes",
       {0, 0, 0, 0},
       false,
       false,
       16,
       Error(LZS_ERROR_NOT_AN_IMAGE),
       Error(LZS_ERROR_NOT_AN_IMAGE)},
      {"header one too large",
       {0x07, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3},
       false,
       false,
       16,
       Error(LZS_ERROR_HEADER_MISMATCH),
       Error(LZS_ERROR_HEADER_MISMATCH)},
      {"header one too small",
       {0x05, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3},
       false,
       false,
       16,
       Error(LZS_ERROR_HEADER_MISMATCH),
       Error(LZS_ERROR_HEADER_MISMATCH)},
      {"high header byte",
       {0x06, 0, 0, 1, 0x07, 'A', 'B', 'C', 0xEE, 0xF3},
       false,
       false,
       16,
       Error(LZS_ERROR_HEADER_MISMATCH),
       Error(LZS_ERROR_HEADER_MISMATCH)},
      {"back-reference without bytes",
       {1, 0, 0, 0, 0x00},
       false,
       false,
       16,
       Error(LZS_ERROR_NO_OUTPUT),
       Error(LZS_ERROR_NO_OUTPUT)},
      {"literal without byte",
       {1, 0, 0, 0, 0x01},
       false,
       false,
       16,
       Error(LZS_ERROR_NO_OUTPUT),
       Error(LZS_ERROR_NO_OUTPUT)},
      {"yields nothing, no room",
       {2, 0, 0, 0, 0x00, 0x42},
       false,
       true,
       0,
       Error(LZS_ERROR_NO_OUTPUT),
       Error(LZS_ERROR_NO_OUTPUT)},
      {"worked example", worked, false, false, 16, 9, 9},
      {"worked example, exact room", worked, false, false, 9, 9, 9},
      {"worked example, no room", worked, false, true, 0, Error(LZS_ERROR_DST_TOO_SMALL), 9},
      {"null destination with a capacity", worked, false, true, 16, Error(LZS_ERROR_BAD_ARGUMENT),
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const void* image = c.nullImage ? nullptr : c.image.data();
    const size_t imageSize = c.nullImage && c.image.empty() ? 0 : c.image.size();
    EXPECT_EQ(lzs_decode(c.nullDst ? nullptr : out, c.capacity, image, imageSize), c.decoded);
    EXPECT_EQ(lzs_decoded_size(image, imageSize), c.size);
  }

  // dst may border on the image, never share a byte with it.
  Bytes block(64);
  std::memcpy(block.data() + 16, worked.data(), worked.size());
  const std::uint8_t* const image = block.data() + 16;
  struct Placement {
    std::ptrdiff_t offset;  // of dst from the image's start
    size_t capacity;
    size_t expected;
  };
  const Placement placements[] = {
      {-16, 16, 9},
      {-16, 17, Error(LZS_ERROR_BAD_ARGUMENT)},
      {0, 16, Error(LZS_ERROR_BAD_ARGUMENT)},
      {9, 16, Error(LZS_ERROR_BAD_ARGUMENT)},
      {10, 16, 9},
  };
  for (const Placement& p : placements) {
    EXPECT_EQ(lzs_decode(block.data() + 16 + p.offset, p.capacity, image, worked.size()),
              p.expected)
        << "dst at " << p.offset << ", capacity " << p.capacity;
  }
}

TEST(LzsImageInfo, SizeAndCutLastItem) {
  // Nine literals of a full group, then the group under test.
  const Bytes group = {0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  struct Case {
    const char* name;
    Bytes payload;
    size_t expected;
    int cut;
  };
  const Case cases[] = {
      {"worked example", {0x07, 'A', 'B', 'C', 0xEE, 0xF3}, 9, 0},
      {"back-reference cut after one byte", {0x03, 'A', 'B', 0x00}, 2, 1},
      {"back-reference ends the image", {0x03, 'A', 'B', 0x00, 0x0F}, 2 + 18, 0},
      {"flag byte and nothing more", {0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x00}, 8, 0},
      {"literal flag without its byte", {0x07, 'A', 'B'}, 2, 0},
      {"cut after whole groups", {}, 16 * 8 + 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes payload = c.payload;
    if (payload.empty()) {
      for (int k = 0; k < 16; ++k) payload.insert(payload.end(), group.begin(), group.end());
      payload.insert(payload.end(), {0x01, 'z', 0x00});
    }
    const Bytes image = WithHeader(payload);
    lzs_info info{};
    EXPECT_EQ(lzs_image_info(image.data(), image.size(), &info), c.expected);
    EXPECT_EQ(info.decodedSize, c.expected);
    EXPECT_EQ(info.lastItemCut, c.cut);
    EXPECT_EQ(Reference(image).size(), c.expected);
  }
  const Bytes bad = {0x02, 0, 0, 0, 0x00, 0x42};
  lzs_info info{7, 7};
  EXPECT_EQ(lzs_image_info(bad.data(), bad.size(), &info), Error(LZS_ERROR_NO_OUTPUT));
  EXPECT_EQ(info.decodedSize, 7u);
  EXPECT_EQ(lzs_image_info(bad.data(), bad.size(), nullptr), Error(LZS_ERROR_BAD_ARGUMENT));
}

TEST(LzsImageLength, HeaderAgainstTheBufferEnd) {
  // The worked example (10 bytes), then bytes of something else.
  const Bytes blob = {0x06, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  const Bytes empty = {0, 0, 0, 0};
  struct Case {
    const Bytes* src;
    size_t srcSize;
    size_t expected;
  };
  const Case cases[] = {
      {&blob, 10, 10},
      {&blob, blob.size(), 10},
      {&blob, 9, Error(LZS_ERROR_HEADER_MISMATCH)},
      {&blob, 3, Error(LZS_ERROR_NOT_AN_IMAGE)},
      {&empty, 4, 4},
      {&huge, huge.size(), Error(LZS_ERROR_HEADER_MISMATCH)},
      {nullptr, 4, Error(LZS_ERROR_BAD_ARGUMENT)},
      {nullptr, 0, Error(LZS_ERROR_NOT_AN_IMAGE)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lzs_image_length(c.src != nullptr ? c.src->data() : nullptr, c.srcSize), c.expected)
        << "size " << c.srcSize;
  }
  const size_t largestPayload = LZS_IMAGE_SIZE_MAX - LZS_HEADER_SIZE;
  for (const auto& [imageSize, bound] : {std::pair<size_t, size_t>{0, 0},
                                         {4, 0},
                                         {5, 9},
                                         {10, 54},
                                         {LZS_IMAGE_SIZE_MAX, largestPayload * 9},
                                         {LZS_IMAGE_SIZE_MAX + 1, 0}}) {
    EXPECT_EQ(lzs_decode_bound(imageSize), bound) << imageSize;
  }
}

TEST(LzsErrors, CodesNamesAndSizes) {
  std::vector<std::string> names;
  for (int code = LZS_ERROR_NOT_AN_IMAGE; code <= LZS_ERROR_MAX_CODE; ++code) {
    const size_t result = Error(static_cast<lzs_error>(code));
    EXPECT_EQ(lzs_is_error(result), 1u) << code;
    EXPECT_EQ(lzs_get_error(result), code);
    names.emplace_back(lzs_error_name(result));
    EXPECT_NE(names.back(), "unknown error") << code;
    EXPECT_NE(names.back(), "no error") << code;
    for (size_t k = 0; k + 1 < names.size(); ++k) EXPECT_NE(names[k], names.back()) << code;
  }
  for (const size_t size :
       {size_t{0}, size_t{1}, size_t{9}, size_t{1} << 40, Error(LZS_ERROR_MAX_CODE) - 1}) {
    EXPECT_EQ(lzs_is_error(size), 0u) << size;
    EXPECT_EQ(lzs_get_error(size), LZS_OK) << size;
    EXPECT_STREQ(lzs_error_name(size), "no error") << size;
  }
  EXPECT_STREQ(lzs_error_name(Error(static_cast<lzs_error>(LZS_ERROR_MAX_CODE + 1))), "no error");
}

TEST(LzsEncode, RoundTripsAtBothLevels) {
  std::mt19937 rng(3);
  lzs_encoder* encoder = lzs_encoder_create();
  ASSERT_NE(encoder, nullptr);
  for (const size_t size : {1u, 2u, 18u, 19u, 1000u, 4096u, 30000u}) {
    const Bytes inputs[] = {RandomBytes(rng, size, 256), Words(size, rng()), Bytes(size, 0)};
    for (const Bytes& input : inputs) {
      SCOPED_TRACE("size " + std::to_string(size) + ", input " + std::to_string(&input - inputs));
      const size_t bound = lzs_encode_bound(size);
      size_t imageSizes[2] = {};
      for (const int level : {LZS_LEVEL_OPTIMAL, LZS_LEVEL_FAST}) {
        Bytes image(bound);
        const size_t n =
            lzs_encode_with(encoder, image.data(), image.size(), input.data(), input.size(), level);
        ASSERT_FALSE(lzs_is_error(n)) << lzs_error_name(n);
        ASSERT_LE(n, bound);
        image.resize(n);
        imageSizes[level] = n;
        EXPECT_EQ(Reference(image), input) << "level " << level;
        // A new encoder each time gives the same image as the reused one.
        Bytes again(n);
        EXPECT_EQ(lzs_encode(again.data(), again.size(), input.data(), input.size(), level), n);
        EXPECT_EQ(again, image) << "level " << level;
        // In place: the input at the start of the destination.
        Bytes inPlace(bound);
        std::memcpy(inPlace.data(), input.data(), size);
        EXPECT_EQ(lzs_encode_with(encoder, inPlace.data(), bound, inPlace.data(), size, level), n);
        inPlace.resize(n);
        EXPECT_EQ(inPlace, image) << "in place, level " << level;
      }
      EXPECT_LE(imageSizes[LZS_LEVEL_OPTIMAL], imageSizes[LZS_LEVEL_FAST]);
      // The optimal level is lzs-pack's image.
      Bytes optimal(bound);
      optimal.resize(lzs_encode(optimal.data(), optimal.size(), input.data(), input.size(),
                                LZS_LEVEL_OPTIMAL));
      EXPECT_EQ(optimal, lzs::EncodeLzs(input.data(), input.size()));
    }
  }
  lzs_encoder_free(encoder);
  lzs_encoder_free(nullptr);
}

TEST(LzsEncode, RefusalsWriteNothing) {
  const Bytes input(100, 'q');  // a literal and five copies: a 17-byte image
  Bytes exact(lzs_encode_bound(input.size()));
  exact.resize(
      lzs_encode(exact.data(), exact.size(), input.data(), input.size(), LZS_LEVEL_OPTIMAL));
  ASSERT_FALSE(lzs_is_error(exact.size()));
  struct Case {
    const char* name;
    size_t srcSize;
    size_t capacity;
    size_t expected;
    int level;
    bool nullSrc;
  };
  const Case cases[] = {
      {"empty input", 0, 64, Error(LZS_ERROR_EMPTY_INPUT), LZS_LEVEL_OPTIMAL, false},
      {"empty input, fast", 0, 64, Error(LZS_ERROR_EMPTY_INPUT), LZS_LEVEL_FAST, true},
      {"null input with a size", 100, 64, Error(LZS_ERROR_BAD_ARGUMENT), LZS_LEVEL_OPTIMAL, true},
      {"unknown level 2", 100, 64, Error(LZS_ERROR_BAD_ARGUMENT), 2, false},
      {"unknown level -1", 100, 64, Error(LZS_ERROR_BAD_ARGUMENT), -1, false},
      {"above the largest input", LZS_ENCODE_SIZE_MAX + 1, 64, Error(LZS_ERROR_INPUT_TOO_LARGE),
       LZS_LEVEL_FAST, false},
      {"one byte short", 100, exact.size() - 1, Error(LZS_ERROR_DST_TOO_SMALL), LZS_LEVEL_OPTIMAL,
       false},
      {"no room", 100, 0, Error(LZS_ERROR_DST_TOO_SMALL), LZS_LEVEL_FAST, false},
      {"exact room", 100, exact.size(), exact.size(), LZS_LEVEL_OPTIMAL, false},
  };
  lzs_encoder* encoder = lzs_encoder_create();
  ASSERT_NE(encoder, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuardedBuffer dst(c.capacity);
    dst.Fill(0xA5);
    const void* src = c.nullSrc ? nullptr : input.data();
    EXPECT_EQ(lzs_encode_with(encoder, dst.data(), c.capacity, src, c.srcSize, c.level),
              c.expected);
    EXPECT_EQ(lzs_encode(dst.data(), c.capacity, src, c.srcSize, c.level), c.expected);
    if (lzs_is_error(c.expected)) {
      for (size_t k = 0; k < c.capacity; ++k) ASSERT_EQ(dst.data()[k], 0xA5) << "byte " << k;
    } else {
      EXPECT_EQ(std::memcmp(dst.data(), exact.data(), exact.size()), 0);
    }
  }
  EXPECT_EQ(lzs_encode_with(nullptr, exact.data(), exact.size(), input.data(), input.size(), 0),
            Error(LZS_ERROR_BAD_ARGUMENT));
  lzs_encoder_free(encoder);

  EXPECT_EQ(lzs_encode_bound(0), 4u);
  EXPECT_EQ(lzs_encode_bound(8), 4u + 8 + 1);
  EXPECT_EQ(lzs_encode_bound(9), 4u + 9 + 2);
  EXPECT_EQ(lzs_encode_bound(LZS_ENCODE_SIZE_MAX),
            4u + LZS_ENCODE_SIZE_MAX + LZS_ENCODE_SIZE_MAX / 8);
  EXPECT_EQ(lzs_encode_bound(LZS_ENCODE_SIZE_MAX + 1), 0u);
}

}  // namespace

namespace {

// One call of lzs_decode_stream on a fresh context after `before` (fed whole
// beforehand): its input, output room, result and the positions it leaves.
struct StreamCall {
  const char* what;
  Bytes before;
  Bytes input;
  size_t room;
  size_t result;
  size_t srcPos;
  Bytes output;
};

}  // namespace

TEST(LzsDecodeStream, ResultsAndPositions) {
  const Bytes worked{0x06, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3};
  const Bytes text{'A', 'B', 'C', 'A', 'B', 'C', 'A', 'B', 'C'};
  auto part = [&](size_t from, size_t to) {
    return Bytes(worked.begin() + from, worked.begin() + to);
  };
  const std::vector<StreamCall> calls = {
      {"whole image", {}, worked, 64, 0, 10, text},
      {"header bytes still wanted", {}, part(0, 1), 64, 3, 1, {}},
      {"payload bytes still wanted", {}, part(0, 6), 64, 4, 6, {'A'}},
      {"last byte wanted", part(0, 9), part(9, 10), 64, 0, 1, text},
      {"output full, input taken", {}, worked, 4, 1, 10, {'A', 'B', 'C', 'A'}},
      {"literal waits for room", {}, part(0, 6), 0, 5, 5, {}},
      {"input past the end",
       {},
       Bytes{0x02, 0, 0, 0, 0x01, 'x', 'y'},
       64,
       Error(LZS_ERROR_HEADER_MISMATCH),
       6,
       {'x'}},
      {"more input after the end",
       worked,
       Bytes{0x00},
       64,
       Error(LZS_ERROR_HEADER_MISMATCH),
       0,
       {}},
      {"empty input after the end", worked, {}, 64, 0, 0, {}},
      {"header of 0", {}, Bytes{0, 0, 0, 0}, 64, Error(LZS_ERROR_NOT_AN_IMAGE), 4, {}},
      {"no output", {}, Bytes{0x01, 0, 0, 0, 0x00}, 64, Error(LZS_ERROR_NO_OUTPUT), 5, {}},
      {"error stays",
       Bytes{0x02, 0, 0, 0, 0x01, 'x', 'y'},
       Bytes{0x01},
       64,
       Error(LZS_ERROR_HEADER_MISMATCH),
       0,
       {'x'}},
      {"lone byte dropped", {}, Bytes{0x03, 0, 0, 0, 0x01, 'x', 0x42}, 64, 0, 7, {'x'}},
  };
  for (const StreamCall& c : calls) {
    lzs_dstream* ds = lzs_dstream_create();
    ASSERT_NE(ds, nullptr);
    Bytes sink(64);
    size_t sinkPos = 0;
    size_t beforePos = 0;
    lzs_decode_stream(ds, sink.data(), sink.size(), &sinkPos, c.before.data(), c.before.size(),
                      &beforePos);
    Bytes out(c.room + 1, 0xEE);
    size_t dstPos = 0;
    size_t srcPos = 0;
    EXPECT_EQ(
        lzs_decode_stream(ds, out.data(), c.room, &dstPos, c.input.data(), c.input.size(), &srcPos),
        c.result)
        << c.what;
    EXPECT_EQ(srcPos, c.srcPos) << c.what;
    // The output of both calls together.
    Bytes all(sink.begin(), sink.begin() + sinkPos);
    all.insert(all.end(), out.begin(), out.begin() + dstPos);
    EXPECT_EQ(all, c.before == worked ? text : c.output) << c.what;
    EXPECT_EQ(out[dstPos], 0xEE) << c.what << ": written past dstPos";
    lzs_dstream_free(ds);
  }
}

TEST(LzsDecodeStream, ArgumentsAndReset) {
  const Bytes worked{0x06, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3};
  lzs_dstream* ds = lzs_dstream_create();
  ASSERT_NE(ds, nullptr);
  Bytes out(16);
  size_t dstPos = 0;
  size_t srcPos = 0;
  const size_t bad = Error(LZS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(lzs_decode_stream(nullptr, out.data(), 16, &dstPos, worked.data(), 10, &srcPos), bad);
  EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, nullptr, worked.data(), 10, &srcPos), bad);
  EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, &dstPos, worked.data(), 10, nullptr), bad);
  EXPECT_EQ(lzs_decode_stream(ds, nullptr, 16, &dstPos, worked.data(), 10, &srcPos), bad);
  EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, &dstPos, nullptr, 10, &srcPos), bad);
  dstPos = 17;
  EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, &dstPos, worked.data(), 10, &srcPos), bad);
  dstPos = 0;
  srcPos = 11;
  EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, &dstPos, worked.data(), 10, &srcPos), bad);
  EXPECT_EQ(srcPos, 11u);
  EXPECT_EQ(dstPos, 0u);
  // None of those changed the context: the image still decodes, and after
  // an error a reset makes it ready again.
  for (int round = 0; round < 2; ++round) {
    dstPos = 0;
    srcPos = 0;
    EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, &dstPos, worked.data(), 10, &srcPos), 0u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + dstPos),
              (Bytes{'A', 'B', 'C', 'A', 'B', 'C', 'A', 'B', 'C'}));
    srcPos = 0;
    EXPECT_EQ(lzs_decode_stream(ds, out.data(), 16, &dstPos, worked.data(), 10, &srcPos),
              Error(LZS_ERROR_HEADER_MISMATCH));
    EXPECT_EQ(lzs_dstream_reset(ds), 0u);
  }
  EXPECT_EQ(lzs_dstream_reset(nullptr), bad);
  lzs_dstream_free(ds);
  lzs_dstream_free(nullptr);
}

// The encoder's workspace: a size whose byte count would wrap around is a
// failed allocation, and leaves the buffer as it was.
TEST(LzsBuffer, GrowthThatCannotBeHadChangesNothing) {
  lzs::Buffer<std::uint32_t> buffer;
  ASSERT_TRUE(buffer.Assign(3, 7));
  const auto before = reinterpret_cast<std::uintptr_t>(buffer.data());
  for (const size_t n : {SIZE_MAX, SIZE_MAX / 4 + 2, SIZE_MAX / 2}) {
    EXPECT_FALSE(buffer.Resize(n)) << n;
    EXPECT_EQ(buffer.size(), 3u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()), before);
    EXPECT_EQ(buffer[2], 7u);
  }
}
