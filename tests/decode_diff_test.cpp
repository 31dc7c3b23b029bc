// The fast DecodeLzs, on every path this processor runs, against the plain
// reference decoder: same length, same bytes, on random images and on images
// built to hit every edge of the fast paths. The image ends right before an
// inaccessible page and so does the output area (exactly 9 x payload length
// bytes), so any read past the image or write past the area faults. The
// bounded lzs_decode is held to the same result at every capacity near the
// decoded length, also with its destination against a guard page.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"
#include "lzs/decode.hpp"
#include "lzs/decode_paths.hpp"
#include "lzs/encode.hpp"
#include "tests/guarded_buffer.hpp"
#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"
#include "tests/support/stream_decode.hpp"

namespace {

using testdata::Bytes;
using testdata::PayloadBuilder;
using testdata::WithHeader;

using Decoder = std::uint32_t (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*);

// Decodes with the image and the output area each against a guard page; the
// area is first filled with `fill`, so a decoder that reads bytes it has not
// written gives a result that depends on the fill.
Bytes DecodeGuarded(Decoder decode, const Bytes& image, std::uint8_t fill) {
  GuardedBuffer in(image.size());
  if (!image.empty()) std::memcpy(in.data(), image.data(), image.size());
  const std::size_t areaSize =
      image.size() > lzs::HeaderSize ? lzs::MaxExpansion * (image.size() - lzs::HeaderSize) : 0;
  GuardedBuffer out(areaSize);
  out.Fill(fill);
  const std::uint32_t n = decode(in.data(), static_cast<std::uint32_t>(image.size()), out.data());
  EXPECT_LE(n, areaSize);
  return Bytes(out.data(), out.data() + n);
}

using testdata::DecodeStream;
using testdata::DecodeWhole;
using testdata::StreamResult;

void ExpectStreamEqual(const StreamResult& actual, const StreamResult& expected,
                       const std::string& what) {
  ASSERT_EQ(lzs_error_name(actual.code), std::string(lzs_error_name(expected.code))) << what;
  ASSERT_EQ(actual.output.size(), expected.output.size()) << what;
  ASSERT_TRUE(actual.output == expected.output) << what;
}

// The streaming decoder against lzs_decode: for a small image every cut
// into two pieces and one byte at a time into one byte of room; for a large
// one random pieces and room, and 64 KiB pieces.
void ExpectStreamLikeOneShot(const Bytes& image, const std::string& what) {
  const StreamResult expected = DecodeWhole(image);
  if (image.size() <= 64) {
    for (size_t cut = 0; cut <= image.size(); ++cut) {
      ExpectStreamEqual(DecodeStream(image, {cut, image.size()}, 200), expected,
                        what + ", cut at " + std::to_string(cut));
    }
    ExpectStreamEqual(DecodeStream(image, {1}, 1), expected, what + ", byte by byte");
    return;
  }
  std::mt19937 rng(static_cast<std::uint32_t>(image.size()));
  for (int run = 0; run < 3; ++run) {
    std::vector<size_t> pieces(7);
    for (auto& piece : pieces) piece = 1 + rng() % (run == 0 ? 40 : 5000);
    const size_t room = 1 + rng() % (run == 0 ? 20 : 9000);
    ExpectStreamEqual(DecodeStream(image, pieces, room), expected,
                      what + ", random pieces, room " + std::to_string(room));
  }
  ExpectStreamEqual(DecodeStream(image, {65536}, 65536), expected, what + ", 64 KiB pieces");
  ExpectStreamEqual(DecodeStream(image, {65536}, 9000, {0, 1, 4095, 7000, 12345}), expected,
                    what + ", 64 KiB pieces, room from offsets into the destination");
}

// The paths of the fast decoder this processor runs.
std::vector<int> AvailablePaths() {
  std::vector<int> paths;
  for (int path = 0; path < lzs::DecodePathCount(); ++path) {
    if (lzs::DecodePathAvailable(path)) paths.push_back(path);
  }
  return paths;
}

// Makes decoding take one path for as long as it lives, then the one before.
class PathScope {
 public:
  explicit PathScope(int path) : before_(lzs::CurrentDecodePath()) {
    EXPECT_TRUE(lzs::ForceDecodePath(path)) << lzs::DecodePathName(path);
  }
  ~PathScope() { lzs::ForceDecodePath(before_); }
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;

