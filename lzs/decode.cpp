// The fast decoder. It keeps the outline of the format (header, groups, eight
// items, literal or back-reference) and runs two loops over it:
//
//  - the fast loop handles whole groups while at least FastInputMargin payload
//    bytes remain. That margin proves, once per group, that every read of the
//    group (including the wide loads of a literal, past the group's last
//    byte) stays inside the image, and that every wide store stays inside the
//    output area;
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

#include <array>
#include <cstddef>
#include <cstdint>

#include "lzs/decode.hpp"

namespace lzs {

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
// With a bounded output area, the fast loop runs a group only while there is
// room for its last item's wide store: seven longest copies, then WideCopy.
constexpr std::size_t FastOutputMargin = 7 * MaxCopy + WideCopy;

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

// A back-reference of distance d below 8 repeats its d source bytes. Its
// first 8 bytes are those bytes times PatternSpread[d] (copies side by side);
// the pattern then goes on at phase PatternPhase[d] = 8 mod d.
constexpr std::uint64_t Spread(std::uint32_t d) {
  std::uint64_t spread = 0;
  for (std::uint32_t byte = 0; byte < 8; byte += d) spread |= std::uint64_t{1} << (8 * byte);
  return spread;
}
constexpr std::uint64_t PatternSpread[8] = {0,         Spread(1), Spread(2), Spread(3),
                                            Spread(4), Spread(5), Spread(6), Spread(7)};
constexpr std::uint8_t PatternPhase[8] = {0, 0, 0, 2, 0, 3, 2, 1};

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

// A back-reference that is not a plain wide copy, in the fast loop, where
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

// Per flag byte, one byte per item: -1 (all ones) for a literal, 0 for a
// back-reference.
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

// One group in the fast loop. While the output is shorter than the window,
// a source may lie before its start (NearStart); after that it cannot.
template <bool NearStart>
inline void DecodeFastGroup(const std::uint8_t*& inCursor, std::uint8_t* outputArea, std::size_t& outIndex) {
  const std::uint8_t* in = inCursor;
  std::size_t i = outIndex;
  const std::uint32_t flags = *in++;
  if (flags == 0xFF) {
    // Eight literals.
    Copy8(outputArea + i, in);
    inCursor = in + 8;
    outIndex = i + 8;
    return;
  }
  const std::int8_t* literalMasks = LiteralMasks.masks[flags];
#pragma GCC unroll 8
  for (int item = 0; item < 8; ++item) {
    // A literal is copied like a back-reference whose source is the payload
    // itself, one byte long. Both kinds share one wide copy, and the choice
    // of source and length is made with a mask, not a branch, since flag
    // bits follow no pattern a predictor could learn. Only back-references
    // that overlap their own output or start before it leave that path.
    const std::uintptr_t literalMask = static_cast<std::uintptr_t>(std::intptr_t{literalMasks[item]});
    const std::size_t b0 = in[0];  // for a literal, the two bytes below
    const std::size_t b1 = in[1];  // mean nothing and go unused
    const std::size_t back = i - WindowBias - (b0 | (b1 >> 4) << 8);
    const std::size_t distance = back & WindowMask;
    const std::size_t copyLength = (b1 & 0x0F) + MinCopy;
    const std::size_t length = copyLength + ((1 - copyLength) & literalMask);

    std::uint8_t* out = outputArea + i;
    const std::uintptr_t fromOutput = reinterpret_cast<std::uintptr_t>(out) - distance;
    const std::uintptr_t fromPayload = reinterpret_cast<std::uintptr_t>(in);
    const auto* from =
        reinterpret_cast<const std::uint8_t*>(fromOutput + ((fromPayload - fromOutput) & literalMask));

    // Wide: a literal, or a source at least 16 bytes back (and, near the
    // start, not before the output).
    bool wide = ((back & (WindowMask & ~std::size_t{15})) | literalMask) != 0;
    if constexpr (NearStart) wide = wide & ((distance <= i) | (literalMask != 0));
    if (wide) {
      Copy16(out, from);
      Copy16(out + 16, from + 16);
    } else {
      CopyShort(outputArea, i, distance, length);
    }
    in += 2 + static_cast<std::intptr_t>(literalMask);
    i += length;
  }
  inCursor = in;
  outIndex = i;
}

// Expands a payload. Unbounded, the output area holds MaxExpansion bytes per
// payload byte. Bounded, it holds `capacity` bytes, and the fast loop also
// stops while fewer than FastOutputMargin bytes of room are left; the exact
// loop then checks each item against the room left.
template <bool Bounded>
std::size_t DecodePayload(const std::uint8_t* in, std::size_t payloadLength, std::uint8_t* outputArea,
                          std::size_t capacity) {
  const std::uint8_t* const inEnd = in + payloadLength;
  std::size_t i = 0;  // output bytes written so far
  auto fastRoom = [&] {
    return static_cast<std::size_t>(inEnd - in) >= FastInputMargin && (!Bounded || capacity - i >= FastOutputMargin);
  };

  // Fast loop: whole groups, with room proven by the margins; first while
  // sources may lie before the output, then without that test.
  while (i < WindowSize && fastRoom()) DecodeFastGroup<true>(in, outputArea, i);
  while (fastRoom()) DecodeFastGroup<false>(in, outputArea, i);

  // Exact loop: the last groups, checked byte by byte.
  std::size_t remaining = static_cast<std::size_t>(inEnd - in);
  while (remaining > 0) {
    std::uint32_t flags = *in++;
    --remaining;
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (flags & 1) {
        // Literal: one byte, copied unchanged.
        if (remaining == 0) return i;
        if (Bounded && i == capacity) return DecodeTooSmall;
        outputArea[i++] = *in++;
        --remaining;
      } else {
        // Back-reference: a lone trailing byte is ignored.
        if (remaining < 2) return i;
        const std::size_t b0 = in[0];
        const std::size_t b1 = in[1];
        in += 2;
        remaining -= 2;
        const std::size_t position = b0 | (b1 >> 4) << 8;
        const std::size_t length = (b1 & 0x0F) + MinCopy;
        if (Bounded && capacity - i < length) return DecodeTooSmall;
        const std::size_t distance = (i - position - WindowBias) & WindowMask;
        i = CopyExact(outputArea, i, distance, length);
      }
    }
  }
  return i;
}

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

}  // namespace

