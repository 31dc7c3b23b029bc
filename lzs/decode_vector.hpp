// The group decoder for vector units of 16-byte registers (x86's SSSE3 and
// AVX2, WebAssembly's SIMD128), written in the compiler's vector types.
// Included by one source file per instruction set, inside a region compiled
// for that set (LZS_TARGET_BEGIN; the standard headers and format.hpp come
// before it, decode_groups.hpp inside), whose Isa record gives what those
// types do not spell: a byte shuffle, a mask of byte signs, and the item
// moves.
//
// A group's flag byte alone fixes where each of its eight items starts: a
// literal takes one payload byte, a back-reference two. So the eight items
// are unpacked together, in 16-bit lanes of one register:
//
//  - the item offsets are a prefix sum of the item sizes (1 or 2);
//  - one shuffle of the 16 payload bytes after the flag byte gathers each
//    item's two bytes b0, b1 into its lane (a group holds at most 16 bytes);
//  - the lengths follow from b1 (1 for a literal), the output offsets from a
//    prefix sum of the lengths, and the distances from the offsets and the
//    positions;
//  - each item's source is then an offset from one of two bases: the
//    payload for a literal, the item's own output for a back-reference.
//
// The eight moves then run one after the other, each one 32 bytes wide
// whatever the item's length: later items overwrite what an earlier move
// wrote past its item. That is sound for a literal and for a back-reference
// whose source ends before its output starts (distance at least its length);
// a group with any other back-reference takes the same moves, except for
// those items, which CopyShort writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "lzs/decode_groups.hpp"
#include "lzs/format.hpp"

namespace lzs {

// The tables below are plain data, the same for every instruction set,
// so one copy serves all.

// Per flag byte, the bytes its items take (8 to 16). The next group's start
// comes from this table rather than from the vector unit, which keeps the
// chain from one flag byte to the next short.
struct ItemBytesTable {
  std::uint8_t bytes[256];
};
constexpr ItemBytesTable MakeItemBytes() {
  ItemBytesTable table{};
  for (int flags = 0; flags < 256; ++flags) {
    int bytes = 0;
    for (int item = 0; item < 8; ++item) bytes += (flags >> item & 1) != 0 ? 1 : 2;
    table.bytes[flags] = static_cast<std::uint8_t>(bytes);
  }
  return table;
}
inline constexpr ItemBytesTable ItemBytes = MakeItemBytes();

// Per flag byte, where its items lie, in the vector loop's lanes: the
// offsets after the flag byte of each item's two bytes b0, b1 (the indices
// of the byte shuffle that gathers them), each item's kind (all ones for a
// literal) and each item's own offset, one 16-bit lane per item. A load
// each gives them to the vector loop, in place of working them out (12 KB,
// which the exe goes without).
struct GroupLayoutTable {
  struct alignas(16) Layout {
    std::uint8_t gather[16];
    std::int16_t literal[8];
    std::uint16_t start[8];
  };
  Layout groups[256];
};
constexpr GroupLayoutTable MakeGroupLayouts() {
  GroupLayoutTable table{};
  for (int flags = 0; flags < 256; ++flags) {
    GroupLayoutTable::Layout& layout = table.groups[flags];
    int offset = 0;
    for (std::size_t item = 0; item < 8; ++item) {
      const bool literal = (flags >> item & 1) != 0;
      layout.gather[2 * item] = static_cast<std::uint8_t>(offset);
      layout.gather[2 * item + 1] = static_cast<std::uint8_t>(offset + 1);
      layout.literal[item] = literal ? -1 : 0;
      layout.start[item] = static_cast<std::uint16_t>(offset);
      offset += literal ? 1 : 2;
    }
  }
  return table;
}
inline constexpr GroupLayoutTable GroupLayouts = MakeGroupLayouts();

namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces): one copy per instruction set

// Sixteen byte lanes, and eight 16-bit lanes (one per item of a group).
using ByteLanes = std::uint8_t __attribute__((vector_size(16)));
using ItemLanes = std::uint16_t __attribute__((vector_size(16)));
using SignedItemLanes = std::int16_t __attribute__((vector_size(16)));

template <typename Lanes>
using Lane = std::remove_cvref_t<decltype(std::declval<Lanes>()[0])>;
template <typename Lanes>
// NOLINTNEXTLINE(bugprone-dynamic-static-initializers): a constant expression
inline constexpr int LaneCount = sizeof(Lanes) / sizeof(Lane<Lanes>);

// Every lane `value`.
template <typename Lanes, typename Value, int... K>
constexpr Lanes Splat(Value value, std::integer_sequence<int, K...> /*lanes*/) {
  return Lanes{static_cast<Lane<Lanes>>((static_cast<void>(K), value))...};
}
template <typename Lanes, typename Value>
constexpr Lanes Splat(Value value) {
  return Splat<Lanes>(value, std::make_integer_sequence<int, LaneCount<Lanes>>{});
}

