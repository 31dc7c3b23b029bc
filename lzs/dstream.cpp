// liblzs: the streaming decoder (lzs_dstream_* and lzs_decode_stream). It
// takes an image in pieces of any size and gives the output in pieces of any
// size, with the same result as lzs_decode on the whole image.
//
// The context keeps the last WindowSize output bytes in a ring, enough for
// any back-reference. During a call the ring is left as it was at the call's
// start: a copy reads the bytes that this call wrote from dst, and older ones
// from the ring. Before the call returns, the bytes it wrote go into the
// ring. Bytes before the start of the output are zero: the ring starts
// zero-filled, and a slot is written only once its output index is reached.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lzs.h"
#include "lzs/format.hpp"

namespace {

constexpr size_t Error(lzs_error code) { return static_cast<size_t>(0) - code; }

// A whole group: one flag byte and eight two-byte back-references, which
// yield at most eight longest copies.
constexpr size_t MaxGroupInput = 1 + 8 * 2;
constexpr size_t MaxGroupOutput = size_t{8} * lzs::MaxCopy;
// Flag bits of a group, above a marker bit: the group is done when only the
// marker is left.
constexpr std::uint32_t GroupDone = 1;
constexpr std::uint32_t GroupMarker = 0x100;

enum class Phase : std::uint8_t { Header, Items, Ended, Failed };

// The output side of one call: dst[start, cap), the bytes this call writes
// starting at output index `base`.
struct Output {
  std::uint8_t* dst;
  size_t pos;
  size_t cap;
  size_t start;
  std::uint64_t base;
};

}  // namespace

struct lzs_dstream {
  std::uint8_t window[lzs::WindowSize];
  std::uint64_t written;       // output bytes so far
  std::uint32_t payloadLeft;   // payload bytes not yet taken
  std::uint32_t header;        // the header's bytes so far, little-endian
  std::uint32_t headerHave;    // how many of them
  std::uint32_t flags;         // the group's remaining flag bits, see GroupMarker
  std::uint32_t copyLeft;      // bytes of the current back-reference still to write
  std::uint32_t copyDistance;  // its distance
  std::uint8_t firstByte;      // a back-reference's first byte, when haveFirst
  bool haveFirst;
  Phase phase;
  size_t result;  // Ended: 0 or the image's error; Failed: the error
};

