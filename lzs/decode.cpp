// The fast decoder. It keeps the outline of the format (header, groups, eight
// items, literal or back-reference) and runs two loops over it:
//
//  - the fast loop handles whole groups while at least FastInputMargin payload
//    bytes remain. That margin proves, once per group, that every read of the
//    group (including 8-byte literal loads past its last byte) stays inside
//    the image, and that every wide store stays inside the output area;
//  - the exact loop, byte by byte like the format description, finishes the
//    last few groups, where the payload may end in the middle of a group.
//
// Output room follows from input room: every payload byte yields at most
// MaxExpansion output bytes, so with R payload bytes left the area still has
// at least MaxExpansion * R bytes of room past the current end. Wide stores
// may write bytes past the end of the current item; the items that follow
// overwrite them, and bytes past the returned length are left undefined.

#include <bit>
#include <cstdint>

#include "lzs/lzs.hpp"

using namespace lzs;

namespace {

// Largest group: one flag byte and eight two-byte back-references.
constexpr std::uint32_t MaxGroupSize = 1 + 8 * 2;
// The wide copy of one item: two 16-byte chunks, enough for MaxCopy bytes.
constexpr std::uint32_t WideCopy = 32;
// A literal's wide copy loads WideCopy payload bytes, up to WideCopy - 1 of
// them past the group's last byte.
constexpr std::uint32_t FastInputMargin = MaxGroupSize + WideCopy;
// At the last item of a fast group at least WideCopy payload bytes are left,
// so the output area has room for any item's wide store.
static_assert(MaxExpansion * (FastInputMargin - MaxGroupSize) >= WideCopy);

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

// For a back-reference of distance d below 8, the smallest multiple of d that
// is at least 8. The copy repeats with period d, so, once its first 8 bytes
// are written, each later byte equals the one this many bytes before it.
constexpr std::uint8_t PatternStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// One back-reference of the exact rule: byte by byte, zeros where the source
// lies before the start of the output or on the byte being written.
inline std::uint32_t CopyExact(std::uint8_t* outputArea, std::uint32_t i,
                               std::uint32_t distance, std::uint32_t length) {
  for (std::uint32_t n = 0; n < length; ++n, ++i) {
    outputArea[i] = (distance == 0 || i < distance) ? 0 : outputArea[i - distance];
  }
  return i;
}

// A back-reference whose source overlaps the bytes it writes (distance 1 to
// 15), in the fast loop, where WideCopy bytes of room at out are proven.
// Writes `length` correct bytes at out and up to 24 bytes in all.
inline void CopyOverlapping(std::uint8_t* out, std::uint32_t distance) {
  const std::uint8_t* from = out - distance;
  if (distance >= 8) {
    // Chunks no wider than the distance read only bytes already written.
    Copy8(out, from);
    Copy8(out + 8, from + 8);
    Copy8(out + 16, from + 16);
  } else {
    // A short pattern: its first 8 bytes one at a time, the rest in chunks
    // from one whole number of periods back.
    for (int n = 0; n < 8; ++n) out[n] = from[n];
    const std::uint32_t step = PatternStep[distance];
    Copy8(out + 8, out + 8 - step);
    Copy8(out + 16, out + 16 - step);
  }
}

}  // namespace

std::uint32_t DecodeLzs(const std::uint8_t* image, std::uint32_t imageLength,
                        std::uint8_t* outputArea) {
  if (imageLength <= HeaderSize) return 0;
  const std::uint32_t payloadLength =
      std::uint32_t{image[0]} | std::uint32_t{image[1]} << 8 |
      std::uint32_t{image[2]} << 16 | std::uint32_t{image[3]} << 24;
  if (payloadLength != imageLength - HeaderSize) return 0;

  const std::uint8_t* in = image + HeaderSize;  // next payload byte
  const std::uint8_t* const inEnd = in + payloadLength;
  std::uint8_t* out = outputArea;  // next output byte

  // Fast loop: whole groups, with room proven by FastInputMargin.
  while (static_cast<std::uint32_t>(inEnd - in) >= FastInputMargin) {
    std::uint32_t flags = *in++;
    if (flags == 0xFF) {
      // Eight literals.
      Copy8(out, in);
      in += 8;
      out += 8;
      continue;
    }
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      // A literal is copied like a back-reference whose source is the
      // payload itself, one byte long; so both kinds share one wide copy
      // and the choice between them costs no branch. Only back-references
      // that overlap their own output or start before it leave that path.
      const std::uint32_t literal = flags & 1;
      const std::uint32_t b0 = in[0];
      const std::uint32_t b1 = in[1];
      const std::uint32_t position = b0 | (b1 >> 4) << 8;
      const std::uint32_t i = static_cast<std::uint32_t>(out - outputArea);
      const std::uint32_t distance = (i - position - WindowBias) & WindowMask;
      // Branch-free choices: all ones for a literal, zero for a reference.
      const std::uint32_t literalMask = 0 - literal;
      const std::uint32_t length = (((b1 & 0x0F) + MinCopy) & ~literalMask) | literal;
      const std::uint32_t far = (distance >= 16) & (distance <= i);
      if (literal | far) {
        const std::uintptr_t fromLiteral = reinterpret_cast<std::uintptr_t>(in);
        const std::uintptr_t fromReference = reinterpret_cast<std::uintptr_t>(out - distance);
        const std::uintptr_t mask = 0 - std::uintptr_t{literal};
        const std::uint8_t* from =
            reinterpret_cast<const std::uint8_t*>((fromLiteral & mask) | (fromReference & ~mask));
        Copy16(out, from);
        Copy16(out + 16, from + 16);
      } else if (distance != 0 && distance <= i) {
        CopyOverlapping(out, distance);
      } else if (distance == 0) {
        // The source is the byte about to be written: zeros.
        __builtin_memset(out, 0, MaxCopy);
      } else {
        // The source starts before the output: zeros, then bytes of this
        // same copy (only within the first WindowSize output bytes).
        CopyExact(outputArea, i, distance, length);
      }
      in += 2 - literal;
      out += length;
    }
  }

  // Exact loop: the last groups, checked byte by byte.
  std::uint32_t remaining = static_cast<std::uint32_t>(inEnd - in);
  std::uint32_t i = static_cast<std::uint32_t>(out - outputArea);
  while (remaining > 0) {
    std::uint32_t flags = *in++;
    --remaining;
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (flags & 1) {
        // Literal: one byte, copied unchanged.
        if (remaining == 0) return i;
        outputArea[i++] = *in++;
        --remaining;
      } else {
        // Back-reference: a lone trailing byte is ignored.
        if (remaining < 2) return i;
        const std::uint32_t b0 = in[0];
        const std::uint32_t b1 = in[1];
        in += 2;
        remaining -= 2;
        const std::uint32_t position = b0 | (b1 >> 4) << 8;
        const std::uint32_t length = (b1 & 0x0F) + MinCopy;
        const std::uint32_t distance = (i - position - WindowBias) & WindowMask;
        i = CopyExact(outputArea, i, distance, length);
      }
    }
  }
  return i;
}