 private:
  int before_;
};

// lzs_decode into the last `capacity` bytes of `out`, which end at a guard
// page: the error, or the decoded bytes.
StreamResult DecodeBoundedGuarded(GuardedBuffer& in, std::size_t imageSize, GuardedBuffer& out,
                                  std::size_t capacity) {
  std::uint8_t* dst = out.data() + (out.size() - capacity);
  StreamResult result;
  result.code = lzs_decode(dst, capacity, in.data(), imageSize);
  if (!lzs_is_error(result.code)) result.output.assign(dst, dst + result.code);
  return result;
}

// Capacities of the bounded call worth trying for a decoded length n: every
// one from n - 2 * FastOutputMargin - 2 to n + 1 for a short output, where
// the fast loop hands over to the exact one; a few around n for a long one.
std::vector<std::size_t> CapacitiesAround(std::size_t n) {
  constexpr std::size_t Margin = 2 * (7 * lzs::MaxCopy + 32) + 2;
  std::vector<std::size_t> capacities;
  const std::size_t low = n > Margin ? n - Margin : 0;
  const std::size_t step = n <= 20000 ? 1 : 37;
  for (std::size_t c = low; c < n; c += step) capacities.push_back(c);
  for (const std::size_t c : {std::size_t{0}, n > 0 ? n - 1 : 0, n, n + 1, n + 200})
    capacities.push_back(c);
  return capacities;
}

void ExpectBoundedLikeReference(const Bytes& image, const Bytes& expected,
                                const std::string& what) {
  const bool rejected = expected.empty();
  const std::vector<std::size_t> capacities = CapacitiesAround(expected.size());
  GuardedBuffer in(image.size());
  if (!image.empty()) std::memcpy(in.data(), image.data(), image.size());
  GuardedBuffer out(*std::max_element(capacities.begin(), capacities.end()));
  out.Fill(0xC3);
  for (const std::size_t capacity : capacities) {
    const StreamResult result = DecodeBoundedGuarded(in, image.size(), out, capacity);
    const std::string where = what + ", capacity " + std::to_string(capacity);
    if (rejected) {
      ASSERT_TRUE(lzs_is_error(result.code)) << where;
      ASSERT_NE(lzs_get_error(result.code), LZS_ERROR_DST_TOO_SMALL) << where;
    } else if (capacity < expected.size()) {
      ASSERT_EQ(lzs_get_error(result.code), LZS_ERROR_DST_TOO_SMALL)
          << where << ": " << lzs_error_name(result.code);
    } else {
      ASSERT_EQ(result.code, expected.size()) << where;
      ASSERT_TRUE(result.output == expected) << where;
    }
  }
}

// The size scan must count what the reference decoder writes for the
// payload behind a correct header, reading the payload alone (it ends at a
// guard page).
void ExpectScanLikeReference(const Bytes& payload, const std::string& what) {
  const std::size_t expected = DecodeGuarded(DecodeLzsReference, WithHeader(payload), 0x00).size();
  GuardedBuffer in(payload.size());
  if (!payload.empty()) std::memcpy(in.data(), payload.data(), payload.size());
  EXPECT_EQ(lzs::DecodedLzsSize(in.data(), payload.size()), expected) << what << ", size scan";
}

// Every path of the fast decoder must give the reference's result whatever
// the area held, and so must lzs_decode at every capacity near the end; so
// must the streaming decoder, in any pieces, and the size scan.
void ExpectSameAsReference(const Bytes& image, const std::string& what) {
  const Bytes expected = DecodeGuarded(DecodeLzsReference, image, 0x00);
  if (image.size() > lzs::HeaderSize &&
      lzs::ReadHeader(image.data()) == image.size() - lzs::HeaderSize)
    ExpectScanLikeReference(Bytes(image.begin() + lzs::HeaderSize, image.end()), what);
  for (const int path : AvailablePaths()) {
    const PathScope scope(path);
    const std::string on = what + ", path " + lzs::DecodePathName(path);
    ExpectStreamLikeOneShot(image, on);
    for (const std::uint8_t fill : {0x00, 0xFF, 0x5A}) {
      const Bytes actual = DecodeGuarded(lzs::DecodeLzs, image, fill);
      ASSERT_EQ(actual.size(), expected.size()) << on << ", fill " << int{fill};
      ASSERT_TRUE(actual == expected)
          << on << ", fill " << int{fill} << ", first difference at "
          << (std::mismatch(actual.begin(), actual.end(), expected.begin()).first - actual.begin());
    }
    ExpectBoundedLikeReference(image, expected, on);
  }
}

TEST(DecodeDiff, RandomBytesWithHeader) {
  std::mt19937 rng(20090205);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 1; n <= 400; ++n) lengths.push_back(n);
  for (const std::size_t n : {1000, 4095, 4096, 4097, 10000, 65536, 300000}) lengths.push_back(n);
  for (const std::size_t length : lengths) {
    for (int round = 0; round < 3; ++round) {
      Bytes payload(length);
      for (auto& byte : payload) byte = static_cast<std::uint8_t>(rng());
      ExpectSameAsReference(WithHeader(payload), "random payload of " + std::to_string(length));
    }
  }
}