namespace {

// The byte `distance` back from output index `at`, as written so far: zero
// before the start and for distance 0.
inline std::uint8_t Source(const lzs_dstream& ds, const Output& out, std::uint64_t at, std::uint32_t distance) {
  if (distance == 0) return 0;
  if (distance > at - out.base) return ds.window[(at - distance) & lzs::WindowMask];
  return out.dst[out.start + (at - distance - out.base)];
}

inline void Put(lzs_dstream& ds, Output& out, std::uint8_t byte) {
  out.dst[out.pos++] = byte;
  ++ds.written;
}

// Writes what fits of the current back-reference.
void Copy(lzs_dstream& ds, Output& out) {
  while (ds.copyLeft != 0 && out.pos < out.cap) {
    Put(ds, out, Source(ds, out, ds.written, ds.copyDistance));
    --ds.copyLeft;
  }
}

void StartCopy(lzs_dstream& ds, std::uint8_t b0, std::uint8_t b1) {
  const std::uint32_t position = b0 | static_cast<std::uint32_t>(b1 >> 4) << 8;
  ds.copyLeft = (b1 & 0x0Fu) + lzs::MinCopy;
  ds.copyDistance = static_cast<std::uint32_t>(ds.written - position - lzs::WindowBias) & lzs::WindowMask;
}

// Whole groups while the input holds a whole group and the output has room
// for its longest result and a wide copy's overshoot: no item needs a check
// of its own. The state is kept in locals here (stores through the output
// pointer could otherwise change any of the context's fields).
constexpr size_t Overshoot = 16;

void DecodeGroups(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize, size_t& srcPos) {
  const std::uint8_t* in = src + srcPos;
  const std::uint8_t* const inEnd = in + (srcSize - srcPos < ds.payloadLeft ? srcSize - srcPos : ds.payloadLeft);
  std::uint8_t* op = out.dst + out.pos;
  std::uint8_t* const opEnd = out.dst + out.cap;
  std::uint8_t* const callStart = out.dst + out.start;
  std::uint64_t written = ds.written;
  while (inEnd - in >= static_cast<std::ptrdiff_t>(MaxGroupInput) &&
         opEnd - op >= static_cast<std::ptrdiff_t>(MaxGroupOutput + Overshoot)) {
    std::uint32_t flags = *in++;
    if (flags == 0xFF) {  // eight literals
      std::memcpy(op, in, 8);
      op += 8;
      in += 8;
      written += 8;
      continue;
    }
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (flags & 1) {
        *op++ = *in++;
        ++written;
        continue;
      }
      const std::uint32_t position = in[0] | static_cast<std::uint32_t>(in[1] >> 4) << 8;
      const std::uint32_t length = (in[1] & 0x0Fu) + lzs::MinCopy;
      in += 2;
      const auto distance = static_cast<std::uint32_t>(written - position - lzs::WindowBias) & lzs::WindowMask;
      if (distance >= 16 && distance <= static_cast<size_t>(op - callStart)) {
        for (std::uint32_t k = 0; k < length; k += 16) {
          std::uint8_t chunk[16];
          std::memcpy(chunk, op - distance + k, sizeof chunk);
          std::memcpy(op + k, chunk, sizeof chunk);
        }
      } else if (distance == 1 && op != callStart) {
        std::memset(op, op[-1], lzs::MaxCopy);  // a run: the last byte repeated
      } else if (distance >= 8 && distance <= static_cast<size_t>(op - callStart)) {
        // Source in this call's output, at least 8 back: 8-byte chunks (16
        // from 16 back), each read before it is written, may run up to 15
        // bytes past the copy, inside the room checked above.
        for (std::uint32_t k = 0; k < length; k += 8) {
          std::uint64_t chunk;
          std::memcpy(&chunk, op - distance + k, sizeof chunk);
          std::memcpy(op + k, &chunk, sizeof chunk);
        }
      } else if (distance != 0 && distance <= static_cast<size_t>(op - callStart)) {
        const std::uint8_t* from = op - distance;  // overlapping: byte by byte
        for (std::uint32_t k = 0; k < length; ++k) op[k] = from[k];
      } else {
        out.pos = static_cast<size_t>(op - out.dst);
        for (std::uint32_t k = 0; k < length; ++k) op[k] = Source(ds, out, written + k, distance);
      }
      op += length;
      written += length;
    }
  }
  const auto used = static_cast<size_t>(in - (src + srcPos));
  srcPos += used;
  ds.payloadLeft -= static_cast<std::uint32_t>(used);
  ds.written = written;
  out.pos = static_cast<size_t>(op - out.dst);
}

// Puts the bytes this call wrote into the ring: the last WindowSize of them.
void KeepWindow(lzs_dstream& ds, const Output& out) {
  const size_t produced = out.pos - out.start;
  const size_t keep = produced < lzs::WindowSize ? produced : lzs::WindowSize;
  for (size_t k = out.pos - keep; k < out.pos;) {
    const auto slot = static_cast<size_t>((out.base + (k - out.start)) & lzs::WindowMask);
    size_t run = lzs::WindowSize - slot;
    if (run > out.pos - k) run = out.pos - k;
    std::memcpy(ds.window + slot, out.dst + k, run);
    k += run;
  }
}

// What a call returns while the image is not complete: the payload bytes
// still to come (at least 1, also when only output is waiting).
size_t Hint(const lzs_dstream& ds) {
  if (ds.phase == Phase::Header) return lzs::HeaderSize - ds.headerHave;
  if (ds.payloadLeft == 0) return 1;
  // Far below the error codes, also where size_t has 32 bits.
  return ds.payloadLeft < SIZE_MAX / 2 ? ds.payloadLeft : SIZE_MAX / 2;
}

