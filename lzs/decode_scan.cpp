// The size scan's whole groups: the output size of the groups of a payload
// from their flag bytes and copy lengths alone, writing nothing.
//
// One group after another, the scan is a chain: the next group starts where
// the flag byte of this one says (1 + 16 - its literals), so each step waits
// for the load of the last one. A long payload is therefore scanned by
// several chains at once, each from the start of its own segment:
//
//  - the first chain starts at a group; every other one starts at a byte
//    that may lie inside a group, and so walks groups that may not be the
//    payload's. Such a walk soon meets the payload's own groups (a few
//    dozen groups at most on real images) and follows them from there on;
//  - each chain but the first notes where its first groups start and the
//    size it had reached there;
//  - at the end, the chain before it goes on group by group from where it
//    stopped until it reaches one of those noted starts, and takes the
//    later chain's size from there. Where it meets none of them (a payload
//    made so that the walks never meet), it walks the later chain's whole
//    segment itself: the result is always that of one chain from the
//    start.

#include <array>
#include <cstddef>
#include <cstdint>

#include "lzs/decode.hpp"
#include "lzs/decode_groups.hpp"
#include "lzs/format.hpp"

namespace lzs {

namespace {

// Per flag byte: the group's size in bytes, its output from literals and the
// MinCopy of each back-reference, and a mask over the 16 bytes after the flag
// byte that keeps the length nibble of each back-reference's b1 (no group is
// longer than MaxGroupSize = 17 bytes, so these cover every item).
struct GroupShape {
  std::uint8_t lengthMask[16];
  std::uint8_t size;
  std::uint8_t fixedOutput;
};
constexpr std::array<GroupShape, 256> MakeGroupShapes() {
  std::array<GroupShape, 256> shapes{};
  for (std::uint32_t flags = 0; flags < 256; ++flags) {
    GroupShape& shape = shapes[flags];
    std::uint32_t offset = 1;
    std::uint32_t output = 0;
    for (std::uint32_t item = 0; item < 8; ++item) {
      const bool literal = (flags >> item & 1) != 0;
      // b1 is the group's byte offset + 1: byte `offset` of those after the flags.
      if (!literal) shape.lengthMask[offset] = 0x0F;
      output += literal ? 1 : MinCopy;
      offset += literal ? 1 : 2;
    }
    shape.size = static_cast<std::uint8_t>(offset);
    shape.fixedOutput = static_cast<std::uint8_t>(output);
  }
  return shapes;
}
constexpr std::array<GroupShape, 256> GroupShapes = MakeGroupShapes();

// The sum of the bytes of a word whose bytes are at most 30 each.
inline std::uint32_t ByteSum(std::uint64_t word) {
  return static_cast<std::uint32_t>((word * 0x0101010101010101ULL) >> 56);
}

// One chain: where its next group starts, and the output of its groups so far.
struct Chain {
  const std::uint8_t* at;
  std::uint64_t size;

  // Takes the group at `at`, which must have MaxGroupSize bytes before the end.
  [[gnu::always_inline]] void Step() {
    const GroupShape& shape = GroupShapes[*at];
    std::uint64_t bytes[2];
    std::uint64_t masks[2];
    __builtin_memcpy(bytes, at + 1, sizeof bytes);
    __builtin_memcpy(masks, shape.lengthMask, sizeof masks);
    // Each byte of the sum holds at most two nibbles of 15.
    size += shape.fixedOutput + ByteSum((bytes[0] & masks[0]) + (bytes[1] & masks[1]));
    at += shape.size;
  }
  // Takes groups while they start before `limit`.
  void RunTo(const std::uint8_t* limit) {
    while (at < limit) Step();
  }
};

// How many chains a long payload is scanned by, from how long a payload on
// (below it, one chain), and how many group starts each chain but the first
// notes (offsets from its segment's start, and its size there: both fit 16
// bits, 128 groups being at most 128 * MaxGroupSize bytes and
// 128 * 8 * MaxCopy bytes of output).
constexpr int Chains = 4;
constexpr std::size_t ChainsFrom = std::size_t{64} << 10;
constexpr int Noted = 128;

struct Notes {
  std::uint16_t offset[Noted];
  std::uint16_t size[Noted];

  // Notes where `chain`, which started at `start`, is now.
  void Note(int n, const Chain& chain, const std::uint8_t* start) {
    offset[n] = static_cast<std::uint16_t>(chain.at - start);
    size[n] = static_cast<std::uint16_t>(chain.size);
  }
};

}  // namespace

std::uint64_t ScanGroups(const std::uint8_t*& in, const std::uint8_t* inEnd) {
  if (static_cast<std::size_t>(inEnd - in) < MaxGroupSize) return 0;
  // Groups start before `stop`.
  const std::uint8_t* const stop = inEnd - MaxGroupSize + 1;
  if (static_cast<std::size_t>(inEnd - in) < ChainsFrom) {
    Chain chain{in, 0};
    chain.RunTo(stop);
    in = chain.at;
    return chain.size;
  }

  // Chain j takes the groups that start in [start[j], start[j + 1]). The
  // chains are named one by one, so that each lives in registers.
  const std::size_t segment = static_cast<std::size_t>(stop - in) / Chains;
  const std::uint8_t* const start[Chains + 1] = {in, in + segment, in + 2 * segment,
                                                 in + 3 * segment, stop};
  Chain c0{start[0], 0};
  Chain c1{start[1], 0};
  Chain c2{start[2], 0};
  Chain c3{start[3], 0};
  // The first Noted groups of every chain (a segment holds many more), noted
  // for all but the first chain.
  Notes notes[Chains];
  for (int n = 0; n < Noted; ++n) {
    c0.Step();
    notes[1].Note(n, c1, start[1]);
    c1.Step();
    notes[2].Note(n, c2, start[2]);
    c2.Step();
    notes[3].Note(n, c3, start[3]);
    c3.Step();
  }
  // The chains side by side while each is inside its segment, then each to
  // its segment's end.
  while (c0.at < start[1] && c1.at < start[2] && c2.at < start[3] && c3.at < start[4]) {
    c0.Step();
    c1.Step();
    c2.Step();
    c3.Step();
  }
  c0.RunTo(start[1]);
  c1.RunTo(start[2]);
  c2.RunTo(start[3]);
  c3.RunTo(start[4]);
  const Chain chains[Chains] = {c0, c1, c2, c3};

  // The first chain carries the payload's own groups into each later
  // segment, until it meets a group start the later chain noted.
  Chain whole = chains[0];
  for (int j = 1; j < Chains; ++j) {
    const Notes& noted = notes[j];
    int n = 0;
    for (;;) {
      const auto offset = static_cast<std::size_t>(whole.at - start[j]);
      while (n < Noted && noted.offset[n] < offset) ++n;
      if (n == Noted || whole.at >= start[j + 1]) {
        whole.RunTo(start[j + 1]);  // met none: this segment is the first chain's too
        break;
      }
      if (noted.offset[n] == offset) {
        whole.size += chains[j].size - noted.size[n];
        whole.at = chains[j].at;
        break;
      }
      whole.Step();
    }
  }
  in = whole.at;
  return whole.size;
}

}  // namespace lzs