// Random items with short distances and every length, so overlapping and
// non-overlapping copies, zero fills and literal runs meet in every order.
TEST(DecodeDiff, RandomItems) {
  std::mt19937 rng(4078);
  for (int round = 0; round < 400; ++round) {
    PayloadBuilder builder;
    const std::uint32_t items = rng() % 3000;
    const std::uint32_t literalShare = rng() % 101;  // percent
    const std::uint32_t maxDistance = std::uint32_t{1} << (rng() % 13);
    for (std::uint32_t n = 0; n < items; ++n) {
      if (rng() % 100 < literalShare) {
        builder.Literal(static_cast<std::uint8_t>(rng()));
      } else {
        builder.Reference(rng() % maxDistance, lzs::MinCopy + rng() % 16);
      }
    }
    if (rng() % 2) builder.Raw(static_cast<std::uint8_t>(rng()));  // maybe a lone trailing byte
    ExpectSameAsReference(builder.Image(), "random items, round " + std::to_string(round));
  }
}

// Every distance 1..18 with every length 3..18, in the fast loop (more items
// follow, enough for the group loop: within the first window and past it,
// where the path's own loop runs) and as the last item of the payload.
TEST(DecodeDiff, OverlapsOfEveryDistanceAndLength) {
  for (const std::uint32_t before : {20u, 5000u}) {
    for (std::uint32_t distance = 1; distance <= lzs::MaxCopy; ++distance) {
      for (std::uint32_t length = lzs::MinCopy; length <= lzs::MaxCopy; ++length) {
        for (const std::uint32_t tail : {0u, 1u, 100u}) {
          PayloadBuilder builder;
          builder.Literals(before).Reference(distance, length).Literals(tail, 'A');
          ExpectSameAsReference(builder.Image(), std::to_string(before) + " literals, distance " +
                                                     std::to_string(distance) + ", length " +
                                                     std::to_string(length) + ", tail " +
                                                     std::to_string(tail));
        }
      }
    }
  }
}

// Distance 0 writes zeros, also far past the first window of output, where
// a ring buffer would still hold older bytes.
TEST(DecodeDiff, DistanceZeroPastTheWindow) {
  for (const std::uint32_t before : {0u, 1u, 4095u, 4096u, 4097u, 5000u}) {
    for (std::uint32_t length = lzs::MinCopy; length <= lzs::MaxCopy; ++length) {
      PayloadBuilder builder;
      builder.Literals(before, 1).Reference(0, length).Literals(30, 'z').Reference(0, length);
      ExpectSameAsReference(builder.Image(), "distance 0 after " + std::to_string(before) +
                                                 ", length " + std::to_string(length));
    }
  }
}

// Sources that start before the first output byte: zeros, then bytes of the
// same copy; also the largest distances once enough output exists.
TEST(DecodeDiff, SourcesStraddlingTheStart) {
  for (std::uint32_t before = 0; before <= 20; ++before) {
    for (const std::uint32_t distance : {1u, 2u, 5u, 17u, 18u, 19u, 100u, 4095u}) {
      for (std::uint32_t length = lzs::MinCopy; length <= lzs::MaxCopy; ++length) {
        PayloadBuilder builder;
        builder.Literals(before, 'k')
            .Reference(distance, length)
            .Literals(30)
            .Reference(distance, length);
        ExpectSameAsReference(builder.Image(), "before " + std::to_string(before) + ", distance " +
                                                   std::to_string(distance) + ", length " +
                                                   std::to_string(length));
      }
    }
  }
  PayloadBuilder far;
  far.Literals(5000, 3);
  for (std::uint32_t distance = 4080; distance < lzs::WindowSize; ++distance)
    far.Reference(distance, 18);
  ExpectSameAsReference(far.Image(), "distances up to 4095 after 5000 bytes");
}