void End(lzs_dstream& ds, size_t result) {
  ds.phase = Phase::Ended;
  ds.result = result;
}

size_t Decode(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize, size_t& srcPos) {
  for (;;) {
    Copy(ds, out);
    if (ds.copyLeft != 0) return Hint(ds);
    if (ds.phase == Phase::Failed) return ds.result;
    if (ds.phase == Phase::Ended) {
      // Input past the image's end: lzs_decode would find the header short.
      if (srcPos == srcSize) return ds.result;
      ds.phase = Phase::Failed;
      ds.result = Error(LZS_ERROR_HEADER_MISMATCH);
      return ds.result;
    }
    if (ds.phase == Phase::Items && ds.payloadLeft == 0) {
      End(ds, ds.written == 0 ? Error(LZS_ERROR_NO_OUTPUT) : 0);
      continue;
    }
    if (srcPos == srcSize) return Hint(ds);
    if (ds.phase == Phase::Header) {
      ds.header |= std::uint32_t{src[srcPos++]} << (8 * ds.headerHave);
      if (++ds.headerHave < lzs::HeaderSize) continue;
      ds.phase = Phase::Items;
      ds.payloadLeft = ds.header;
      if (ds.header == 0) End(ds, Error(LZS_ERROR_NOT_AN_IMAGE));
      continue;
    }
    if (ds.flags == GroupDone) {
      DecodeGroups(ds, out, src, srcSize, srcPos);
      if (ds.payloadLeft == 0 || srcPos == srcSize) continue;
      ds.flags = src[srcPos++] | GroupMarker;
      --ds.payloadLeft;
      continue;
    }
    if (ds.flags & 1) {
      if (out.pos == out.cap) return Hint(ds);
      Put(ds, out, src[srcPos++]);
      --ds.payloadLeft;
      ds.flags >>= 1;
      continue;
    }
    if (ds.haveFirst) {
      StartCopy(ds, ds.firstByte, src[srcPos++]);
      --ds.payloadLeft;
      ds.haveFirst = false;
      ds.flags >>= 1;
    } else if (ds.payloadLeft < 2) {
      // A back-reference cut off by the end of the image: its byte is dropped.
      ++srcPos;
      ds.payloadLeft = 0;
    } else {
      ds.firstByte = src[srcPos++];
      --ds.payloadLeft;
      ds.haveFirst = true;
    }
  }
}

}  // namespace

lzs_dstream* lzs_dstream_create(void) {
  auto* ds = static_cast<lzs_dstream*>(std::malloc(sizeof(lzs_dstream)));
  if (ds != nullptr) lzs_dstream_reset(ds);
  return ds;
}

void lzs_dstream_free(lzs_dstream* ds) { std::free(ds); }

size_t lzs_dstream_reset(lzs_dstream* ds) {
  if (ds == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  std::memset(ds, 0, sizeof *ds);
  ds->flags = GroupDone;
  ds->phase = Phase::Header;
  return 0;
}

size_t lzs_decode_stream(lzs_dstream* ds, void* dst, size_t dstCapacity, size_t* dstPos, const void* src,
                         size_t srcSize, size_t* srcPos) {
  if (ds == nullptr || dstPos == nullptr || srcPos == nullptr || *dstPos > dstCapacity || *srcPos > srcSize ||
      (dst == nullptr && dstCapacity != 0) || (src == nullptr && srcSize != 0)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  Output out{static_cast<std::uint8_t*>(dst), *dstPos, dstCapacity, *dstPos, ds->written};
  const size_t result = Decode(*ds, out, static_cast<const std::uint8_t*>(src), srcSize, *srcPos);
  KeepWindow(*ds, out);
  *dstPos = out.pos;
  return result;
}
