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
//
// Items go one by one through the decoder's item walk (lzs/walk.hpp), which
// can stop between any two bytes and go on in the next call; a copy that
// the output room cuts short goes on in the next call too. Whole groups go
// through lzs_decode's own group loop (lzs::DecodeGroups), which needs the
// window in one line before its output: see DecodeGroups below.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/decode.hpp"
#include "lzs/decode_groups.hpp"
#include "lzs/format.hpp"
#include "lzs/walk.hpp"

namespace {

using lzs::Error;

// The recommended input piece and output room (lzs_dstream_in_size and
// lzs_dstream_out_size). Each call decodes its first window or two of output
// in the stage and copies it out, and copies its last WindowSize bytes into
// the ring: room of many windows makes that share small. These sizes (an image
// packs to about half) keep the stream within a few percent of lzs_decode's
// speed; 64 KiB of each cost 3 to 15 percent (bench/decode_bench).
constexpr size_t RecommendedInput = size_t{128} << 10;
constexpr size_t RecommendedOutput = size_t{256} << 10;

// The stage, where whole groups are decoded while a call's output does not
// hold a whole window yet: the window laid out in a line from its phase
// (below WindowSize) on, then room for up to two windows of output and the
// group loop's margin.
constexpr size_t StageRoom = 2 * size_t{lzs::WindowSize} + lzs::FastOutputMargin;
constexpr size_t StageSize = 2 * size_t{lzs::WindowSize} + StageRoom;

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
  std::uint8_t window[lzs::WindowSize];  // the ring
  std::uint8_t stage[StageSize];
  std::uint64_t written;       // output bytes so far
  lzs::WalkState walk;         // where the items stand
  std::uint32_t payloadLeft;   // payload bytes not yet taken
  std::uint32_t header;        // the header's bytes so far, little-endian
  std::uint32_t headerHave;    // how many of them
  std::uint32_t copyLeft;      // bytes of the current back-reference still to write
  std::uint32_t copyDistance;  // its distance
  bool lastItemCut;            // the image ended one byte into a back-reference
  bool waitsForRoom;           // the last call stopped at a literal for want of room
  Phase phase;                 // Ended: the payload is all taken
  size_t result;               // Failed: the error
};

