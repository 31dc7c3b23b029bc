// The group decoder for x86 vector units, included by one source file per
// instruction set, each of which names the 32-byte move it has.
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

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "lzs/decode_copy.hpp"
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

// Per flag byte, each item's offset after the flag byte, then each item's
// kind (all ones for a literal): one 16-byte load gives both to the vector
// loop, in place of working them out (4 KB, which the exe goes without).
struct GroupLayoutTable {
  struct alignas(16) Layout {
    std::uint8_t start[8];
    std::int8_t literal[8];
  };
  Layout groups[256];
};
constexpr GroupLayoutTable MakeGroupLayouts() {
  GroupLayoutTable table{};
  for (int flags = 0; flags < 256; ++flags) {
    int offset = 0;
    for (int item = 0; item < 8; ++item) {
      const bool literal = (flags >> item & 1) != 0;
      table.groups[flags].start[item] = static_cast<std::uint8_t>(offset);
      table.groups[flags].literal[item] = literal ? -1 : 0;
      offset += literal ? 1 : 2;
    }
  }
  return table;
}
inline constexpr GroupLayoutTable GroupLayouts = MakeGroupLayouts();

// The vector constants, in memory: the loop takes them as operands rather
// than building them again in each group.
struct alignas(16) VectorConstants {
  std::int8_t itemBits[16];
  std::int8_t ones8[16];
  std::int8_t twos8[16];
  std::int16_t minCopy[8];
  std::int16_t lowByte[8];
};
inline constexpr VectorConstants Constants = {
    {1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
    {MinCopy, MinCopy, MinCopy, MinCopy, MinCopy, MinCopy, MinCopy, MinCopy},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
};

namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces): one copy per instruction set

// The small decoder (the exe's) runs the items of a group with overlapping
// back-references in a plain loop and calls CopyShort out of line, through
// this one copy; elsewhere they are unrolled like the others.
[[gnu::noinline]] inline void CopyOverlapping(std::uint8_t* outputArea, std::size_t i,
                                              std::size_t distance, std::size_t length) {
  CopyShort(outputArea, i, distance, length);
}

inline __m128i Constant(const void* lanes) {
  return _mm_load_si128(static_cast<const __m128i*>(lanes));
}

// The constants' address, hidden from the optimizer so that it loads them
// (as operands) instead of folding them into instructions that build them.
inline const VectorConstants* ConstantsInMemory() {
  const VectorConstants* constants = &Constants;
  __asm__("" : "+r"(constants));
  return constants;
}