std::size_t DecodeLzsPayload(const std::uint8_t* payload, std::size_t payloadLength, std::uint8_t* outputArea,
                             std::size_t outputCapacity) {
  if (outputCapacity / MaxExpansion >= payloadLength) {
    return DecodePayload<false>(payload, payloadLength, outputArea, outputCapacity);
  }
  return DecodePayload<true>(payload, payloadLength, outputArea, outputCapacity);
}

std::size_t DecodedLzsSize(const std::uint8_t* payload, std::size_t payloadLength, bool* lastItemCut) {
  if (lastItemCut != nullptr) *lastItemCut = false;
  const std::uint8_t* in = payload;
  const std::uint8_t* const inEnd = payload + payloadLength;
  std::size_t size = 0;
  // Whole groups: a group is never longer than MaxGroupSize bytes.
  while (static_cast<std::size_t>(inEnd - in) >= MaxGroupSize) {
    const GroupShape& shape = GroupShapes[*in];
    std::uint64_t bytes[2];
    std::uint64_t masks[2];
    __builtin_memcpy(bytes, in + 1, sizeof bytes);
    __builtin_memcpy(masks, shape.lengthMask, sizeof masks);
    // Each byte of the sum holds at most two nibbles of 15.
    size += shape.fixedOutput + ByteSum((bytes[0] & masks[0]) + (bytes[1] & masks[1]));
    in += shape.size;
  }
  // The last groups, item by item, with the same stops as the decoder.
  std::size_t remaining = static_cast<std::size_t>(inEnd - in);
  while (remaining > 0) {
    std::uint32_t flags = *in++;
    --remaining;
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (flags & 1) {
        if (remaining == 0) return size;
        ++size;
        ++in;
        --remaining;
      } else {
        if (remaining < 2) {
          if (lastItemCut != nullptr) *lastItemCut = remaining == 1;
          return size;
        }
        size += (in[1] & 0x0FU) + MinCopy;
        in += 2;
        remaining -= 2;
      }
    }
  }
  return size;
}

std::uint32_t DecodeLzs(const std::uint8_t* image, std::uint32_t imageLength,
                        std::uint8_t* outputArea) {
  if (imageLength <= HeaderSize) return 0;
  const std::uint32_t payloadLength = ReadHeader(image);
  if (payloadLength != imageLength - HeaderSize) return 0;
  return static_cast<std::uint32_t>(
      DecodePayload<false>(image + HeaderSize, payloadLength, outputArea, std::size_t{MaxExpansion} * payloadLength));
}

}  // namespace lzs