// The end of the payload at every offset of a group: a back-reference that
// uses the last two bytes (remaining flag bits 1 or 0), a lone trailing byte,
// a literal wanted with nothing left, and literal runs of every length that
// cross from the fast loop into the exact one.
TEST(DecodeDiff, EndsOfThePayload) {
  for (std::uint32_t lead = 0; lead < 80; ++lead) {
    for (const std::uint8_t unused : {0x00, 0xFF}) {
      PayloadBuilder endsWithReference;
      endsWithReference.Literals(lead).Reference(3, 18).UnusedFlags(unused);
      ExpectSameAsReference(endsWithReference.Image(),
                            "reference at the end after " + std::to_string(lead));

      PayloadBuilder loneByte;
      loneByte.Literals(lead).Reference(2, 9).UnusedFlags(unused).Raw(0x42);
      ExpectSameAsReference(loneByte.Image(), "lone byte after " + std::to_string(lead));
    }
    Bytes literalsOnly;
    for (std::uint32_t n = 0; n < lead + 1; ++n)
      literalsOnly.push_back(n % 9 == 0 ? 0xFF : static_cast<std::uint8_t>(n));
    ExpectSameAsReference(WithHeader(literalsOnly),
                          "all-literal payload of " + std::to_string(lead + 1));
  }
}

// Payloads of back-references only, of the longest length: the output comes
// closest to the end of the area here.
TEST(DecodeDiff, LongestCopiesNearTheEndOfTheArea) {
  for (std::uint32_t references = 1; references <= 120; ++references) {
    for (const std::uint32_t distance : {0u, 1u, 7u, 16u, 18u}) {
      PayloadBuilder builder;
      for (std::uint32_t n = 0; n < references; ++n) builder.Reference(distance, lzs::MaxCopy);
      ExpectSameAsReference(
          builder.Image(),
          std::to_string(references) + " references of distance " + std::to_string(distance));
    }
  }
}

// The streaming decoder's whole-group path, at the edges of the room it
// needs: output room and input pieces a byte short of a group's wide copies,
// just enough and more, so that groups start near the end of either, and
// back-references that reach from one call's output into the bytes of the
// calls before it, whole or in part.
TEST(DecodeDiff, StreamGroupsAtTheEdgesOfRoomAndPieces) {
  std::mt19937 rng(65536);
  PayloadBuilder builder;
  builder.Literals(300);
  for (int n = 0; n < 30000; ++n) {
    const std::uint32_t kind = rng() % 8;
    if (kind < 3) {
      builder.Literal(static_cast<std::uint8_t>(rng()));
    } else {
      const std::uint32_t distance = kind == 3   ? rng() % 8
                                     : kind == 4 ? rng() % 40
                                                 : rng() % lzs::WindowSize;
      builder.Reference(distance, lzs::MinCopy + rng() % 16);
    }
  }
  const Bytes image = builder.Image();
  const StreamResult expected = DecodeWhole(image);
  ASSERT_GT(expected.output.size(), size_t{200000});
  struct Split {
    std::vector<size_t> pieces;
    size_t room;
    std::vector<size_t> offsets = {0};  // where the room starts in the destination
  };
  const std::vector<Split> splits = {
      {{65536}, 157},
      {{65536}, 158},
      {{65536}, 159},
      {{65536}, 4096 + 157},
      {{65536}, 4096 + 159},
      {{65536}, 4096 + 4000},
      {{65536}, 65536},
      {{47}, 65536},
      {{48}, 65536},
      {{49}, 65536},
      {{50, 17, 3000}, 65536},
      {{1 << 20}, 1 << 20},
      {{1 << 20}, 4096 * 3 + 1},
      {{300, 7}, 5000},
      {{65536}, 65536, {4000}},
      {{65536}, 65536, {1, 4095, 4096, 9000}},
      {{65536}, 4096 + 159, {2048, 0}},
      {{1 << 20}, 1 << 20, {3000}},
  };
  for (const int path : AvailablePaths()) {
    const PathScope scope(path);
    for (const Split& split : splits) {
      ExpectStreamEqual(DecodeStream(image, split.pieces, split.room, split.offsets), expected,
                        std::string("path ") + lzs::DecodePathName(path) + ", pieces of " +
                            std::to_string(split.pieces[0]) + ", room " +
                            std::to_string(split.room) + " from " +
                            std::to_string(split.offsets[0]));
    }
  }
}