// Decodes whole groups. Isa names what the instruction set offers:
//  - Isa::MoveWide(to, from): the 32-byte move;
//  - Isa::Moves, a record of the group's eight moves, made from the 16-bit
//    source offsets, the literal mask, the two bases and the output
//    offsets: From(item, flags) gives an item's source address, To(item)
//    its output address.
template <typename Isa>
std::size_t DecodeGroupsVector(const std::uint8_t*& inCursor, const std::uint8_t* inEnd,
                               std::uint8_t* outputArea, std::size_t i, std::size_t outLimit) {
  const VectorConstants& k = *ConstantsInMemory();
  const std::uint8_t* in = inCursor;
  alignas(16) std::uint16_t outOffset[8];
  alignas(16) std::uint16_t distance[8];
  alignas(16) std::uint16_t length[8];
  while (static_cast<std::size_t>(inEnd - in) >= FastInputMargin && i <= outLimit) {
    const std::uint32_t flags = *in;
    const std::uint8_t* items = in + 1;
    std::uint8_t* out = outputArea + i;
    if (flags == 0xFF) {
      // Eight literals.
      Copy8(out, items);
      in = items + 8;
      i += 8;
      continue;
    }
    // Byte lanes 0 to 7, one per item: its offset after the flag byte, and
    // (in literal16's 16-bit lanes) all ones for a literal.
    __m128i start8;
    __m128i literal16;
#if defined(LZS_SMALL_DECODER)
    {
      // Worked out from the flags (the upper lanes go unused: every prefix
      // sum only carries towards higher lanes).
      const __m128i itemBits = Constant(k.itemBits);
      const __m128i literal8 = _mm_cmpeq_epi8(
          _mm_and_si128(_mm_set1_epi8(static_cast<char>(flags)), itemBits), itemBits);
      const __m128i size8 =
          _mm_add_epi8(Constant(k.twos8), literal8);  // 2, or 1 for a literal (-1)
      __m128i end8 = _mm_add_epi8(size8, _mm_slli_si128(size8, 1));
      end8 = _mm_add_epi8(end8, _mm_slli_si128(end8, 2));
      end8 = _mm_add_epi8(end8, _mm_slli_si128(end8, 4));
      start8 = _mm_sub_epi8(end8, size8);
      literal16 = _mm_unpacklo_epi8(literal8, literal8);
    }
#else
    {
      // Read from the table: offsets in the low 8 bytes, kinds in the high.
      const __m128i layout =
          _mm_load_si128(reinterpret_cast<const __m128i*>(&GroupLayouts.groups[flags]));
      start8 = layout;
      literal16 = _mm_unpackhi_epi8(layout, layout);
    }
#endif
    // 16-bit lanes, one per item: b0 | b1 << 8, and the item's kind and offset.
    const __m128i gather = _mm_unpacklo_epi8(start8, _mm_add_epi8(start8, Constant(k.ones8)));
    const __m128i fields =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(items)), gather);
    const __m128i start16 = _mm_unpacklo_epi8(start8, _mm_setzero_si128());

    // Shifts stand in for masks where they cost no more (fewer constants).
    const __m128i copyLength = _mm_add_epi16(_mm_srli_epi16(_mm_slli_epi16(fields, 4), 12),
                                             Constant(k.minCopy));  // b1 & 15, + 3
    const __m128i itemLength = _mm_or_si128(
        _mm_srli_epi16(literal16, 15), _mm_andnot_si128(literal16, copyLength));  // 1 for a literal
    const __m128i position =
        _mm_or_si128(_mm_and_si128(fields, Constant(k.lowByte)),
                     _mm_slli_epi16(_mm_srli_epi16(fields, 12), 8));  // b0 | b1 >> 4 << 8
    __m128i outEnd = _mm_add_epi16(itemLength, _mm_slli_si128(itemLength, 2));
    outEnd = _mm_add_epi16(outEnd, _mm_slli_si128(outEnd, 4));
    outEnd = _mm_add_epi16(outEnd, _mm_slli_si128(outEnd, 8));
    const __m128i outStart = _mm_sub_epi16(outEnd, itemLength);
    // The window position of output index k is k - WindowBias; 16-bit lanes
    // wrap at a multiple of WindowSize, so the low 12 bits are the distance.
    const __m128i here =
        _mm_add_epi16(_mm_set1_epi16(static_cast<short>(i - WindowBias)), outStart);
    const __m128i itemDistance =
        _mm_srli_epi16(_mm_slli_epi16(_mm_sub_epi16(here, position), 4), 4);
    // A literal's source is its payload byte (an offset from `items`), a
    // back-reference's lies `distance` bytes before its output (an offset
    // from `out`).
    const __m128i from =
        _mm_or_si128(_mm_and_si128(literal16, start16),
                     _mm_andnot_si128(literal16, _mm_sub_epi16(outStart, itemDistance)));
    // Back-references that read bytes they write themselves (distances and
    // lengths are below 4096, so the signed comparison is exact).
    const __m128i overlap = _mm_andnot_si128(literal16, _mm_cmpgt_epi16(copyLength, itemDistance));
    const typename Isa::Moves moves(from, literal16, items, out, outStart);

    if (_mm_movemask_epi8(overlap) == 0) {
#pragma GCC unroll 8
      for (int item = 0; item < 8; ++item) Isa::MoveWide(moves.To(item), moves.From(item, flags));
    } else {
      // Some back-reference reads bytes it writes itself: the same moves,
      // except for those items.
      const auto overlapping = static_cast<std::uint32_t>(_mm_movemask_epi8(overlap));
      _mm_store_si128(reinterpret_cast<__m128i*>(outOffset), outStart);
      _mm_store_si128(reinterpret_cast<__m128i*>(distance), itemDistance);
      _mm_store_si128(reinterpret_cast<__m128i*>(length), copyLength);
#if defined(LZS_SMALL_DECODER)
      for (int item = 0; item < 8; ++item) {
        if ((overlapping >> (2 * item) & 1) != 0) {
          CopyOverlapping(outputArea, i + outOffset[item], distance[item], length[item]);
        } else {
          Isa::MoveWide(moves.To(item), moves.From(item, flags));
        }
      }
#else
#pragma GCC unroll 8
      for (int item = 0; item < 8; ++item) {
        if ((overlapping >> (2 * item) & 1) != 0) {
          CopyShort(outputArea, i + outOffset[item], distance[item], length[item]);
        } else {
          Isa::MoveWide(moves.To(item), moves.From(item, flags));
        }
      }
#endif
    }
    in = items + ItemBytes.bytes[flags];
    i += static_cast<std::uint32_t>(_mm_extract_epi16(outEnd, 7));
  }
  inCursor = in;
  return i;
}

}  // namespace
}  // namespace lzs