// The lanes moved N lanes up (towards the last), zeros coming in: lanes of
// zeros, then the lanes, seen through a window (one instruction on every
// vector unit).
template <int N, typename Lanes, int... K>
inline Lanes LanesUp(Lanes lanes, std::integer_sequence<int, K...> /*lanes*/) {
  return __builtin_shufflevector(Lanes{}, lanes, (LaneCount<Lanes> - N + K)...);
}
template <int N, typename Lanes>
inline Lanes LanesUp(Lanes lanes) {
  return LanesUp<N>(lanes, std::make_integer_sequence<int, LaneCount<Lanes>>{});
}

// The item moves where registers are 16 bytes wide: two 16-byte moves, both
// loaded before either is stored, and the offsets as they are, each address
// taken from its base when the item is moved.
struct PairedMoves {
  static void MoveHalf(std::uint8_t* to, const std::uint8_t* from) {
    ByteLanes bytes;
    __builtin_memcpy(&bytes, from, sizeof bytes);
    __builtin_memcpy(to, &bytes, sizeof bytes);
  }
  static void MoveWide(std::uint8_t* to, const std::uint8_t* from) {
    ByteLanes low;
    ByteLanes high;
    __builtin_memcpy(&low, from, sizeof low);
    __builtin_memcpy(&high, from + 16, sizeof high);
    __builtin_memcpy(to, &low, sizeof low);
    __builtin_memcpy(to + 16, &high, sizeof high);
  }

  struct Moves {
    Moves(ItemLanes from, ItemLanes /*literal16*/, const std::uint8_t* itemsBase,
          std::uint8_t* outBase, ItemLanes outStart)
        : items(itemsBase), out(outBase) {
      __builtin_memcpy(sourceOffsets, &from, sizeof sourceOffsets);
      __builtin_memcpy(outOffsets, &outStart, sizeof outOffsets);
    }
    const std::uint8_t* From(int item, std::uint32_t flags) const {
      return ((flags >> item & 1) != 0 ? items : out) + sourceOffsets[item];
    }
    std::uint8_t* To(int item) const { return out + outOffsets[item]; }
    alignas(16) std::int16_t sourceOffsets[8];
    alignas(16) std::uint16_t outOffsets[8];
    const std::uint8_t* items;
    std::uint8_t* out;
  };
};

// The masks of the item fields, in memory: see VectorGroup's constructor.
struct FieldMasks {
  ItemLanes lowNibble = Splat<ItemLanes>(0x0F);
  ItemLanes lowByte = Splat<ItemLanes>(0xFF);
  ItemLanes positionHigh = Splat<ItemLanes>(0xF00);
  ItemLanes window = Splat<ItemLanes>(WindowMask);
  ItemLanes minCopy = Splat<ItemLanes>(MinCopy);
  ItemLanes halfMove = Splat<ItemLanes>(16);
};
inline constexpr FieldMasks Masks{};

// How many items of a group with overlapping back-references the loop below
// takes at a time.
inline constexpr int ItemsUnrolled = SmallDecoder ? 1 : 8;

// Expands one group for RunGroups. Isa names what the instruction set offers:
//  - Isa::Shuffle(bytes, indices): byte k of the result is bytes[indices[k]]
//    (indices below 16);
//  - Isa::SignMask(bytes): bit k is the top bit of byte k;
//  - Isa::MoveWide(to, from): the 32-byte move, loaded whole before stored;
//  - Isa::MovesInHalves: whether a group whose copies are 16 bytes long at
//    most moves 16 bytes an item, with Isa::MoveHalf(to, from);
//  - Isa::Moves, a record of the group's eight moves, made from the 16-bit
//    source offsets, the literal mask, the two bases and the output
//    offsets: From(item, flags) gives an item's source address, To(item)
//    its output address.
template <typename Isa>
class VectorGroup {
 public:
  // The masks are loaded once, through an address hidden from the
  // optimizer, which would otherwise fold them into each group's code
  // (WebAssembly engines build such constants again at each use).
  VectorGroup() {
    const FieldMasks* masks = &Masks;
    __asm__("" : "+r"(masks));
    masks_ = *masks;
  }

