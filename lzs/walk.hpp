// The item walk: the decoder's exact loop, item by item as the format reads,
// handing each item to a visitor instead of writing it. Everything that must
// read items one at a time goes through it: the last groups of lzs_decode
// and of the size scan, the streaming decoder's items, and whatever looks
// inside an image (its items, where they read, where decoding stops).
//
// A payload is groups of one flag byte and eight items, the flag's bits
// taken from the lowest: 1 for a literal (one byte, copied), 0 for a
// back-reference (two bytes, b0 b1: a window position and a copy length;
// see format.hpp). The payload may end anywhere: after a flag byte, before
// an item's first byte (decoding stops there), or one byte into a
// back-reference (that byte is dropped: the item is cut off).
//
// A walk can stop anywhere between items (the bytes given ran out before the
// payload did, or the visitor asked to stop) and go on later from its
// WalkState with the next bytes, even between the two bytes of a
// back-reference.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lzs/format.hpp"

namespace lzs {

// One item, as decoding reads it.
struct Item {
  std::uint64_t offset;    // payload offset of its first byte
  std::uint64_t output;    // output index of its first byte
  std::uint32_t length;    // the output bytes it gives: 1 for a literal, MinCopy to MaxCopy
  std::uint32_t distance;  // a back-reference's: how many bytes back it reads (ItemDistance)
  std::uint8_t literal;    // a literal's byte
  bool reference;          // a back-reference, else a literal
  bool groupEnds;          // the last item of its group

  // A back-reference that writes zeros for some of its bytes: it reads at
  // distance 0 (the byte being written) or starts before the first output
  // byte, where the window is zero-filled.
  bool ReadsZeros() const { return reference && (distance == 0 || distance > output); }
};

// What a visitor says of the item it was given.
enum class WalkStep : std::uint8_t {
  Next,    // taken; go on
  Stop,    // taken; stop after it
  Refuse,  // not taken: the walk stops before it, as if it had not been read
};

// Why a walk stopped.
enum class WalkStop : std::uint8_t {
  End,        // the payload is used up; the walk is over
  Cut,        // the payload ends one byte into a back-reference: the byte is taken
              // and dropped; the walk is over
  NeedInput,  // the bytes given end before the payload does
  Visitor,    // the visitor stopped it (WalkStep::Stop or Refuse)
};

// Where a walk stands between items.
struct WalkState {
  // Flag bits of the current group above a marker bit: the group is done when
  // only the marker is left.
  static constexpr std::uint32_t GroupDone = 1;
  static constexpr std::uint32_t GroupMarker = 0x100;

  std::uint64_t offset = 0;  // payload bytes taken
  std::uint64_t output = 0;  // output index of the next item
  std::uint32_t flags = GroupDone;
  std::uint8_t firstByte = 0;  // a back-reference's first byte, when haveFirst
  bool haveFirst = false;      // the bytes given ended inside a back-reference
};

// Walks the items of the payload bytes [in, end) from `state`, handing each
// to visit(const Item&), which returns a WalkStep. payloadEnds tells
// whether `end` is the end of the payload or only of the bytes at hand.
// Advances `in` past the bytes taken and `state` past the items taken.
template <typename Visitor>
inline WalkStop WalkItems(const std::uint8_t*& in, const std::uint8_t* end, bool payloadEnds,
                          WalkState& state, Visitor&& visit) {
  const std::uint8_t* p = in;
  const std::uint8_t* const start = p;
  std::uint64_t output = state.output;
  std::uint32_t flags = state.flags;
  const WalkStop ranOut = payloadEnds ? WalkStop::End : WalkStop::NeedInput;
  WalkStop stop = ranOut;
  Item item{};
  for (;;) {
    if (flags == WalkState::GroupDone) {
      if (p == end) break;
      flags = *p++ | WalkState::GroupMarker;
    }
    item.output = output;
    const std::uint8_t* const itemStart = p;
    const bool hadFirst = state.haveFirst;
    if (flags & 1) {
      if (p == end) break;
      item.offset = state.offset + static_cast<std::uint64_t>(p - start);
      item.literal = *p++;
      item.length = 1;
      item.distance = 0;
      item.reference = false;
    } else {
      std::uint32_t b0 = 0;
      if (hadFirst) {
        // Only at the start of a walk: the first byte came with the bytes before.
        if (p == end) {
          stop = payloadEnds ? WalkStop::Cut : WalkStop::NeedInput;
          state.haveFirst = !payloadEnds;
          break;
        }
        item.offset = state.offset - 1;
        b0 = state.firstByte;
        state.haveFirst = false;
      } else {
        if (end - p < 2) {
          if (p == end) break;
          // One byte of the two: dropped at the payload's end, else kept.
          stop = payloadEnds ? WalkStop::Cut : WalkStop::NeedInput;
          state.firstByte = *p++;
          state.haveFirst = !payloadEnds;
          break;
        }
        item.offset = state.offset + static_cast<std::uint64_t>(p - start);
        b0 = *p++;
      }
      const std::uint32_t b1 = *p++;
      item.length = ItemLength(b1);
      item.distance = ItemDistance(output, ItemPosition(b0, b1));
      item.reference = true;
    }
    const std::uint32_t nextFlags = flags >> 1;
    item.groupEnds = nextFlags == WalkState::GroupDone;
    const WalkStep step = visit(static_cast<const Item&>(item));
    if (step == WalkStep::Refuse) {
      p = itemStart;
      state.haveFirst = hadFirst;
      stop = WalkStop::Visitor;
      break;
    }
    flags = nextFlags;
    output += item.length;
    if (step == WalkStep::Stop) {
      stop = WalkStop::Visitor;
      break;
    }
  }
  state.offset += static_cast<std::uint64_t>(p - start);
  state.output = output;
  state.flags = flags;
  in = p;
  return stop;
}

}  // namespace lzs
