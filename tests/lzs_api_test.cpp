// liblzs through its C interface: the bounded decoder against the reference
// decoder at every capacity around the decoded size, with both the image and
// the destination ending at an inaccessible page; the size scan; the error
// codes; encoding at both levels.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lzs.h"
#include "lzs/buffer.hpp"
#include "lzs/c_api.hpp"
#include "lzs/encode.hpp"
#include "lzs/format.hpp"
#include "tests/guarded_buffer.hpp"
#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"
#include "tests/support/stream_decode.hpp"

namespace {

using testdata::Bytes;
using testdata::RandomBytes;
using testdata::WithHeader;
using testdata::Words;

using lzs::Error;

Bytes Reference(const Bytes& image) { return ReferenceDecoded(image); }

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

// An lzs_info with something in every field, for calls that must write all
// of them.
lzs_info Spoiled() { return lzs_info{7, 7, 7, 7, 7, "spoiled", 7}; }

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
  const Bytes worked = testdata::WorkedExample;
  std::uint8_t out[16];
  auto with = [](Bytes bytes, std::initializer_list<std::uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return bytes;
  };
  const Bytes cut(worked.begin(), worked.end() - 1);
  const size_t notAnImage = Error(LZS_ERROR_NOT_AN_IMAGE);
  const size_t truncated = Error(LZS_ERROR_TRUNCATED);
  const size_t trailing = Error(LZS_ERROR_TRAILING_DATA);
  const size_t noOutput = Error(LZS_ERROR_NO_OUTPUT);
  struct Case {
    const char* name;
    Bytes image;
    bool nullImage;
    bool nullDst;
    size_t capacity;
    size_t decoded;                 // lzs_decode's result
    size_t size;                    // lzs_decoded_size's result
    unsigned long long headerSays;  // lzs_image_info's imageSize
  };
  const Case cases[] = {
      {"empty", {}, false, false, 16, notAnImage, notAnImage, 0},
      {"null image of size 0", {}, true, false, 16, notAnImage, notAnImage, 0},
      {"null image of size 10", worked, true, false, 16, Error(LZS_ERROR_BAD_ARGUMENT),
       Error(LZS_ERROR_BAD_ARGUMENT), 0},
      {"one byte", {0x06}, false, false, 16, notAnImage, notAnImage, 0},
      {"three bytes", {0x06, 0, 0}, false, false, 16, notAnImage, notAnImage, 0},
      {"four bytes", {0, 0, 0, 0}, false, false, 16, notAnImage, notAnImage, 4},
      {"four bytes of a longer image", {6, 0, 0, 0}, false, false, 16, notAnImage, notAnImage, 10},
      {"cut by one byte", cut, false, false, 16, truncated, truncated, 10},
      {"one byte appended", with(worked, {0}), false, false, 16, trailing, trailing, 10},
      {"header one too large", with({0x07, 0, 0, 0}, {0x07, 'A', 'B', 'C', 0xEE, 0xF3}), false,
       false, 16, truncated, truncated, 11},
      {"header one too small", with({0x05, 0, 0, 0}, {0x07, 'A', 'B', 'C', 0xEE, 0xF3}), false,
       false, 16, trailing, trailing, 9},
      {"high header byte", with({0x06, 0, 0, 1}, {0x07, 'A', 'B', 'C', 0xEE, 0xF3}), false, false,
       16, truncated, truncated, 0x100000Aull},
      {"largest header", with({0xFF, 0xFF, 0xFF, 0xFF}, {0x07, 'A', 'B', 'C', 0xEE, 0xF3}), false,
       false, 16, truncated, truncated, LZS_IMAGE_SIZE_MAX},
      {"back-reference without bytes", {1, 0, 0, 0, 0x00}, false, false, 16, noOutput, noOutput, 5},
      {"literal without byte", {1, 0, 0, 0, 0x01}, false, false, 16, noOutput, noOutput, 5},
      {"yields nothing, no room", {2, 0, 0, 0, 0x00, 0x42}, false, true, 0, noOutput, noOutput, 6},
      {"worked example", worked, false, false, 16, 9, 9, 10},
      {"worked example, exact room", worked, false, false, 9, 9, 9, 10},
      {"worked example, no room", worked, false, true, 0, Error(LZS_ERROR_DST_TOO_SMALL), 9, 10},
      {"null destination with a capacity", worked, false, true, 16, Error(LZS_ERROR_BAD_ARGUMENT),
       9, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const void* image = c.nullImage ? nullptr : c.image.data();
    const size_t imageSize = c.nullImage && c.image.empty() ? 0 : c.image.size();
    EXPECT_EQ(lzs_decode(c.nullDst ? nullptr : out, c.capacity, image, imageSize), c.decoded);
    EXPECT_EQ(lzs_decoded_size(image, imageSize), c.size);
    // lzs_image_info says the same, and what it learnt also after an error.
    lzs_info info = Spoiled();
    EXPECT_EQ(lzs_image_info(image, imageSize, &info), c.size);
    EXPECT_EQ(info.decodedSize, lzs_is_error(c.size) ? 0 : c.size);
    EXPECT_EQ(info.imageSize, c.headerSays);
    EXPECT_EQ(info.inputSize, imageSize);
    EXPECT_EQ(info.sizeLimit, 0u);
    EXPECT_EQ(info.limitName, nullptr);
    EXPECT_EQ(info.flags, 0u);
    // The header rule alone gives the errors that come from the header.
    const lzs_error error = lzs_get_error(c.size);
    const bool fromHeader = error == LZS_ERROR_NOT_AN_IMAGE || error == LZS_ERROR_TRUNCATED ||
                            error == LZS_ERROR_TRAILING_DATA || error == LZS_ERROR_BAD_ARGUMENT;
    lzs_info header = Spoiled();
    EXPECT_EQ(lzs_check_header(image, imageSize, &header), fromHeader ? c.size : 0);
    EXPECT_EQ(header.imageSize, c.headerSays);
    EXPECT_EQ(header.inputSize, imageSize);
  }
  // A file's size known before it is read, above what a size_t holds where
  // it has 32 bits.
  const Bytes head = {0x06, 0, 0, 0};
  lzs_info info{};
  EXPECT_EQ(lzs_check_header(head.data(), 10, &info), 0u);
  EXPECT_EQ(lzs_check_header(head.data(), 9, nullptr), truncated);
  EXPECT_EQ(lzs_check_header(head.data(), 1ull << 40, &info), trailing);
  EXPECT_EQ(info.inputSize, 1ull << 40);
  EXPECT_EQ(info.imageSize, 10u);

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
  // An image that yields nothing still tells of its cut-off last item.
  const Bytes bad = {0x02, 0, 0, 0, 0x00, 0x42};
  lzs_info info = Spoiled();
  EXPECT_EQ(lzs_image_info(bad.data(), bad.size(), &info), Error(LZS_ERROR_NO_OUTPUT));
  EXPECT_EQ(info.decodedSize, 0u);
  EXPECT_EQ(info.lastItemCut, 1);
  EXPECT_EQ(lzs_image_info(bad.data(), bad.size(), nullptr), Error(LZS_ERROR_BAD_ARGUMENT));
}

TEST(LzsImageLength, HeaderAgainstTheBufferEnd) {
  // The worked example (10 bytes), then bytes of something else.
  Bytes blob = testdata::WorkedExample;
  blob.insert(blob.end(), {0xFF, 0xFF, 0xFF, 0xFF});
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
      {&blob, 9, Error(LZS_ERROR_TRUNCATED)},
      {&blob, 3, Error(LZS_ERROR_NOT_AN_IMAGE)},
      {&empty, 4, 4},
      {&huge, huge.size(), Error(LZS_ERROR_TRUNCATED)},
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

// The largest image, 4 GiB + 3 bytes, in address space that is never
// touched but for its header and first items: its length comes from the
// header in full, and its decoding starts.
TEST(LzsImageLength, LargestImage) {
  GuardedBuffer largest(LZS_IMAGE_SIZE_MAX);
  std::uint8_t* const image = largest.data();
  std::memset(image, 0xFF, 6);  // the header, then a group of eight literals
  EXPECT_EQ(lzs_image_length(image, LZS_IMAGE_SIZE_MAX), LZS_IMAGE_SIZE_MAX);
  EXPECT_EQ(lzs_image_length(image, LZS_IMAGE_SIZE_MAX - 1), Error(LZS_ERROR_TRUNCATED));
  std::uint8_t out[4];
  EXPECT_EQ(lzs_decode(out, sizeof out, image, LZS_IMAGE_SIZE_MAX), Error(LZS_ERROR_DST_TOO_SMALL));
}

// Sizes as results where size_t has 32 bits: from the first error code up
// they are too large, never an error code or a wrapped size.
TEST(LzsSizes, ThirtyTwoBitResults) {
  const std::uint32_t tooLarge = lzs::Error<std::uint32_t>(LZS_ERROR_INPUT_TOO_LARGE);
  const std::uint32_t largest = 0xFFFFFFFF - LZS_ERROR_MAX_CODE;  // below the codes
  for (const auto& [size, result] : {std::pair<std::uint64_t, std::uint32_t>{0, 0},
                                     {largest, largest},
                                     {largest + 1, tooLarge},
                                     {0xFFFFFFFE, tooLarge},
                                     {0x100000002, tooLarge},
                                     {9 * 0xFFFFFFFFull, tooLarge}}) {
    EXPECT_EQ(lzs::SizeResult<std::uint32_t>(size), result) << size;
  }
  EXPECT_EQ(lzs::SizeResult(9 * 0xFFFFFFFFull), 9 * 0xFFFFFFFFull);
}

TEST(LzsErrors, CodesNamesAndSizes) {
  std::vector<std::string> names;
  std::vector<std::string> symbols;
  for (int code = LZS_ERROR_NOT_AN_IMAGE; code <= LZS_ERROR_MAX_CODE; ++code) {
    const size_t result = Error(static_cast<lzs_error>(code));
    EXPECT_EQ(lzs_is_error(result), 1u) << code;
    EXPECT_EQ(lzs_get_error(result), code);
    names.emplace_back(lzs_error_name(result));
    EXPECT_NE(names.back(), "unknown error") << code;
    EXPECT_NE(names.back(), "no error") << code;
    for (size_t k = 0; k + 1 < names.size(); ++k) EXPECT_NE(names[k], names.back()) << code;
    symbols.emplace_back(lzs_error_symbol(result));
  }
  // The symbols, as lzs.h's list names them.
  const std::vector<std::string> listed = {
#define LZS_LISTED(name, code, words, when) std::string("LZS_ERROR_" #name),
      LZS_ERRORS(LZS_LISTED)
#undef LZS_LISTED
  };
  EXPECT_EQ(symbols, listed);
  EXPECT_EQ(symbols[LZS_ERROR_TRAILING_DATA - 1], "LZS_ERROR_TRAILING_DATA");
  EXPECT_STREQ(lzs_error_symbol(0), "LZS_OK");
  EXPECT_STREQ(lzs_error_symbol(Error(static_cast<lzs_error>(LZS_ERROR_MAX_CODE + 1))), "LZS_OK");
  EXPECT_STREQ(lzs_version_string(), LZS_VERSION_STRING);
  for (const size_t size :
       {size_t{0}, size_t{1}, size_t{9}, size_t{1} << 40, Error(LZS_ERROR_MAX_CODE) - 1}) {
    EXPECT_EQ(lzs_is_error(size), 0u) << size;
    EXPECT_EQ(lzs_get_error(size), LZS_OK) << size;
    EXPECT_STREQ(lzs_error_name(size), "no error") << size;
  }
  EXPECT_STREQ(lzs_error_name(Error(static_cast<lzs_error>(LZS_ERROR_MAX_CODE + 1))), "no error");
}

// An allocator for lzs_decode_alloc that records what it is asked for, and
// gives NULL when told to.
struct Rooms {
  std::vector<size_t> asked;
  bool refuse = false;
  static void* Give(void* opaque, size_t size) {
    auto* rooms = static_cast<Rooms*>(opaque);
    rooms->asked.push_back(size);
    return rooms->refuse ? nullptr : std::malloc(size);
  }
};

// lzs_decode_alloc: the room it asks for, once, and its result, in each way
// (one pass into the bound's room, the scan first) and as the library
// chooses.
TEST(LzsDecodeAlloc, RoomAndResult) {
  const Bytes worked = testdata::WorkedExample;
  const Bytes cutLast = {0x04, 0, 0, 0, 0x03, 'A', 'B', 0x00};
  // All literals: a payload of 3,735,936 bytes (room above 32 MiB).
  Bytes large;
  for (int group = 0; group < 415104; ++group)
    large.insert(large.end(), {0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
  large = WithHeader(large);
  const size_t largeSize = size_t{415104} * 8;
  const size_t all = SIZE_MAX;
  struct Case {
    const char* name;
    const Bytes* image;
    size_t maxOutput;
    size_t result;
    std::vector<size_t> asked;  // as the library chooses
    int lastItemCut;
    bool refuse;
  };
  const Bytes cut(worked.begin(), worked.end() - 1);
  const Bytes noOutput = {0x01, 0, 0, 0, 0x00};
  const Case cases[] = {
      {"worked example", &worked, all, 9, {54}, 0, false},
      {"last item cut", &cutLast, all, 2, {36}, 1, false},
      {"limit at the size", &worked, 9, 9, {9}, 0, false},
      {"limit below the bound", &worked, 53, 9, {9}, 0, false},
      {"limit below the size", &worked, 8, Error(LZS_ERROR_INPUT_TOO_LARGE), {}, 0, false},
      {"limit 0", &worked, 0, Error(LZS_ERROR_INPUT_TOO_LARGE), {}, 0, false},
      {"cut short", &cut, all, Error(LZS_ERROR_TRUNCATED), {}, 0, false},
      {"yields nothing", &noOutput, all, Error(LZS_ERROR_NO_OUTPUT), {9}, 0, false},
      {"no memory", &worked, all, Error(LZS_ERROR_OUT_OF_MEMORY), {54}, 0, true},
      {"room above 32 MiB", &large, all, largeSize, {largeSize}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes expected = Reference(*c.image);
    // The library's choice, then each way.
    for (const size_t onePassRoomMax : {lzs::OnePassRoomMax, size_t{0}, all}) {
      Rooms rooms;
      rooms.refuse = c.refuse;
      void* output = &rooms;  // overwritten
      lzs_info info = Spoiled();
      const size_t n = lzs::DecodeAllocating(&output, c.image->data(), c.image->size(), c.maxOutput,
                                             Rooms::Give, &rooms, &info, onePassRoomMax);
      EXPECT_EQ(n, c.result) << onePassRoomMax;
      EXPECT_LE(rooms.asked.size(), 1u) << "asked once at most";
      if (onePassRoomMax == lzs::OnePassRoomMax) {
        EXPECT_EQ(rooms.asked, c.asked);
      }
      EXPECT_EQ(output != nullptr, !rooms.asked.empty() && !c.refuse);
      if (!lzs_is_error(n)) {
        EXPECT_EQ(Bytes(static_cast<std::uint8_t*>(output), static_cast<std::uint8_t*>(output) + n),
                  expected);
        EXPECT_EQ(info.decodedSize, n);
        EXPECT_EQ(info.lastItemCut, c.lastItemCut);
      }
      if (lzs_get_error(n) == LZS_ERROR_INPUT_TOO_LARGE) {
        EXPECT_EQ(info.decodedSize, expected.size());
        EXPECT_EQ(info.sizeLimit, c.maxOutput);
      }
      EXPECT_EQ(info.imageSize, lzs::ImageSize(lzs::ReadHeader(c.image->data())));
      EXPECT_EQ(info.inputSize, c.image->size());
      std::free(output);
    }
  }
  // malloc when no allocator is given; arguments.
  void* output = nullptr;
  EXPECT_EQ(lzs_decode_alloc(&output, worked.data(), worked.size(), all, nullptr, nullptr, nullptr),
            9u);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(std::memcmp(output, "ABCABCABC", 9), 0);
  std::free(output);
  EXPECT_EQ(lzs_decode_alloc(nullptr, worked.data(), worked.size(), all, nullptr, nullptr, nullptr),
            Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_decode_alloc(&output, nullptr, 10, all, nullptr, nullptr, nullptr),
            Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(output, nullptr);
}

// The words of a result with its sizes, as every face prints them.
TEST(LzsDescribe, Words) {
  const size_t truncated = Error(LZS_ERROR_TRUNCATED);
  const size_t trailing = Error(LZS_ERROR_TRAILING_DATA);
  const size_t tooLarge = Error(LZS_ERROR_INPUT_TOO_LARGE);
  auto sizes = [](unsigned long long imageSize, unsigned long long inputSize, unsigned flags = 0) {
    return lzs_info{0, 0, imageSize, inputSize, 0, nullptr, flags};
  };
  auto limit = [](size_t decodedSize, unsigned long long inputSize, unsigned long long sizeLimit,
                  const char* name, unsigned flags = 0) {
    return lzs_info{decodedSize, 0, 0, inputSize, sizeLimit, name, flags};
  };
  struct Case {
    size_t result;
    lzs_info info;
    const char* words;
  };
  const Case cases[] = {
      {truncated, sizes(10, 5),
       "cut short: the image is shorter than its header says (5 of 10 bytes)"},
      {truncated, sizes(0, 3), "cut short: the image is shorter than its header says"},
      // A header that promises more than 64 times the bytes there are: the
      // bytes are probably not an image. Both sides of the rule.
      {truncated, sizes(64ull * 3609, 3609),
       "cut short: the image is shorter than its header says (3,609 of 230,976 bytes)"},
      {truncated, sizes(64ull * 3609 + 1, 3609),
       "probably not an LZS image (its header promises 230,977 bytes; there are 3,609)"},
      {truncated, sizes(3364354902, 3609),
       "probably not an LZS image (its header promises 3,364,354,902 bytes; there are 3,609)"},
      {truncated, sizes(LZS_IMAGE_SIZE_MAX, 5),
       "probably not an LZS image (its header promises 4,294,967,299 bytes; there are 5)"},
      {truncated, sizes(64ull * 5, 5),
       "cut short: the image is shorter than its header says (5 of 320 bytes)"},
      {trailing, sizes(10004, 10010),
       "bytes after the end of the image (10,010 bytes; the image is 10,004)"},
      {trailing, sizes(10, 11, LZS_INFO_INPUT_PARTIAL),
       "bytes after the end of the image (at least 11 bytes; the image is 10)"},
      {trailing, sizes(0, 0), "bytes after the end of the image"},
      {Error(LZS_ERROR_NOT_AN_IMAGE), sizes(0, LZS_IMAGE_SIZE_MAX + 1),
       "not an LZS image: larger than the largest, 4,294,967,299 bytes"},
      {Error(LZS_ERROR_NOT_AN_IMAGE), sizes(4, 4), "not an LZS image"},
      {Error(LZS_ERROR_NO_OUTPUT), sizes(6, 6), "the image yields no byte"},
      {tooLarge, limit(200000, 0, 199999, "maxOutputSize"),
       "input too large: it would unpack to 200,000 bytes, above maxOutputSize (199,999)"},
      {tooLarge, limit(5000, 0, 4096, nullptr),
       "input too large: it would unpack to 5,000 bytes, above the limit (4,096)"},
      {tooLarge, limit(0, 2147483649, 2147483648, "the page's limit", LZS_INFO_INPUT_LIMIT),
       "input too large: 2,147,483,649 bytes, above the page's limit (2,147,483,648)"},
      {tooLarge, limit(0, 0, 0, nullptr), "input too large"},
      {Error(LZS_ERROR_EMPTY_INPUT), limit(0, 0, 0, nullptr, LZS_INFO_PACKING),
       "is empty; no LZS image holds zero bytes"},
      {tooLarge, limit(0, 0, 0, nullptr, LZS_INFO_PACKING),
       "is too large to pack: more than 2,147,483,648 bytes"},
      {Error(LZS_ERROR_OUT_OF_MEMORY), limit(0, 0, 0, nullptr, LZS_INFO_PACKING),
       "cannot pack: out of memory"},
      {9, sizes(10, 10), "no error"},
  };
  for (const Case& c : cases) {
    char buf[200];
    const size_t length = lzs_describe(c.result, &c.info, buf, sizeof buf);
    EXPECT_STREQ(buf, c.words);
    EXPECT_EQ(length, std::strlen(c.words)) << c.words;
  }
  // Without info, the error's name; as snprintf, cut to fit with its NUL.
  char buf[8];
  EXPECT_EQ(lzs_describe(truncated, nullptr, buf, sizeof buf),
            std::strlen(lzs_error_name(truncated)));
  EXPECT_STREQ(buf, "cut sho");
  const lzs_info info = sizes(10, 5);
  const std::string whole = "cut short: the image is shorter than its header says (5 of 10 bytes)";
  for (const size_t cap : {size_t{1}, whole.size(), whole.size() + 1}) {
    std::string out(cap, '#');
    EXPECT_EQ(lzs_describe(truncated, &info, out.data(), cap), whole.size());
    EXPECT_EQ(out.substr(0, out.find('\0')), whole.substr(0, cap - 1)) << cap;
  }
  EXPECT_EQ(lzs_describe(truncated, &info, nullptr, 0), whole.size());
  EXPECT_EQ(lzs_describe(truncated, &info, nullptr, 99), whole.size());
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
      // The image of each level: the optimal parse (lzs-pack's image) by
      // default, the fast one at LZS_LEVEL_FAST.
      const Bytes optimal = lzs::EncodeLzs(input.data(), input.size());
      const Bytes fast = lzs::LzsEncoder().Encode(input.data(), input.size(), lzs::Parse::Fast);
      EXPECT_LE(optimal.size(), fast.size());
      for (const int level : {LZS_LEVEL_DEFAULT, LZS_LEVEL_FAST, LZS_LEVEL_OPTIMAL}) {
        Bytes image(bound);
        const size_t n =
            lzs_encode_with(encoder, image.data(), image.size(), input.data(), input.size(), level);
        ASSERT_FALSE(lzs_is_error(n)) << lzs_error_name(n);
        ASSERT_LE(n, bound);
        image.resize(n);
        EXPECT_EQ(image, level == LZS_LEVEL_FAST ? fast : optimal) << "level " << level;
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
      {"null input, unknown level", 100, 64, Error(LZS_ERROR_BAD_ARGUMENT), 2, true},
      {"unknown level -1", 100, 64, Error(LZS_ERROR_BAD_LEVEL), -1, false},
      {"unknown level 2", 100, 64, Error(LZS_ERROR_BAD_LEVEL), 2, false},
      {"unknown level 8", 100, 64, Error(LZS_ERROR_BAD_LEVEL), 8, false},
      {"unknown level 10", 100, 64, Error(LZS_ERROR_BAD_LEVEL), 10, false},
      {"unknown level, empty input", 0, 64, Error(LZS_ERROR_BAD_LEVEL), 10, false},
      {"unknown level, no room", 100, 0, Error(LZS_ERROR_BAD_LEVEL), 8, false},
      {"unknown level, too large", LZS_ENCODE_SIZE_MAX + 1, 64, Error(LZS_ERROR_BAD_LEVEL), 2,
       false},
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
  const Bytes worked = testdata::WorkedExample;
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
       Error(LZS_ERROR_TRAILING_DATA),
       6,
       {'x'}},
      {"more input after the end", worked, Bytes{0x00}, 64, Error(LZS_ERROR_TRAILING_DATA), 0, {}},
      {"empty input after the end", worked, {}, 64, 0, 0, {}},
      // Their verdicts wait for the end of the input (lzs_dstream_end): more
      // input would make them bytes after the end.
      {"header of 0", {}, Bytes{0, 0, 0, 0}, 64, 0, 4, {}},
      {"no output", {}, Bytes{0x01, 0, 0, 0, 0x00}, 64, 0, 5, {}},
      {"header of 0, then more",
       Bytes{0, 0, 0, 0},
       Bytes{'x'},
       64,
       Error(LZS_ERROR_TRAILING_DATA),
       0,
       {}},
      {"error stays",
       Bytes{0x02, 0, 0, 0, 0x01, 'x', 'y'},
       Bytes{0x01},
       64,
       Error(LZS_ERROR_TRAILING_DATA),
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
  const Bytes worked = testdata::WorkedExample;
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
  // dst may border on src, never share a byte with it (decoding in place).
  Bytes block(32);
  std::memcpy(block.data() + 16, worked.data(), worked.size());
  for (const auto& [at, capacity, expected] :
       {std::tuple<size_t, size_t, size_t>{16, 16, bad}, {0, 17, bad}, {25, 7, bad}, {0, 16, 0}}) {
    srcPos = 0;
    dstPos = 0;
    EXPECT_EQ(lzs_decode_stream(ds, block.data() + at, capacity, &dstPos, block.data() + 16,
                                worked.size(), &srcPos),
              expected)
        << "dst at " << at << ", capacity " << capacity;
    lzs_dstream_reset(ds);
  }
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
              Error(LZS_ERROR_TRAILING_DATA));
    EXPECT_EQ(lzs_dstream_reset(ds), 0u);
  }
  EXPECT_EQ(lzs_dstream_reset(nullptr), bad);
  lzs_dstream_free(ds);
  lzs_dstream_free(nullptr);
}

// The verdict when the input ends, and what the stream saw, after the bytes
// given in one call with `room` bytes of output room.
TEST(LzsDecodeStream, EndInEachState) {
  const Bytes worked = testdata::WorkedExample;
  auto head = [&](size_t size) { return Bytes(worked.begin(), worked.begin() + size); };
  struct Case {
    const char* what;
    Bytes input;
    size_t room;
    size_t verdict;
    struct {
      size_t decodedSize;
      int lastItemCut;
      unsigned long long imageSize;
      unsigned long long inputSize;
    } info;  // what lzs_dstream_end fills in
  };
  const Case cases[] = {
      {"nothing given", {}, 64, Error(LZS_ERROR_NOT_AN_IMAGE), {0, 0, 0, 0}},
      {"mid-header", head(3), 64, Error(LZS_ERROR_NOT_AN_IMAGE), {0, 0, 0, 3}},
      {"header alone", head(4), 64, Error(LZS_ERROR_NOT_AN_IMAGE), {0, 0, 10, 4}},
      {"mid-payload", head(6), 64, Error(LZS_ERROR_TRUNCATED), {1, 0, 10, 6}},
      {"one byte into a back-reference", head(9), 64, Error(LZS_ERROR_TRUNCATED), {3, 1, 10, 9}},
      {"complete", worked, 64, 9, {9, 0, 10, 10}},
      {"image ends one byte into a back-reference",
       {3, 0, 0, 0, 0x01, 'x', 0x42},
       64,
       1,
       {1, 1, 7, 7}},
      {"input past the end",
       {2, 0, 0, 0, 1, 'x', 'y'},
       64,
       Error(LZS_ERROR_TRAILING_DATA),
       {1, 0, 6, 6}},
      {"output still waiting", worked, 4, Error(LZS_ERROR_DST_TOO_SMALL), {4, 0, 10, 10}},
      // Input not taken for want of room is output waiting too, whatever
      // the room was.
      {"literal waiting, no room", worked, 0, Error(LZS_ERROR_DST_TOO_SMALL), {0, 0, 10, 5}},
      {"literal waiting, room 1", worked, 1, Error(LZS_ERROR_DST_TOO_SMALL), {1, 0, 10, 6}},
      {"literal waiting, room 2", worked, 2, Error(LZS_ERROR_DST_TOO_SMALL), {2, 0, 10, 7}},
      {"copy waiting, room 3", worked, 3, Error(LZS_ERROR_DST_TOO_SMALL), {3, 0, 10, 10}},
      {"copy waiting, room 8", worked, 8, Error(LZS_ERROR_DST_TOO_SMALL), {8, 0, 10, 10}},
      {"room to spare, image cut", head(7), 2, Error(LZS_ERROR_TRUNCATED), {2, 0, 10, 7}},
      {"header of 0", {0, 0, 0, 0}, 64, Error(LZS_ERROR_NOT_AN_IMAGE), {0, 0, 4, 4}},
      {"header of 0, then a byte",
       {0, 0, 0, 0, 1},
       64,
       Error(LZS_ERROR_TRAILING_DATA),
       {0, 0, 4, 4}},
      {"no output", {1, 0, 0, 0, 0x00}, 64, Error(LZS_ERROR_NO_OUTPUT), {0, 0, 5, 5}},
      {"largest header",
       {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 'x'},
       64,
       Error(LZS_ERROR_TRUNCATED),
       {1, 0, LZS_IMAGE_SIZE_MAX, 6}},
  };
  lzs_dstream* ds = lzs_dstream_create();
  ASSERT_NE(ds, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lzs_dstream_reset(ds);
    Bytes out(64);
    size_t dstPos = 0;
    size_t srcPos = 0;
    lzs_decode_stream(ds, out.data(), c.room, &dstPos, c.input.data(), c.input.size(), &srcPos);
    for (int call = 0; call < 2; ++call) {  // the same answer twice
      lzs_info info = Spoiled();
      EXPECT_EQ(lzs_dstream_end(ds, &info), c.verdict);
      EXPECT_EQ(info.decodedSize, c.info.decodedSize);
      EXPECT_EQ(info.lastItemCut, c.info.lastItemCut);
      EXPECT_EQ(info.imageSize, c.info.imageSize);
      EXPECT_EQ(info.inputSize, c.info.inputSize);
    }
    EXPECT_EQ(lzs_dstream_end(ds, nullptr), c.verdict);
  }
  // Output waiting: given with more room, the image is whole.
  lzs_dstream_reset(ds);
  Bytes out(64);
  size_t dstPos = 0;
  size_t srcPos = 0;
  lzs_decode_stream(ds, out.data(), 4, &dstPos, worked.data(), worked.size(), &srcPos);
  lzs_decode_stream(ds, out.data(), out.size(), &dstPos, worked.data(), worked.size(), &srcPos);
  EXPECT_EQ(lzs_dstream_end(ds, nullptr), 9u);
  lzs_dstream_free(ds);
  EXPECT_EQ(lzs_dstream_end(nullptr, nullptr), Error(LZS_ERROR_BAD_ARGUMENT));
}

// The decoding loop of lzs.h's example, over `input` read in pieces that
// end at `cuts` (a read gives at least one byte until the input ends), with
// `room` bytes of output room: its output and verdict.
testdata::StreamResult ExampleLoop(const Bytes& input, const std::vector<size_t>& cuts,
                                   size_t room) {
  lzs_dstream* ds = lzs_dstream_create();
  Bytes dst(room);
  Bytes src;
  size_t srcPos = 0;
  size_t read = 0;  // bytes of input read so far
  size_t cut = 0;   // the next of `cuts`
  bool ended = false;
  testdata::StreamResult result;
  for (;;) {
    if (srcPos == src.size() && !ended) {
      while (cut < cuts.size() && cuts[cut] <= read) ++cut;
      const size_t to = cut < cuts.size() ? cuts[cut] : input.size();
      src.assign(input.begin() + static_cast<std::ptrdiff_t>(read),
                 input.begin() + static_cast<std::ptrdiff_t>(to));
      read = to;
      srcPos = 0;
      ended = src.empty();
    }
    size_t dstPos = 0;
    const size_t r =
        lzs_decode_stream(ds, dst.data(), room, &dstPos, src.data(), src.size(), &srcPos);
    result.output.insert(result.output.end(), dst.begin(),
                         dst.begin() + static_cast<std::ptrdiff_t>(dstPos));
    if (lzs_is_error(r) || (ended && dstPos < room)) break;
  }
  const size_t verdict = lzs_dstream_end(ds, nullptr);
  lzs_dstream_free(ds);
  result.code = lzs_is_error(verdict) ? verdict : 0;
  if (result.code != 0) result.output.clear();
  EXPECT_TRUE(lzs_is_error(verdict) || verdict == result.output.size());
  return result;
}

// A stream's verdict is lzs_decode's on the same bytes, wherever the reads
// split them and whatever the output room: also for the errors that more
// input turns into bytes after the end (a header of 0, an image that yields
// no byte), and for two images back to back.
TEST(LzsDecodeStream, VerdictWhateverTheSplitsAndRooms) {
  const Bytes worked = testdata::WorkedExample;
  auto join = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Bytes xyz{'x', 'y', 'z'};
  std::vector<Bytes> inputs = {
      {0, 0, 0, 0},
      join({0, 0, 0, 0}, xyz),
      {1, 0, 0, 0, 0x00},
      join({1, 0, 0, 0, 0x00}, xyz),
      join({2, 0, 0, 0, 0x00, 0x42}, xyz),
      {3, 0, 0, 0, 0x01, 'x', 0x42},
      join(worked, {0x00}),
      join(worked, worked),
      {0x07, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3},
      {0x06, 0, 0},
  };
  for (size_t size = 0; size <= worked.size(); ++size) {
    inputs.emplace_back(worked.begin(), worked.begin() + static_cast<std::ptrdiff_t>(size));
  }
  for (const Bytes& input : inputs) {
    const testdata::StreamResult expected = testdata::DecodeWhole(input);
    for (const size_t room : {1u, 2u, 3u, 8u, 64u}) {
      for (size_t first = 0; first <= input.size(); ++first) {
        for (size_t second = first; second <= input.size(); ++second) {
          const testdata::StreamResult actual = ExampleLoop(input, {first, second}, room);
          ASSERT_EQ(std::string(lzs_error_name(actual.code)), lzs_error_name(expected.code))
              << input.size() << " bytes, cut at " << first << " and " << second << ", room "
              << room;
          ASSERT_EQ(actual.output, expected.output) << input.size() << " bytes, cut at " << first
                                                    << " and " << second << ", room " << room;
        }
      }
    }
  }
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