// Within a call, the streaming decoder hands its groups to the one-shot
// decoder's fast loop once the call's output holds a whole window, with
// FastInputMargin payload bytes left in the piece and room for a group's
// wide stores. The images start with `lead` literals (the handover then
// falls on a known group), then items reaching back up to a whole window.
// Each row puts the handover's conditions just short of, at or just past
// their bounds in the first call: the room past the window, and the bytes
// of the first piece past the literals' payload (of lead + lead / 8 bytes,
// rounded up, plus the header); later calls then meet them at other points.
TEST(DecodeDiff, StreamHandsOverToTheFastLoop) {
  constexpr size_t Window = lzs::WindowSize;
  constexpr size_t Stores = 7 * lzs::MaxCopy + 32;  // a group's wide stores
  constexpr size_t Margin = 17 + 32;                // a group and a literal's wide load
  struct Row {
    size_t room;
    long pieceAfterLead;  // 0: the whole image in one piece
    std::uint32_t lead;
    bool longest = false;  // after the literals only longest copies, 144 bytes a group
  };
  const Row rows[] = {
      {Window + Stores - 1, 0, 4096},
      {Window + Stores, 0, 4096},
      {Window + Stores + 1, 0, 4096},
      {Window + 4 * Stores, 0, 4096},
      {Window + Stores, 0, 4095},
      {Window + Stores + 8, 0, 4097},
      {Window + Stores, 0, 4088},
      {Window + Stores + 8, 0, 4104},
      {65536, Margin - 1, 4096},
      {65536, Margin, 4096},
      {65536, Margin + 1, 4096},
      {65536, Margin + 17, 4096},
      {65536, -1, 4096},
      {65536, Margin, 4095},
      {65536, Margin, 4097},
      {2 * Window - 1, 0, 4096},
      {3 * Window + 1, Margin, 4096},
      {65536, 0, 4096},
      // The second group past the window stores up to the room's last byte.
      {Window + Stores + 143, 0, 4096, true},
      {Window + Stores + 144, 0, 4096, true},
      {Window + Stores + 145, 0, 4096, true},
      {65536, Margin, 4096, true},
  };
  for (const Row& row : rows) {
    std::mt19937 rng(row.lead);
    PayloadBuilder builder;
    builder.Literals(row.lead);
    for (int n = 0; n < 12000; ++n) {
      const std::uint32_t kind = rng() % 8;
      if (row.longest) {
        builder.Reference(100 + rng() % 3000, lzs::MaxCopy);
      } else if (kind < 3) {
        builder.Literal(static_cast<std::uint8_t>(rng()));
      } else {
        const std::uint32_t distance = kind == 3 ? rng() % 20 : lzs::WindowSize - 1 - rng() % 300;
        builder.Reference(distance, lzs::MinCopy + rng() % 16);
      }
    }
    const Bytes image = builder.Image();
    const StreamResult expected = DecodeWhole(image);
    const size_t leadBytes = lzs::HeaderSize + row.lead + (row.lead + 7) / 8;
    const size_t piece = row.pieceAfterLead == 0
                             ? image.size()
                             : leadBytes + static_cast<size_t>(row.pieceAfterLead);
    for (const int path : AvailablePaths()) {
      const PathScope scope(path);
      ExpectStreamEqual(DecodeStream(image, {piece}, row.room), expected,
                        std::string("path ") + lzs::DecodePathName(path) + ", lead " +
                            std::to_string(row.lead) + ", room " + std::to_string(row.room) +
                            ", pieces of " + std::to_string(piece) +
                            (row.longest ? ", longest copies" : ""));
    }
  }
}

