// The item walk: what it reports of each item and where it stops, whole and
// in pieces, and that a decoder built on it gives the reference decoder's
// output.

#include "lzs/walk.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"

namespace {

using testdata::Bytes;

struct Walked {
  std::vector<lzs::Item> items;
  lzs::WalkStop stop = lzs::WalkStop::End;
  std::uint64_t offset = 0;  // payload bytes taken
};

// Walks a payload given in pieces of `piece` bytes (0: whole); the visitor
// refuses every item once before taking it when `refuseFirst`, so that each
// item is read twice.
Walked Walk(const Bytes& payload, size_t piece = 0, bool refuseFirst = false) {
  Walked walked;
  lzs::WalkState state;
  size_t at = 0;
  bool refused = false;
  for (;;) {
    const size_t size = piece == 0 ? payload.size() - at : std::min(piece, payload.size() - at);
    const std::uint8_t* in = payload.data() + at;
    const std::uint8_t* const first = in;
    const bool ends = at + size == payload.size();
    walked.stop = lzs::WalkItems(in, in + size, ends, state, [&](const lzs::Item& item) {
      if (refuseFirst && !refused) {
        refused = true;
        return lzs::WalkStep::Refuse;
      }
      refused = false;
      walked.items.push_back(item);
      return lzs::WalkStep::Next;
    });
    at += static_cast<size_t>(in - first);
    if (walked.stop != lzs::WalkStop::NeedInput && walked.stop != lzs::WalkStop::Visitor) break;
  }
  walked.offset = state.offset;
  EXPECT_EQ(walked.offset, at);
  return walked;
}

std::string Describe(const lzs::Item& item) {
  return (item.reference ? "ref " : "lit ") + std::to_string(item.offset) + "@" +
         std::to_string(item.output) + " len " + std::to_string(item.length) + " dist " +
         std::to_string(item.distance) + (item.ReadsZeros() ? " zeros" : "") +
         (item.groupEnds ? " end" : "");
}

std::vector<std::string> Describe(const Walked& walked) {
  std::vector<std::string> lines;
  for (const lzs::Item& item : walked.items) lines.push_back(Describe(item));
  return lines;
}

TEST(Walk, ItemsAndStops) {
  using lzs::WalkStop;
  struct Case {
    const char* name;
    Bytes payload;
    std::vector<std::string> items;
    WalkStop stop;
  };
  const Case cases[] = {
      {"worked example",
       Bytes(testdata::WorkedExample.begin() + lzs::HeaderSize, testdata::WorkedExample.end()),
       {"lit 1@0 len 1 dist 0", "lit 2@1 len 1 dist 0", "lit 3@2 len 1 dist 0",
        "ref 4@3 len 6 dist 3"},
       WalkStop::End},
      {"empty payload", {}, {}, WalkStop::End},
      {"flag byte alone", {0xFF}, {}, WalkStop::End},
      {"literal flag without its byte", {0x03, 'x'}, {"lit 1@0 len 1 dist 0"}, WalkStop::End},
      {"one byte of a back-reference", {0x01, 'x', 0x42}, {"lit 1@0 len 1 dist 0"}, WalkStop::Cut},
      {"one byte of the first item", {0x00, 0x42}, {}, WalkStop::Cut},
      // Window position 0xFEE at output 0 reads 0 bytes back: zeros.
      {"distance 0 at the start",
       {0x00, 0xEE, 0xF0},
       {"ref 1@0 len 3 dist 0 zeros"},
       WalkStop::End},
      // Position 0xFED at output 1 reads 2 bytes back, before the start.
      {"before the start",
       {0x01, 'q', 0xED, 0xF2},
       {"lit 1@0 len 1 dist 0", "ref 2@1 len 5 dist 2 zeros"},
       WalkStop::End},
      {"a whole group, then the next",
       {0xFF, '0', '1', '2', '3', '4', '5', '6', '7', 0x01, '8'},
       {"lit 1@0 len 1 dist 0", "lit 2@1 len 1 dist 0", "lit 3@2 len 1 dist 0",
        "lit 4@3 len 1 dist 0", "lit 5@4 len 1 dist 0", "lit 6@5 len 1 dist 0",
        "lit 7@6 len 1 dist 0", "lit 8@7 len 1 dist 0 end", "lit 10@8 len 1 dist 0"},
       WalkStop::End},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Walked whole = Walk(c.payload);
    EXPECT_EQ(Describe(whole), c.items);
    EXPECT_EQ(whole.stop, c.stop);
    EXPECT_EQ(whole.offset, c.payload.size());
    // The same items and stop in pieces of every size, and with each item
    // refused once before it is taken.
    for (size_t piece = 1; piece <= c.payload.size(); ++piece) {
      for (const bool refuse : {false, true}) {
        const Walked split = Walk(c.payload, piece, refuse);
        EXPECT_EQ(Describe(split), c.items) << "pieces of " << piece << ", refusing " << refuse;
        EXPECT_EQ(split.stop, c.stop) << "pieces of " << piece << ", refusing " << refuse;
      }
    }
  }
}

// Bytes that end before the payload does: the walk waits for more, also
// between the two bytes of a back-reference, and keeps nothing it did not
// report.
TEST(Walk, WaitsForInput) {
  const Bytes payload = {0x09, 'A', 0x10, 0x20, 0x11, 0x21, 'B'};
  for (size_t size = 0; size < payload.size(); ++size) {
    lzs::WalkState state;
    const std::uint8_t* in = payload.data();
    size_t reported = 0;
    EXPECT_EQ(lzs::WalkItems(in, payload.data() + size, false, state,
                             [&](const lzs::Item&) {
                               ++reported;
                               return lzs::WalkStep::Next;
                             }),
              lzs::WalkStop::NeedInput)
        << size;
    EXPECT_EQ(in, payload.data() + size) << "every byte given is taken";
    EXPECT_EQ(state.haveFirst, size == 3 || size == 5) << size;
    EXPECT_EQ(reported, std::vector<size_t>({0, 0, 1, 1, 2, 2, 3})[size]) << size;
  }
}

// A decoder on the walk gives the reference decoder's output on random
// payloads, and ReadsZeros marks exactly the back-references that read a
// zero before the start of the output or at distance 0.
TEST(Walk, DecodesLikeTheReference) {
  std::mt19937 rng(37);
  for (int round = 0; round < 300; ++round) {
    Bytes payload(rng() % 3000);
    for (auto& byte : payload) byte = static_cast<std::uint8_t>(rng() % (round % 3 == 0 ? 4 : 256));
    const Bytes image = testdata::WithHeader(payload);
    Bytes expected(9 * payload.size() + 1);
    expected.resize(DecodeLzsReference(image.data(), static_cast<std::uint32_t>(image.size()),
                                       expected.data()));
    Bytes output;
    const Walked walked = Walk(payload, 1 + rng() % 40);
    for (const lzs::Item& item : walked.items) {
      ASSERT_EQ(item.output, output.size());
      bool zero = false;
      for (std::uint32_t n = 0; n < item.length; ++n) {
        const std::uint64_t at = output.size();
        if (!item.reference) {
          output.push_back(item.literal);
        } else if (item.distance == 0 || item.distance > at) {
          output.push_back(0);
          zero = true;
        } else {
          output.push_back(output[at - item.distance]);
        }
      }
      ASSERT_EQ(item.ReadsZeros(), zero) << Describe(item);
    }
    ASSERT_EQ(output, expected) << "round " << round;
  }
}

}  // namespace
