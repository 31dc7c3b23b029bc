// The group loop that every fast decoding path runs, and the pieces its
// paths share: the safety margins, and the copies of one back-reference.
//
// The loop handles whole groups while at least FastInputMargin payload bytes
// remain and the output index has not passed a limit. The input margin
// proves, once per group, that every read of the group (including the wide
// loads of a literal, past the group's last byte) stays inside the payload;
// the limit, that every wide store stays inside the output area. A path
// brings its own way of expanding one group: item after item (the portable
// loop) or the eight items together (the vector loops).
//
// The code here has internal linkage, so that each source file compiled for
// its own instruction set (inside its LZS_TARGET_BEGIN region) keeps its own
// copy, and no copy built for a wider set can stand in for a narrower one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lzs/format.hpp"

namespace lzs {

// The exe's decoder (LZS_SMALL_DECODER) is built from the same loops, set
// for size rather than speed wherever SmallDecoder is tested.
#if defined(LZS_SMALL_DECODER)
inline constexpr bool SmallDecoder = true;
#else
inline constexpr bool SmallDecoder = false;
#endif

// Largest group: one flag byte and eight two-byte back-references.
inline constexpr std::uint32_t MaxGroupSize = 1 + 8 * 2;
// The wide copy of one item: 32 bytes, enough for MaxCopy bytes.
inline constexpr std::uint32_t WideCopy = 32;
// A literal's wide copy loads WideCopy payload bytes, up to WideCopy - 1 of
// them past the group's last byte.
inline constexpr std::uint32_t FastInputMargin = MaxGroupSize + WideCopy;
// At the last item of a fast group at least WideCopy payload bytes are left,
// so an output area of MaxExpansion bytes per payload byte has room for any
// item's wide store.
static_assert(MaxExpansion * (FastInputMargin - MaxGroupSize) >= WideCopy);
// In an output area of any other size, the loop runs a group only while
// there is room for its last item's wide store: seven longest copies, then
// WideCopy.
inline constexpr std::size_t FastOutputMargin = 7 * MaxCopy + WideCopy;

// A back-reference of distance d below 8 repeats its d source bytes. Its
// first 8 bytes are those bytes times PatternSpread[d] (copies side by side);
// the pattern then goes on at phase PatternPhase[d] = 8 mod d.
consteval std::uint64_t Spread(std::uint32_t d) {
  std::uint64_t spread = 0;
  for (std::uint32_t byte = 0; byte < 8; byte += d) spread |= std::uint64_t{1} << (8 * byte);
  return spread;
}
inline constexpr std::uint64_t PatternSpread[8] = {0,         Spread(1), Spread(2), Spread(3),
                                                   Spread(4), Spread(5), Spread(6), Spread(7)};
inline constexpr std::uint8_t PatternPhase[8] = {0, 0, 0, 2, 0, 3, 2, 1};

namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces): one copy per instruction set

// Fixed-size copies: the compiler turns them into plain loads and stores
// (never a call). Each loads its whole chunk before storing it, so a chunk
// may read bytes that the previous chunk has just stored.
inline void Copy8(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t chunk;
  __builtin_memcpy(&chunk, from, sizeof chunk);
  __builtin_memcpy(to, &chunk, sizeof chunk);
}

inline void Copy16(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t chunk[2];
  __builtin_memcpy(chunk, from, sizeof chunk);
  __builtin_memcpy(to, chunk, sizeof chunk);
}

// The next 8 bytes of a pattern of period d whose last 8 bytes are `bytes`:
// they start with `bytes` from the phase on; since 8 - PatternPhase[d] is a
// multiple of d, those go on with their own first bytes again.
inline std::uint64_t NextPattern(std::uint64_t bytes, std::uint32_t phase) {
  const std::uint64_t rest = bytes >> (8 * phase);
  return rest | rest << ((64 - 8 * phase) & 63);
}