// Images built for the group loops' fast paths and their edges, each as a
// row: every distance of the window, with every length in turn, past the
// first window and across the start of the output; runs of all-literal
// groups between copies and at the end, cut or whole; and long runs of
// longest copies at distance 1 (runs of one byte), alone or between other
// items, so that groups of every shape meet them.
TEST(DecodeDiff, CraftedImages) {
  std::mt19937 rng(4095);
  const struct {
    const char* name;
    std::function<void(PayloadBuilder&)> build;
  } rows[] = {
      {"every distance past the first window",
       [](PayloadBuilder& b) {
         b.Literals(5000, 3);
         for (std::uint32_t d = 0; d < lzs::WindowSize; ++d)
           b.Reference(d, lzs::MinCopy + d % 16).Literals(d % 3, 'q');
       }},
      {"every distance, longest copies, back to back",
       [](PayloadBuilder& b) {
         b.Literals(4200, 9);
         for (std::uint32_t d = lzs::WindowSize; d-- > 0;) b.Reference(d, lzs::MaxCopy);
       }},
      {"every distance across the start of the output",
       [](PayloadBuilder& b) {
         for (std::uint32_t d = 0; d < lzs::WindowSize; d += 7)
           b.Literal(static_cast<std::uint8_t>(d)).Reference(d, lzs::MinCopy + d % 16);
       }},
      {"sources about the output's first byte at every offset of the first window",
       [](PayloadBuilder& b) {
         std::uint32_t written = 0;
         while (written < lzs::WindowSize + 100) {
           for (const std::uint32_t past : {0u, 1u, 17u}) {
             b.Reference(written + past, lzs::MaxCopy);
             written += lzs::MaxCopy;
           }
           b.Literal('w');
           ++written;
         }
       }},
      {"all-literal groups between copies",
       [&](PayloadBuilder& b) {
         b.Literals(4100, 1);
         for (int run = 0; run < 60; ++run) {
           b.Literals(8 * (rng() % 20) + rng() % 3, 'L');
           for (std::uint32_t n = rng() % 6; n > 0; --n)
             b.Reference(1 + rng() % 4000, 3 + rng() % 16);
         }
       }},
      {"all-literal groups to the end, the last one cut",
       [](PayloadBuilder& b) { b.Literals(6003, 5); }},
      {"longest copies at distance 1",
       [](PayloadBuilder& b) {
         b.Literal(' ');
         for (int n = 0; n < 20000; ++n) b.Reference(1, lzs::MaxCopy);
       }},
      {"runs of longest copies at distance 1 between other items",
       [&](PayloadBuilder& b) {
         b.Literals(4500, 2);
         for (int run = 0; run < 400; ++run) {
           b.Literal(static_cast<std::uint8_t>(rng()));
           for (std::uint32_t n = rng() % 30; n > 0; --n) b.Reference(1, lzs::MaxCopy);
           for (std::uint32_t n = rng() % 5; n > 0; --n) b.Reference(rng() % 40, 3 + rng() % 16);
         }
       }},
      {"short distances of every length, many to a group",
       [&](PayloadBuilder& b) {
         b.Literals(4500, 4);
         for (int n = 0; n < 30000; ++n) {
           if (rng() % 4 == 0) b.Literal(static_cast<std::uint8_t>(rng()));
           else b.Reference(rng() % 70, 3 + rng() % 16);
         }
       }},
  };
  for (const auto& row : rows) {
    for (const std::uint8_t end : {0x00, 0x01}) {
      PayloadBuilder builder;
      row.build(builder);
      if (end != 0) builder.UnusedFlags(0xFF).Raw(0x42);  // ends in a cut item
      ExpectSameAsReference(builder.Image(), std::string(row.name) + (end != 0 ? ", cut" : ""));
    }
  }
}

// Long payloads are scanned by several chains at once, each from the start
// of its own segment, which may fall inside a group: the chains must be
// joined where they meet the payload's own groups, and a segment whose chain
// never meets them must be scanned again. Zeros (every group 17 bytes) and
// 0xFF bytes (every group 9) are payloads whose chains never meet; rare
// breaks in them make the chains meet late or at once.
TEST(DecodeDiff, SizeScanChains) {
  std::mt19937 rng(17);
  auto random = [&](std::size_t size) {
    Bytes out(size);
    for (auto& byte : out) byte = static_cast<std::uint8_t>(rng());
    return out;
  };
  auto breaks = [](Bytes bytes, std::size_t every, std::uint8_t with) {
    for (std::size_t k = every; k < bytes.size(); k += every) bytes[k] = with;
    return bytes;
  };
  const struct {
    const char* name;
    Bytes payload;
  } rows[] = {
      {"random, one byte short of several chains", random((64 << 10) - 1)},
      {"random, just enough for several chains", random(64 << 10)},
      {"random, 1 MB", random(1 << 20)},
      {"zeros", Bytes(100000, 0x00)},
      {"0xFF bytes", Bytes(100001, 0xFF)},
      {"zeros with a literal group now and then", breaks(Bytes(200000, 0x00), 4000, 0xFF)},
      {"0xFF bytes with a copy group now and then", breaks(Bytes(200000, 0xFF), 2500, 0x00)},
      {"zeros with a random byte every 17", breaks(Bytes(150000, 0x00), 17, 0x5A)},
  };
  for (const auto& row : rows) {
    ExpectScanLikeReference(row.payload, row.name);
    for (std::size_t cut = 1; cut <= 20; ++cut) {
      ExpectScanLikeReference(Bytes(row.payload.begin(), row.payload.end() - cut),
                              std::string(row.name) + ", cut by " + std::to_string(cut));
    }
  }
}