namespace {

// The byte `distance` back from output index `at`, as written so far: zero
// before the start and for distance 0.
inline std::uint8_t Source(const lzs_dstream& ds, const Output& out, std::uint64_t at,
                           std::uint32_t distance) {
  if (distance == 0) return 0;
  if (distance > at - out.base) return ds.window[(at - distance) & lzs::WindowMask];
  return out.dst[out.start + (at - distance - out.base)];
}

inline void Put(lzs_dstream& ds, Output& out, std::uint8_t byte) {
  out.dst[out.pos++] = byte;
  ++ds.written;
}

// Writes what fits of the current back-reference.
[[gnu::always_inline]] inline void Copy(lzs_dstream& ds, Output& out) {
  while (ds.copyLeft != 0 && out.pos < out.cap) {
    Put(ds, out, Source(ds, out, ds.written, ds.copyDistance));
    --ds.copyLeft;
  }
}

// Lays out the WindowSize output bytes before the next one in a line at
// `to`, oldest first: from the ring, and from this call's output, which the
// ring does not hold yet.
void LayOutWindow(const lzs_dstream& ds, const Output& out, std::uint8_t* to) {
  const size_t made = out.pos - out.start;
  const size_t fromOutput = made < lzs::WindowSize ? made : lzs::WindowSize;
  const size_t fromRing = lzs::WindowSize - fromOutput;
  // The oldest byte's slot is that of the next byte, `phase`.
  const auto phase = static_cast<size_t>(ds.written & lzs::WindowMask);
  const size_t upToEnd = std::min(fromRing, lzs::WindowSize - phase);
  std::memcpy(to, ds.window + phase, upToEnd);
  std::memcpy(to + upToEnd, ds.window, fromRing - upToEnd);
  std::memcpy(to + fromRing, out.dst + out.pos - fromOutput, fromOutput);
}

// Whole groups, through lzs::DecodeGroups, as long as the input holds
// FastInputMargin payload bytes and the output has FastOutputMargin bytes of
// room. That loop decodes into an area whose bytes before the current one
// are the output before it, and takes the window position from the current
// index, so that index must be at least WindowSize and congruent to
// ds.written modulo WindowSize:
//  - while this call's output holds less than a window, the area is the
//    stage, with the window laid out before the index; the groups' output
//    is then copied to dst;
//  - after that, the area is dst itself, from the offset `lag` on, which is
//    congruent to dst's offset of output index 0 and stays the same all
//    call. The index there is at least WindowSize once dst holds WindowSize
//    + lag bytes, which the stage's room of two windows always reaches.
void DecodeGroups(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize,
                  size_t& srcPos) {
  const std::uint8_t* const first = src + srcPos;
  const std::uint8_t* in = first;
  const std::uint8_t* const inEnd =
      first + std::min(srcSize - srcPos, static_cast<size_t>(ds.payloadLeft));
  const auto lag = static_cast<size_t>((out.start - out.base) & lzs::WindowMask);
  const size_t direct = std::max(lzs::WindowSize + lag, out.start + lzs::WindowSize);
  // Runs the loop in area[0, end) from `index` on, at most up to `last`;
  // returns the number of bytes it wrote.
  auto run = [&](std::uint8_t* area, size_t index, size_t end, size_t last) -> size_t {
    if (end - index < lzs::FastOutputMargin) return 0;
    const size_t limit = std::min(end - lzs::FastOutputMargin, last);
    const size_t wrote = lzs::DecodeGroups(in, inEnd, area, index, limit) - index;
    ds.written += wrote;
    return wrote;
  };
  while (static_cast<size_t>(inEnd - in) >= lzs::FastInputMargin) {
    if (out.pos >= direct) {
      out.pos += run(out.dst + lag, out.pos - lag, out.cap - lag, SIZE_MAX);
      break;
    }
    const auto index = static_cast<size_t>(ds.written & lzs::WindowMask) + lzs::WindowSize;
    const size_t room = std::min(StageRoom, out.cap - out.pos);
    if (room < lzs::FastOutputMargin) break;
    LayOutWindow(ds, out, ds.stage + index - lzs::WindowSize);
    const size_t wrote = run(ds.stage, index, index + room, index + (direct - out.pos) - 1);
    std::memcpy(out.dst + out.pos, ds.stage + index, wrote);
    out.pos += wrote;
    if (out.pos < direct) break;  // the input or the room ran short
  }
  const auto used = static_cast<size_t>(in - first);
  srcPos += used;
  ds.payloadLeft -= static_cast<std::uint32_t>(used);
  ds.walk.offset += used;
  ds.walk.output = ds.written;
}

// Items through the walk, as far as the piece, the payload and the room go,
// and up to the end of a group, where the group loop may take over again.
// Returns true when it stopped at a literal for want of room (a
// back-reference is taken without room: its copy waits in copyLeft).
bool TakeItems(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize,
               size_t& srcPos) {
  const std::uint8_t* const first = src + srcPos;
  const std::uint8_t* in = first;
  const bool payloadEnds = srcSize - srcPos >= ds.payloadLeft;
  const std::uint8_t* const end = payloadEnds ? first + ds.payloadLeft : src + srcSize;
  bool wantsRoom = false;
  const lzs::WalkStop stop =
      lzs::WalkItems(in, end, payloadEnds, ds.walk, [&](const lzs::Item& item) {
        if (item.reference) {
          ds.copyLeft = item.length;
          ds.copyDistance = item.distance;
          Copy(ds, out);
        } else if (out.pos == out.cap) {
          wantsRoom = true;
          return lzs::WalkStep::Refuse;
        } else {
          Put(ds, out, item.literal);
        }
        return out.pos == out.cap || item.groupEnds ? lzs::WalkStep::Stop : lzs::WalkStep::Next;
      });
  const auto used = static_cast<size_t>(in - first);
  srcPos += used;
  ds.payloadLeft -= static_cast<std::uint32_t>(used);
  if (stop == lzs::WalkStop::Cut) ds.lastItemCut = true;
  return wantsRoom;
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

size_t Decode(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize,
              size_t& srcPos) {
  for (;;) {
    Copy(ds, out);
    if (ds.copyLeft != 0) return Hint(ds);
    if (ds.phase == Phase::Failed) return ds.result;
    if (ds.phase == Phase::Ended) {
      // The verdict waits for the end of the input (lzs_dstream_end): even
      // an image that is not one (a header of 0) or yields no byte is
      // followed by more input in the bytes lzs_decode would be given,
      // which makes its verdict that input past the end.
      if (srcPos == srcSize) return 0;
      ds.phase = Phase::Failed;
      ds.result = Error(LZS_ERROR_TRAILING_DATA);
      return ds.result;
    }
    if (ds.phase == Phase::Items && ds.payloadLeft == 0) {
      ds.phase = Phase::Ended;
      continue;
    }
    if (srcPos == srcSize) return Hint(ds);
    if (ds.phase == Phase::Header) {
      ds.header |= std::uint32_t{src[srcPos++]} << (8 * ds.headerHave);
      if (++ds.headerHave < lzs::HeaderSize) continue;
      ds.phase = Phase::Items;
      ds.payloadLeft = ds.header;
      continue;
    }
    if (ds.walk.flags == lzs::WalkState::GroupDone && !ds.walk.haveFirst) {
      DecodeGroups(ds, out, src, srcSize, srcPos);
      if (ds.payloadLeft == 0 || srcPos == srcSize) continue;
    }
    if (TakeItems(ds, out, src, srcSize, srcPos)) {
      ds.waitsForRoom = true;
      return Hint(ds);
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
  // Value-initialized: every byte zero (the window starts zero-filled), the
  // walk at its start, the phase Header.
  new (ds) lzs_dstream();
  return 0;
}

size_t lzs_decode_stream(lzs_dstream* ds, void* dst, size_t dstCapacity, size_t* dstPos,
                         const void* src, size_t srcSize, size_t* srcPos) {
  if (ds == nullptr || dstPos == nullptr || srcPos == nullptr || *dstPos > dstCapacity ||
      *srcPos > srcSize || (dst == nullptr && dstCapacity != 0) ||
      (src == nullptr && srcSize != 0) || lzs::Overlap(dst, dstCapacity, src, srcSize)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  Output out{static_cast<std::uint8_t*>(dst), *dstPos, dstCapacity, *dstPos, ds->written};
  ds->waitsForRoom = false;
  const size_t result = Decode(*ds, out, static_cast<const std::uint8_t*>(src), srcSize, *srcPos);
  KeepWindow(*ds, out);
  *dstPos = out.pos;
  return result;
}

size_t lzs_dstream_end(lzs_dstream* ds, lzs_info* info) {
  if (info != nullptr) *info = lzs_info{};
  if (ds == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  // imageSize is 0 until the whole header is seen, and at least HeaderSize after.
  const std::uint64_t imageSize =
      ds->headerHave == lzs::HeaderSize ? lzs::ImageSize(ds->header) : 0;
  const std::uint64_t taken = imageSize != 0 ? imageSize - ds->payloadLeft : ds->headerHave;
  const size_t given = lzs::SizeResult(ds->written);
  if (info != nullptr) {
    *info = lzs::Info(lzs_is_error(given) ? 0 : given, ds->lastItemCut || ds->walk.haveFirst,
                      imageSize, taken);
  }
  if (ds->phase == Phase::Failed) return ds->result;
  // Output still waiting, in a copy or in input not taken for want of
  // room, whatever the room was: the caller has more to give.
  if (ds->copyLeft != 0 || ds->waitsForRoom) return Error(LZS_ERROR_DST_TOO_SMALL);
  // Then lzs_decode's verdict on the bytes taken: the header rule, then the
  // output.
  const size_t header = lzs::HeaderError(lzs::FitHeader(taken, ds->header));
  if (header != 0) return header;
  return ds->written == 0 ? Error(LZS_ERROR_NO_OUTPUT) : given;
}

size_t lzs_dstream_in_size(void) { return RecommendedInput; }
size_t lzs_dstream_out_size(void) { return RecommendedOutput; }