// One back-reference of the exact rule: byte by byte, zeros where the source
// lies before the start of the output or on the byte being written.
inline std::size_t CopyExact(std::uint8_t* outputArea, std::size_t i, std::size_t distance,
                             std::size_t length) {
  for (std::size_t n = 0; n < length; ++n, ++i) {
    outputArea[i] = (distance == 0 || i < distance) ? 0 : outputArea[i - distance];
  }
  return i;
}

// A back-reference that is not a plain wide copy, in a fast loop, where
// WideCopy bytes of room at outputArea + i are proven. Writes `length`
// correct bytes there and at most WideCopy bytes in all.
inline void CopyShort(std::uint8_t* outputArea, std::size_t i, std::size_t distance,
                      std::size_t length) {
  std::uint8_t* out = outputArea + i;
  if (distance == 0) {
    // The source is the byte about to be written: zeros.
    __builtin_memset(out, 0, MaxCopy);
  } else if (distance > i) {
    // The source starts before the output: zeros, then bytes of this same
    // copy (only within the first WindowSize output bytes).
    CopyExact(outputArea, i, distance, length);
  } else if (distance >= 8) {
    // Overlapping its own output: 8-byte chunks, no wider than the
    // distance, read only bytes already written.
    Copy8(out, out - distance);
    Copy8(out + 8, out + 8 - distance);
    Copy8(out + 16, out + 16 - distance);
  } else {
    // A pattern of period 1 to 7, built in a register.
    std::uint64_t source;
    __builtin_memcpy(&source, out - distance, sizeof source);
    const std::uint64_t keep = (std::uint64_t{1} << (8 * distance)) - 1;
    std::uint64_t bytes = (source & keep) * PatternSpread[distance];
    const std::uint32_t phase = PatternPhase[distance];
    for (std::size_t chunk = 0; chunk < 3; ++chunk) {
      __builtin_memcpy(out + 8 * chunk, &bytes, sizeof bytes);
      bytes = NextPattern(bytes, phase);
    }
  }
}

// The small decoder's items share one out-of-line copy of CopyShort.
[[gnu::noinline]] inline void CopyShortOutOfLine(std::uint8_t* outputArea, std::size_t i,
                                                 std::size_t distance, std::size_t length) {
  CopyShort(outputArea, i, distance, length);
}

inline void CopyShortItem(std::uint8_t* outputArea, std::size_t i, std::size_t distance,
                          std::size_t length) {
  if constexpr (SmallDecoder) {
    CopyShortOutOfLine(outputArea, i, distance, length);
  } else {
    CopyShort(outputArea, i, distance, length);
  }
}

// Runs whole groups from `in` while at least FastInputMargin payload bytes
// remain before inEnd and the output index stays at most outLimit; the
// output index starts at i. Returns the new output index and leaves `in` at
// the next group. group.Expand(flags, items, outputArea, i) writes one group
// whose items start at `items`, moves i past its output and returns the
// address after its last item.
template <typename Group>
inline std::size_t RunGroups(Group& group, const std::uint8_t*& inCursor, const std::uint8_t* inEnd,
                             std::uint8_t* outputArea, std::size_t i, std::size_t outLimit) {
  const std::uint8_t* in = inCursor;
  while (static_cast<std::size_t>(inEnd - in) >= FastInputMargin && i <= outLimit) {
    const std::uint32_t flags = *in++;
    if (flags == 0xFF) {
      // Eight literals.
      Copy8(outputArea + i, in);
      in += 8;
      i += 8;
    } else {
      in = group.Expand(flags, in, outputArea, i);
    }
  }
  inCursor = in;
  return i;
}

// A path's loop (FastLoop): RunGroups with a Group of its own.
template <typename Group>
std::size_t DecodeGroupsWith(const std::uint8_t*& in, const std::uint8_t* inEnd,
                             std::uint8_t* outputArea, std::size_t i, std::size_t outLimit) {
  Group group;
  return RunGroups(group, in, inEnd, outputArea, i, outLimit);
}

}  // namespace
}  // namespace lzs
