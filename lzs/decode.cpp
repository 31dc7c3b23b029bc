// The fast decoder. It keeps the outline of the format (header, groups, eight
// items, literal or back-reference) and runs two loops over it:
//
//  - the group loop (RunGroups) handles whole groups while at least
//    FastInputMargin payload bytes remain: in the first window of output
//    item after item, where a source may lie before the output, then in the
//    loop of the current path;
//  - the exact loop, byte by byte like the format description, finishes the
//    last few groups, where the payload may end in the middle of a group.
//
// Output room follows from input room: every payload byte yields at most
// MaxExpansion output bytes, so with R payload bytes left the area still has
// at least MaxExpansion * R bytes of room past the current end. Wide stores
// may write bytes past the end of the current item; the items that follow
// overwrite them, and bytes past the returned length are left undefined.
//
// The bounded variant takes an output area of any size: its fast loop also
// proves room for a whole group's wide stores before each group, and its
// exact loop checks every item against the room left.

#include "lzs/decode.hpp"

#include <cstddef>
#include <cstdint>

#include "lzs/decode_groups.hpp"
#include "lzs/decode_paths.hpp"
#include "lzs/walk.hpp"

namespace lzs {

namespace {

// Per flag byte, one byte per item: -1 (all ones) for a literal, 0 for a
// back-reference (2 KB, which the small decoder goes without).
struct LiteralMaskTable {
  std::int8_t masks[256][8];
};
constexpr LiteralMaskTable MakeLiteralMasks() {
  LiteralMaskTable table{};
  for (int flags = 0; flags < 256; ++flags) {
    for (int item = 0; item < 8; ++item) table.masks[flags][item] = (flags >> item & 1) ? -1 : 0;
  }
  return table;
}
constexpr LiteralMaskTable LiteralMasks = MakeLiteralMasks();

// The portable loop's group, item after item. While the output is shorter
// than the window, a source may lie before its start (NearStart); after
// that it cannot.
template <bool NearStart>
struct PortableGroup {
  [[gnu::always_inline]] const std::uint8_t* Expand(std::uint32_t flags, const std::uint8_t* in,
                                                    std::uint8_t* outputArea,
                                                    std::size_t& outIndex) const {
    std::size_t i = outIndex;
#pragma GCC unroll 8
    for (int item = 0; item < 8; ++item) {
      // A literal is copied like a back-reference whose source is the
      // payload itself, one byte long. Both kinds share one wide copy, and
      // the choice of source and length is made with a mask, not a branch,
      // since flag bits follow no pattern a predictor could learn. Only
      // back-references that overlap their own output or start before it
      // leave that path.
      const std::uintptr_t literalMask =
          SmallDecoder
              ? 0 - static_cast<std::uintptr_t>(flags >> item & 1)
              : static_cast<std::uintptr_t>(std::intptr_t{LiteralMasks.masks[flags][item]});
      const std::uint32_t b0 = in[0];  // for a literal, the two bytes below
      const std::uint32_t b1 = in[1];  // mean nothing and go unused
      const std::size_t distance = ItemDistance(i, ItemPosition(b0, b1));
      const std::size_t copyLength = ItemLength(b1);
      const std::size_t length = copyLength + ((1 - copyLength) & literalMask);

      std::uint8_t* out = outputArea + i;
      const std::uintptr_t fromOutput = reinterpret_cast<std::uintptr_t>(out) - distance;
      const std::uintptr_t fromPayload = reinterpret_cast<std::uintptr_t>(in);
      const auto* from = reinterpret_cast<const std::uint8_t*>(
          fromOutput + ((fromPayload - fromOutput) & literalMask));

      // Wide: a literal, or a source at least 16 bytes back (and, near the
      // start, not before the output).
      bool wide = ((distance & ~std::size_t{15}) | literalMask) != 0;
      if constexpr (NearStart) wide = wide & ((distance <= i) | (literalMask != 0));
      if (wide) {
        Copy16(out, from);
        Copy16(out + 16, from + 16);
      } else {
        CopyShortItem(outputArea, i, distance, length);
      }
      in += 2 + static_cast<std::intptr_t>(literalMask);
      i += length;
    }
    outIndex = i;
    return in;
  }
};

// Expands a payload. Unbounded, the output area holds MaxExpansion bytes per
// payload byte. Bounded, it holds `capacity` bytes, and the fast loop also
// stops while fewer than FastOutputMargin bytes of room are left; the exact
// loop then checks each item against the room left.
template <bool Bounded>
std::size_t DecodePayload(const std::uint8_t* in, std::size_t payloadLength,
                          std::uint8_t* outputArea, std::size_t capacity,
                          bool* lastItemCut = nullptr) {
  const std::uint8_t* const inEnd = in + payloadLength;
  std::size_t i = 0;  // output bytes written so far

  // Whole groups, with room proven by the margins.
  if (!Bounded || capacity >= FastOutputMargin) {
    const std::size_t outLimit =
        Bounded ? capacity - FastOutputMargin : static_cast<std::size_t>(-1);
    i = DecodeGroups(in, inEnd, outputArea, i, outLimit);
  }

  // Exact loop: the last groups, item by item, each checked against the
  // room left when the area is bounded.
  WalkState state;
  state.output = i;
  bool tooSmall = false;
  const WalkStop stop = WalkItems(in, inEnd, true, state, [&](const Item& item) {
    if (Bounded && capacity - i < item.length) {
      tooSmall = true;
      return WalkStep::Stop;
    }
    if (item.reference) {
      i = CopyExact(outputArea, i, item.distance, item.length);
    } else {
      outputArea[i++] = item.literal;
    }
    return WalkStep::Next;
  });
  if (lastItemCut != nullptr) *lastItemCut = stop == WalkStop::Cut;
  return tooSmall ? DecodeTooSmall : i;
}

}  // namespace

// The portable loop, the path every processor can take. The small decoder
// runs the groups that follow the first window through the loop of the
// first window too (which tests, in vain there, whether a source lies
// before the output): one loop less to carry.
FastLoop ScalarLoop() { return DecodeGroupsWith<PortableGroup<SmallDecoder>>; }

std::size_t DecodeGroups(const std::uint8_t*& in, const std::uint8_t* inEnd,
                         std::uint8_t* outputArea, std::size_t i, std::size_t outLimit) {
  if (i < WindowSize) {
    PortableGroup<true> group;
    i = RunGroups(group, in, inEnd, outputArea, i,
                  outLimit < WindowSize ? outLimit : WindowSize - 1);
    if (i < WindowSize) return i;
  }
  return CurrentFastLoop()(in, inEnd, outputArea, i, outLimit);
}

std::size_t DecodeLzsPayload(const std::uint8_t* payload, std::size_t payloadLength,
                             std::uint8_t* outputArea, std::size_t outputCapacity,
                             bool* lastItemCut) {
  if (outputCapacity / MaxExpansion >= payloadLength) {
    return DecodePayload<false>(payload, payloadLength, outputArea, outputCapacity, lastItemCut);
  }
  return DecodePayload<true>(payload, payloadLength, outputArea, outputCapacity, lastItemCut);
}

std::uint64_t DecodedLzsSize(const std::uint8_t* payload, std::size_t payloadLength,
                             bool* lastItemCut) {
  const std::uint8_t* in = payload;
  const std::uint8_t* const inEnd = payload + payloadLength;
  // Whole groups: a group is never longer than MaxGroupSize bytes.
  std::uint64_t size = ScanGroups(in, inEnd);
  // The last groups, item by item, with the decoder's stops.
  WalkState state;
  state.output = size;
  const WalkStop stop =
      WalkItems(in, inEnd, true, state, [](const Item&) { return WalkStep::Next; });
  if (lastItemCut != nullptr) *lastItemCut = stop == WalkStop::Cut;
  return state.output;
}

std::uint32_t DecodeLzs(const std::uint8_t* image, std::uint32_t imageLength,
                        std::uint8_t* outputArea) {
  if (FitImage(image, imageLength) != HeaderFit::Whole) return 0;
  const std::uint32_t payloadLength = imageLength - HeaderSize;
  return static_cast<std::uint32_t>(DecodePayload<false>(
      image + HeaderSize, payloadLength, outputArea, std::size_t{MaxExpansion} * payloadLength));
}

}  // namespace lzs