TEST(DecodeDiff, RejectedImages) {
  for (const Bytes& image : {Bytes{}, Bytes{0x01}, Bytes{0, 0, 0, 0}, Bytes{0x01, 0, 0, 0, 0x00},
                             Bytes{0x02, 0, 0, 0, 0xFF}, Bytes{0x00, 0, 0, 0, 0xFF}}) {
    EXPECT_EQ(DecodeGuarded(lzs::DecodeLzs, image, 0).size(), 0u);
    ExpectSameAsReference(image, "rejected image of " + std::to_string(image.size()) + " bytes");
  }
}

// Images made by the encoder, optimal and greedy, of inputs like those of the
// round-trip tests: they must also decode back to their input.
TEST(DecodeDiff, EncodedImages) {
  std::mt19937 rng(5);
  auto random = [&](std::size_t size, std::uint32_t alphabet) {
    Bytes out(size);
    for (auto& byte : out) byte = static_cast<std::uint8_t>(rng() % alphabet);
    return out;
  };
  auto runs = [&](std::size_t size) {
    Bytes out;
    while (out.size() < size)
      out.insert(out.end(), 1 + rng() % 40, static_cast<std::uint8_t>(rng() % 4));
    out.resize(size);
    return out;
  };
  auto words = [&](std::size_t size, std::size_t zeros) {
    static const char* const list[] = {"the ",   "LZS ", "window ", "of ", "and ",
                                       "file, ", "a ",   "byte. ",  "\n"};
    Bytes out(std::min(size, zeros), 0);
    while (out.size() < size) {
      const char* word = list[rng() % 9];
      out.insert(out.end(), word, word + std::strlen(word));
    }
    out.resize(size);
    return out;
  };
  std::vector<std::size_t> sizes;
  for (std::size_t n = 0; n <= 60; ++n) sizes.push_back(n);
  for (const std::size_t n : {4095, 4096, 4097, 4114, 8192, 20000, 100000}) sizes.push_back(n);
  lzs::LzsEncoder encoder;
  for (const std::size_t size : sizes) {
    const Bytes inputs[] = {random(size, 256), random(size, 3), runs(size),       words(size, 0),
                            words(size, 30),   Bytes(size, 0),  Bytes(size, 0xFF)};
    for (const Bytes& input : inputs) {
      for (const lzs::Parse parse : {lzs::Parse::Optimal, lzs::Parse::Greedy, lzs::Parse::Fast}) {
        const std::string what = "size " + std::to_string(size) + ", input " +
                                 std::to_string(&input - inputs) + ", parse " +
                                 std::to_string(static_cast<int>(parse));
        const Bytes image = encoder.Encode(input.data(), input.size(), parse);
        ExpectSameAsReference(image, what);
        EXPECT_TRUE(DecodeGuarded(lzs::DecodeLzs, image, 0x77) == input) << what;
      }
    }
  }
}

}  // namespace

// The streaming decoder on the decoding fuzz targets' seeds, each taken as
// an image as it is and as a payload behind a correct header.
TEST(DecodeDiff, StreamOnTheFuzzCorpus) {
  int files = 0;
  for (const char* target : {"fuzz_decode", "fuzz_decode_stream"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(LZS_FUZZ_CORPUS_DIR) / target)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ExpectStreamLikeOneShot(bytes, entry.path().string());
      ExpectStreamLikeOneShot(WithHeader(bytes), entry.path().string() + " as a payload");
      ++files;
    }
  }
  EXPECT_GE(files, 8);
}
