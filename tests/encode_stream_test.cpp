// The streaming encoder (lzs_encode_stream) and segments (lzs_encode_segment)
// against lzs_encode: the same image for every split of the input, any
// output room, any number of threads; its errors; and its memory on inputs
// that keep the optimal parse undecided for long.
#include "lzs/encode_stream.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "tests/support/images.hpp"
#include "tests/support/stream_encode.hpp"

namespace {

using lzs::Error;
using testdata::Bytes;
using testdata::Words;

constexpr int Levels[] = {LZS_LEVEL_FAST, LZS_LEVEL_OPTIMAL};

Bytes OneShot(const Bytes& input, int level) {
  size_t n = 0;
  Bytes image = testdata::Encoded(input, level, &n);
  EXPECT_FALSE(lzs_is_error(n)) << lzs_error_name(n);
  return image;
}

// The image through cs as testdata::PackInPieces gives it; the stream
// wrote zeros where the header goes.
Bytes Streamed(lzs_cstream* cs, const Bytes& input, int level, const std::vector<size_t>& cuts,
               size_t room) {
  const testdata::Packed packed = testdata::PackInPieces(cs, input, level, cuts, room);
  EXPECT_EQ(packed.result, 0u) << lzs_error_name(packed.result);
  return packed.image;
}

Bytes Random(size_t size, std::uint32_t alphabet, std::uint32_t seed) {
  std::mt19937 random(seed);
  return testdata::RandomBytes(random, size, alphabet);
}

// `period` random bytes, repeated to `size`.
Bytes Periodic(size_t size, size_t period, std::uint32_t seed) {
  const Bytes unit = Random(period, 256, seed);
  Bytes out(size);
  for (size_t k = 0; k < size; ++k) out[k] = unit[k % period];
  return out;
}

// Pieces of text, zeros, a period of 17 and random bytes, one after another:
// each changes how far behind the optimal parse decides.
Bytes Mixed(size_t size, std::uint32_t seed) {
  return testdata::Pieces(size, seed, [](std::mt19937& random) {
    const size_t n = 1 + random() % 30000;
    switch (random() % 4) {
      case 0: return Words(n, random());
      case 1: return Bytes(n, 0);
      case 2: return Periodic(n, 17, random());
      default: return Random(n, 256, random());
    }
  });
}

// Short inputs cut at every position, and in pieces of one byte with one
// byte of room; inputs longer than the stream's buffers (its text buffer,
// the fast level's block, the output stage) in pieces and room of odd sizes.
TEST(EncodeStream, AnySplitGivesTheImageOfLzsEncode) {
  struct Case {
    Bytes input;
    bool everyCut;
  };
  const Case cases[] = {
      {Words(600, 1), true},        {Bytes(300, 0), true},        {Random(400, 3, 2), true},
      {Periodic(500, 17, 3), true}, {Bytes{'x'}, true},           {Mixed(700, 4), true},
      {Mixed(3'500'000, 5), false}, {Words(2'200'000, 6), false}, {Bytes(1'300'000, 0), false}};
  lzs_cstream* cs = lzs_cstream_create();
  ASSERT_NE(cs, nullptr);
  for (const Case& c : cases) {
    const Bytes& input = c.input;
    for (const int level : Levels) {
      SCOPED_TRACE("input " + std::to_string(&c - cases) + ", level " + std::to_string(level));
      const Bytes expected = OneShot(input, level);
      if (c.everyCut) {
        for (size_t cut = 0; cut <= input.size(); ++cut) {
          ASSERT_EQ(Streamed(cs, input, level, {cut}, lzs_cstream_out_size()), expected)
              << "cut at " << cut;
        }
        std::vector<size_t> everyByte(input.size());
        for (size_t k = 0; k < input.size(); ++k) everyByte[k] = k;
        EXPECT_EQ(Streamed(cs, input, level, everyByte, 1), expected);
        EXPECT_EQ(Streamed(cs, input, level, {}, 1), expected);
      } else {
        std::vector<size_t> cuts;
        for (size_t at = 100'003; at < input.size(); at += 100'003 + at % 7919) cuts.push_back(at);
        EXPECT_EQ(Streamed(cs, input, level, cuts, 65'537), expected);
        EXPECT_EQ(Streamed(cs, input, level, {}, 4093), expected);
      }
    }
  }
  lzs_cstream_free(cs);
}

TEST(EncodeStream, Errors) {
  lzs_cstream* cs = lzs_cstream_create();
  ASSERT_NE(cs, nullptr);
  const Bytes input = Words(5000, 7);
  Bytes out(100);
  size_t dstPos = 0;
  size_t srcPos = 0;
  const std::uint8_t* src = input.data();
  const size_t n = input.size();
  auto call = [&](lzs_cstream_op op) {
    return lzs_encode_stream(cs, out.data(), out.size(), &dstPos, src, n, &srcPos, op);
  };
  // Arguments that change nothing in the stream.
  EXPECT_EQ(
      lzs_encode_stream(nullptr, out.data(), 1, &dstPos, src, n, &srcPos, LZS_CSTREAM_CONTINUE),
      Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_encode_stream(cs, out.data(), 1, nullptr, src, n, &srcPos, LZS_CSTREAM_CONTINUE),
            Error(LZS_ERROR_BAD_ARGUMENT));
  dstPos = 2;
  EXPECT_EQ(lzs_encode_stream(cs, out.data(), 1, &dstPos, src, n, &srcPos, LZS_CSTREAM_CONTINUE),
            Error(LZS_ERROR_BAD_ARGUMENT));
  dstPos = 0;
  srcPos = n + 1;
  EXPECT_EQ(call(LZS_CSTREAM_CONTINUE), Error(LZS_ERROR_BAD_ARGUMENT));
  srcPos = 0;
  Bytes shared = input;
  EXPECT_EQ(lzs_encode_stream(cs, shared.data() + 10, 20, &dstPos, shared.data(), n, &srcPos,
                              LZS_CSTREAM_CONTINUE),
            Error(LZS_ERROR_BAD_ARGUMENT));  // overlap
  EXPECT_EQ(call(static_cast<lzs_cstream_op>(2)), Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_cstream_reset(cs, 5), Error(LZS_ERROR_BAD_LEVEL));
  EXPECT_EQ(lzs_cstream_reset(nullptr, 1), Error(LZS_ERROR_BAD_ARGUMENT));
  std::uint8_t header[LZS_HEADER_SIZE];
  EXPECT_EQ(lzs_cstream_header(cs, header), Error(LZS_ERROR_BAD_ARGUMENT));  // not yet complete

  // No input at all: empty.
  for (const int level : Levels) {
    ASSERT_EQ(lzs_cstream_reset(cs, level), 0u);
    size_t none = 0;
    EXPECT_EQ(
        lzs_encode_stream(cs, out.data(), out.size(), &dstPos, nullptr, 0, &none, LZS_CSTREAM_END),
        Error(LZS_ERROR_EMPTY_INPUT));
    // The error stays until a reset.
    EXPECT_EQ(call(LZS_CSTREAM_CONTINUE), Error(LZS_ERROR_EMPTY_INPUT));
  }
  // Input after the end.
  const Bytes image = Streamed(cs, input, LZS_LEVEL_FAST, {}, out.size());
  EXPECT_EQ(image, OneShot(input, LZS_LEVEL_FAST));
  size_t again = 0;
  EXPECT_EQ(lzs_encode_stream(cs, out.data(), out.size(), &dstPos, src, n, &again, LZS_CSTREAM_END),
            Error(LZS_ERROR_BAD_ARGUMENT));
  lzs_cstream_free(cs);
  lzs_cstream_free(nullptr);
}

// The image of input packed through segments of chunkSize bytes, parsed by
// `threads` threads and taken in order. A segment reads LZS_SEGMENT_AFTER
// bytes past its chunk, so a shorter tail goes with the chunk before it.
Bytes Segmented(const Bytes& input, int level, size_t chunkSize, size_t threads) {
  size_t chunks = std::max<size_t>(1, (input.size() + chunkSize - 1) / chunkSize);
  if (chunks > 1 && input.size() - (chunks - 1) * chunkSize < LZS_SEGMENT_AFTER) --chunks;
  std::vector<lzs_segment*> segments(chunks);
  for (auto& segment : segments) segment = lzs_segment_create();
  std::vector<size_t> results(chunks);
  std::vector<std::thread> workers;
  for (size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (size_t k = t; k < chunks; k += threads) {
        const size_t offset = k * chunkSize;
        const size_t size = k + 1 == chunks ? input.size() - offset : chunkSize;
        results[k] = lzs_segment_parse(segments[k], level, input.data() + offset, size, offset,
                                       k + 1 == chunks);
      }
    });
  }
  for (auto& worker : workers) worker.join();
  lzs_cstream* cs = lzs_cstream_create();
  EXPECT_EQ(lzs_cstream_reset(cs, level), 0u);
  Bytes image;
  Bytes out(70'001);
  for (size_t k = 0; k < chunks; ++k) {
    EXPECT_EQ(results[k], 0u) << lzs_error_name(results[k]);
    const size_t result = testdata::TakeSegment(cs, segments[k], out, image);
    EXPECT_EQ(result, 0u) << lzs_error_name(result);
  }
  const size_t result = testdata::EndImage(cs, out, image);
  EXPECT_EQ(result, 0u) << lzs_error_name(result);
  lzs_cstream_free(cs);
  for (auto* segment : segments) lzs_segment_free(segment);
  return image;
}

// Random bytes, and across the end of the first segment's chunk ten bytes
// that occur twice in the window before, followed once by the bytes that
// follow them across the end and once by others: a match there must not
// look past the end, where one thread and many see different bytes.
Bytes MatchAcrossTheEnd(size_t size) {
  Bytes out = Random(size, 256, 18);
  const Bytes tail = Random(10, 256, 19);
  const Bytes after = Random(18, 256, 20);
  auto put = [&](size_t at, const Bytes& part) {
    std::copy(part.begin(), part.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  };
  constexpr size_t End = LZS_SEGMENT_SIZE;
  put(End - 2000, tail);
  put(End - 1990, after);
  put(End - 1000, tail);
  put(End - 10, tail);
  put(End, after);
  return out;
}

// Sizes at and around the edges of chunks and of the window: the image is
// the same for any number of threads.
TEST(EncodeSegments, ThreadCountDoesNotChangeTheImage) {
  constexpr size_t S = LZS_SEGMENT_SIZE;
  struct Case {
    size_t size;
    size_t chunk;
    bool acrossTheEnd;  // else Mixed
  };
  const Case cases[] = {{1, S, false},          {17, S, false},
                        {18, S, false},         {4096, S, false},
                        {S - 1, S, false},      {S, S, false},
                        {S + 1, S, false},      {S + 18, S, false},
                        {S + 4095, S, false},   {2 * S + 5, S, false},
                        {3 * S - 17, S, false}, {3 * S + 1, 2 * S, false},
                        {S + 100, S, true},     {2 * S + 100, 2 * S, true}};
  const Bytes all = Mixed(3 * S + 18, 8);
  for (const Case& c : cases) {
    const Bytes input = c.acrossTheEnd
                            ? MatchAcrossTheEnd(c.size)
                            : Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(c.size));
    for (const int level : Levels) {
      SCOPED_TRACE("size " + std::to_string(c.size) + ", chunk " + std::to_string(c.chunk) +
                   ", level " + std::to_string(level));
      const Bytes expected = OneShot(input, level);
      for (const size_t threads : {1, 2, 3}) {
        EXPECT_EQ(Segmented(input, level, c.chunk, threads), expected) << threads << " threads";
      }
    }
  }
}

TEST(EncodeSegments, Errors) {
  constexpr size_t S = LZS_SEGMENT_SIZE;
  const Bytes input = Words(2 * S + 100, 9);
  lzs_segment* seg = lzs_segment_create();
  ASSERT_NE(seg, nullptr);
  struct Row {
    const char* name;
    size_t size;
    unsigned long long offset;
    size_t expected;
    int level;
    int last;
  };
  const Row rows[] = {
      {"unknown level", S, 0, Error(LZS_ERROR_BAD_LEVEL), 4, 0},
      {"empty chunk", 0, 0, Error(LZS_ERROR_BAD_ARGUMENT), 1, 1},
      {"offset inside a segment", 100, 4096, Error(LZS_ERROR_BAD_ARGUMENT), 1, 1},
      {"short chunk that is not the last", S - 1, 0, Error(LZS_ERROR_BAD_ARGUMENT), 9, 0},
      {"short last chunk", 100, S, 0, 9, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(lzs_segment_parse(seg, row.level, input.data() + row.offset, row.size, row.offset,
                                row.last),
              row.expected)
        << row.name;
  }
  EXPECT_EQ(lzs_segment_parse(nullptr, 1, input.data(), S, 0, 0), Error(LZS_ERROR_BAD_ARGUMENT));

  // Taken out of order, at another level, or after the last: the stream fails.
  lzs_cstream* cs = lzs_cstream_create();
  ASSERT_NE(cs, nullptr);
  Bytes out(1 << 20);
  auto take = [&](lzs_segment* segment) {
    size_t dstPos = 0;
    return lzs_encode_segment(cs, segment, out.data(), out.size(), &dstPos);
  };
  ASSERT_EQ(lzs_segment_parse(seg, 9, input.data() + S, S, S, 0), 0u);
  ASSERT_EQ(lzs_cstream_reset(cs, 9), 0u);
  EXPECT_EQ(take(seg), Error(LZS_ERROR_BAD_ARGUMENT));  // not the first chunk
  ASSERT_EQ(lzs_segment_parse(seg, 1, input.data(), S, 0, 0), 0u);
  ASSERT_EQ(lzs_cstream_reset(cs, 9), 0u);
  EXPECT_EQ(take(seg), Error(LZS_ERROR_BAD_ARGUMENT));  // another level
  ASSERT_EQ(lzs_segment_parse(seg, 9, input.data(), 100, 0, 1), 0u);
  ASSERT_EQ(lzs_cstream_reset(cs, 9), 0u);
  EXPECT_EQ(take(seg), 0u);
  EXPECT_EQ(take(seg), 0u);  // again: nothing more to write
  ASSERT_EQ(lzs_segment_parse(seg, 9, input.data() + S, 100, S, 1), 0u);
  EXPECT_EQ(take(seg), Error(LZS_ERROR_BAD_ARGUMENT));  // after the last
  // Plain input after segments, and an end before the last segment.
  ASSERT_EQ(lzs_cstream_reset(cs, 1), 0u);
  ASSERT_EQ(lzs_segment_parse(seg, 1, input.data(), S, 0, 0), 0u);
  EXPECT_EQ(take(seg), 0u);
  size_t dstPos = 0;
  size_t srcPos = 0;
  EXPECT_EQ(lzs_encode_stream(cs, out.data(), out.size(), &dstPos, input.data(), 10, &srcPos,
                              LZS_CSTREAM_END),
            Error(LZS_ERROR_BAD_ARGUMENT));
  ASSERT_EQ(lzs_cstream_reset(cs, 1), 0u);
  EXPECT_EQ(take(seg), 0u);
  size_t none = 0;
  EXPECT_EQ(
      lzs_encode_stream(cs, out.data(), out.size(), &dstPos, nullptr, 0, &none, LZS_CSTREAM_END),
      Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(take(nullptr), Error(LZS_ERROR_BAD_ARGUMENT));
  lzs_cstream_free(cs);
  lzs_segment_free(seg);
  lzs_segment_free(nullptr);
}

// The optimal parse's memory while streaming inputs whose parse stays
// undecided for long: long runs, no matches, periods of 17 bytes and of a
// whole window, and all of them in turn. It stays within a bound, far below
// the input's size.
TEST(EncodeStream, OptimalMemoryStaysBoundedOnRepeats) {
  constexpr size_t Size = 24u << 20;
  struct Case {
    const char* name;
    Bytes input;
  };
  const Case cases[] = {{"zeros", Bytes(Size, 0)},
                        {"random", Random(Size, 256, 10)},
                        {"period 17", Periodic(Size, 17, 11)},
                        {"period 4095", Periodic(Size, 4095, 12)},
                        {"period 5", Periodic(Size, 5, 13)},
                        {"mixed", Mixed(Size, 14)}};
  lzs::StreamEncoder stream;
  Bytes out(lzs_cstream_out_size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(stream.Reset(lzs::Parse::Optimal, LZS_CSTREAM_MEMORY_DEFAULT));
    size_t most = 0;
    size_t srcPos = 0;
    lzs::EncodeStatus status = lzs::EncodeStatus::Working;
    while (status == lzs::EncodeStatus::Working) {
      size_t dstPos = 0;
      const size_t piece = std::min(c.input.size(), srcPos + (1u << 20));
      status = stream.Encode(c.input.data(), piece, &srcPos, out.data(), out.size(), &dstPos,
                             piece == c.input.size());
      most = std::max(most, stream.Bytes());
    }
    EXPECT_EQ(status, lzs::EncodeStatus::Done);
    EXPECT_LT(most, size_t{4} << 20);
  }
}

// Blocks A and B of 1000 bytes that begin alike, in an order with no run of
// more than three: every 18 bytes come back within a window, so every
// position has a match of 18 and the optimal parse's chains run apart, but
// the order repeats nothing. Past its memory limit the stream says so;
// lzs_encode, which has none, packs it.
TEST(EncodeStream, MemoryLimitOnInputBuiltToKeepTheParseOpen) {
  const Bytes a = Random(1000, 256, 15);
  Bytes b = Random(1000, 256, 16);
  std::copy(a.begin(), a.begin() + 40, b.begin());
  std::mt19937 random(17);
  Bytes input;
  int run = 0;
  bool lastA = true;
  while (input.size() < (6u << 20)) {
    bool useA = random() % 2 == 0;
    if (run == 3 && useA == lastA) useA = !useA;
    run = useA == lastA ? run + 1 : 1;
    lastA = useA;
    const Bytes& block = useA ? a : b;
    input.insert(input.end(), block.begin(), block.end());
  }
  lzs_cstream* cs = lzs_cstream_create();
  ASSERT_NE(cs, nullptr);
  ASSERT_EQ(lzs_cstream_set_memory_limit(cs, size_t{1} << 20), 0u);
  ASSERT_EQ(lzs_cstream_reset(cs, LZS_LEVEL_OPTIMAL), 0u);
  Bytes out(lzs_cstream_out_size());
  size_t srcPos = 0;
  size_t result = 0;
  do {
    size_t dstPos = 0;
    result = lzs_encode_stream(cs, out.data(), out.size(), &dstPos, input.data(), input.size(),
                               &srcPos, LZS_CSTREAM_END);
  } while (result != 0 && !lzs_is_error(result));
  EXPECT_EQ(result, Error(LZS_ERROR_OUT_OF_MEMORY));
  // With no limit, the stream's image is lzs_encode's.
  ASSERT_EQ(lzs_cstream_set_memory_limit(cs, 0), 0u);
  EXPECT_EQ(Streamed(cs, input, LZS_LEVEL_OPTIMAL, {}, lzs_cstream_out_size()),
            OneShot(input, LZS_LEVEL_OPTIMAL));
  lzs_cstream_free(cs);
}

}  // namespace