  [[gnu::always_inline]] const std::uint8_t* Expand(std::uint32_t flags, const std::uint8_t* items,
                                                    std::uint8_t* outputArea,
                                                    std::size_t& outIndex) {
    const std::size_t i = outIndex;
    // The group's layout (see GroupLayouts).
    ByteLanes gather;
    ItemLanes literal16;
    ItemLanes start16;
    if constexpr (SmallDecoder) {
      // Worked out from the flags, in byte lanes 0 to 7, one per item (the
      // upper lanes go unused: every prefix sum only carries towards higher
      // lanes).
      const ByteLanes itemBits = {1, 2, 4, 8, 16, 32, 64, 128};
      const auto literal8 =
          reinterpret_cast<ByteLanes>((Splat<ByteLanes>(flags) & itemBits) == itemBits);
      const ByteLanes size8 = Splat<ByteLanes>(2) + literal8;  // 2, or 1 for a literal (-1)
      ByteLanes end8 = size8 + LanesUp<1>(size8);
      end8 += LanesUp<2>(end8);
      end8 += LanesUp<4>(end8);
      const ByteLanes start8 = end8 - size8;
      gather = __builtin_shufflevector(start8, start8 + Splat<ByteLanes>(1), 0, 16, 1, 17, 2, 18, 3,
                                       19, 4, 20, 5, 21, 6, 22, 7, 23);
      literal16 = reinterpret_cast<ItemLanes>(__builtin_shufflevector(
          literal8, literal8, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7));
      start16 = reinterpret_cast<ItemLanes>(__builtin_shufflevector(
          start8, ByteLanes{}, 0, 16, 1, 16, 2, 16, 3, 16, 4, 16, 5, 16, 6, 16, 7, 16));
    } else {
      const GroupLayoutTable::Layout& layout = GroupLayouts.groups[flags];
      __builtin_memcpy(&gather, layout.gather, sizeof gather);
      __builtin_memcpy(&literal16, layout.literal, sizeof literal16);
      __builtin_memcpy(&start16, layout.start, sizeof start16);
    }
    // 16-bit lanes, one per item: b0 | b1 << 8.
    ByteLanes bytes;
    __builtin_memcpy(&bytes, items, sizeof bytes);
    const auto fields = reinterpret_cast<ItemLanes>(Isa::Shuffle(bytes, gather));

    const FieldMasks& m = masks_;
    const ItemLanes copyLength = ((fields >> 8) & m.lowNibble) + m.minCopy;      // ItemLength
    const ItemLanes itemLength = (literal16 >> 15) | (~literal16 & copyLength);  // 1: a literal
    const ItemLanes position =
        (fields & m.lowByte) | ((fields >> 4) & m.positionHigh);  // ItemPosition
    ItemLanes outEnd = itemLength + LanesUp<1>(itemLength);
    outEnd += LanesUp<2>(outEnd);
    outEnd += LanesUp<4>(outEnd);
    const ItemLanes outStart = outEnd - itemLength;
    // ItemDistance: 16-bit lanes wrap at a multiple of WindowSize, so the
    // low 12 bits are the distance.
    const ItemLanes here = Splat<ItemLanes>(i - WindowBias) + outStart;
    const ItemLanes distance = (here - position) & m.window;
    // A literal's source is its payload byte (an offset from `items`), a
    // back-reference's lies `distance` bytes before its output (an offset
    // from `out`).
    const ItemLanes from = (literal16 & start16) | (~literal16 & (outStart - distance));
    // Back-references that read bytes they write themselves (distances and
    // lengths are below 4096, so the signed comparison is exact).
    const ItemLanes overlap =
        ~literal16 & reinterpret_cast<ItemLanes>(reinterpret_cast<SignedItemLanes>(copyLength) >
                                                 reinterpret_cast<SignedItemLanes>(distance));
    std::uint8_t* out = outputArea + i;
    const typename Isa::Moves moves(from, literal16, items, out, outStart);
    const std::uint32_t overlapping = Isa::SignMask(reinterpret_cast<ByteLanes>(overlap));

    outIndex = i + outEnd[7];
    const std::uint8_t* const next = items + ItemBytes.bytes[flags];

    if (overlapping != 0) {
      // Some back-reference reads bytes it writes itself: the same moves,
      // except for those items (in the small decoder, in a plain loop).
      __builtin_memcpy(outOffset_, &outStart, sizeof outOffset_);
      __builtin_memcpy(distance_, &distance, sizeof distance_);
      __builtin_memcpy(length_, &copyLength, sizeof length_);
#pragma GCC unroll ItemsUnrolled
      for (int item = 0; item < 8; ++item) {
        if ((overlapping >> (2 * item) & 1) != 0) {
          CopyShortItem(outputArea, i + outOffset_[item], distance_[item], length_[item]);
        } else {
          Isa::MoveWide(moves.To(item), moves.From(item, flags));
        }
      }
      return next;
    }
    if constexpr (Isa::MovesInHalves) {
      // A group whose copies are 16 bytes long at most (text, mostly) takes
      // one of the two 16-byte moves of each item.
      if (Isa::SignMask(reinterpret_cast<ByteLanes>(~literal16 & (m.halfMove - copyLength))) == 0) {
#pragma GCC unroll 8
        for (int item = 0; item < 8; ++item) Isa::MoveHalf(moves.To(item), moves.From(item, flags));
        return next;
      }
    }
#pragma GCC unroll 8
    for (int item = 0; item < 8; ++item) Isa::MoveWide(moves.To(item), moves.From(item, flags));
    return next;
  }

 private:
  FieldMasks masks_;
  alignas(16) std::uint16_t outOffset_[8];
  alignas(16) std::uint16_t distance_[8];
  alignas(16) std::uint16_t length_[8];
};

}  // namespace
}  // namespace lzs
