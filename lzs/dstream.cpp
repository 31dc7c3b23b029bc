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
// Once a call's output holds a whole window, no source lies in the ring, and
// whole groups go through lzs_decode's fast loop of the current path.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/decode_copy.hpp"
#include "lzs/decode_paths.hpp"
#include "lzs/format.hpp"

namespace {

using lzs::Error;

// The recommended input piece and output room (lzs_dstream_in_size and
// lzs_dstream_out_size). Each call decodes its first WindowSize output
// bytes, and copies its last WindowSize into the ring, apart from the fast
// loop: room of many windows makes that share small. These sizes (an image
// packs to about half) keep the stream within a few percent of lzs_decode's
// speed; 64 KiB of each cost 10 to 20 percent.
constexpr size_t RecommendedInput = size_t{128} << 10;
constexpr size_t RecommendedOutput = size_t{256} << 10;

// A whole group: one flag byte and eight two-byte back-references, which
// yield at most eight longest copies.
constexpr size_t MaxGroupInput = 1 + 8 * 2;
// Flag bits of a group, above a marker bit: the group is done when only the
// marker is left.
constexpr std::uint32_t GroupDone = 1;
constexpr std::uint32_t GroupMarker = 0x100;

// The widest load or store of one item, in the whole-group path below.
constexpr size_t WideCopy = 32;

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
  // The ring, then its first WideCopy bytes again, so that a wide load from
  // near its end need not wrap.
  std::uint8_t window[lzs::WindowSize + WideCopy];
  std::uint64_t written;       // output bytes so far
  std::uint32_t payloadLeft;   // payload bytes not yet taken
  std::uint32_t header;        // the header's bytes so far, little-endian
  std::uint32_t headerHave;    // how many of them
  std::uint32_t flags;         // the group's remaining flag bits, see GroupMarker
  std::uint32_t copyLeft;      // bytes of the current back-reference still to write
  std::uint32_t copyDistance;  // its distance
  std::uint8_t firstByte;      // a back-reference's first byte, when haveFirst
  bool haveFirst;
  bool lastItemCut;  // the image ended one byte into a back-reference
  Phase phase;
  size_t result;  // Ended: 0 or the image's error; Failed: the error
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
void Copy(lzs_dstream& ds, Output& out) {
  while (ds.copyLeft != 0 && out.pos < out.cap) {
    Put(ds, out, Source(ds, out, ds.written, ds.copyDistance));
    --ds.copyLeft;
  }
}

void StartCopy(lzs_dstream& ds, std::uint8_t b0, std::uint8_t b1) {
  const std::uint32_t position = b0 | static_cast<std::uint32_t>(b1 >> 4) << 8;
  ds.copyLeft = (b1 & 0x0Fu) + lzs::MinCopy;
  ds.copyDistance =
      static_cast<std::uint32_t>(ds.written - position - lzs::WindowBias) & lzs::WindowMask;
}

// Whole groups while the input holds a whole group and the output has room
// for a group's wide stores: no item needs a check of its own. The state is
// kept in locals here (stores through the output pointer could otherwise
// change any of the context's fields).
//
// Every item is copied with wide loads and stores that may run past its end
// (the items after it overwrite those bytes): a literal as a copy of one
// byte from the input, a back-reference as a copy from the output. A group's
// last item starts at most 7 longest copies in, and at most 15 bytes after
// the flag byte; each item stores at most WideCopy bytes and a literal loads
// WideCopy bytes of input.
constexpr size_t GroupOutputRoom = 7 * size_t{lzs::MaxCopy} + WideCopy;
constexpr size_t GroupInputRoom = 1 + 7 * 2 + WideCopy;

// Fixed-size copies that the compiler turns into plain loads and stores;
// each loads its whole chunk before storing it.
inline void Copy8(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t chunk;
  std::memcpy(&chunk, from, sizeof chunk);
  std::memcpy(to, &chunk, sizeof chunk);
}

inline void Copy16(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t chunk[2];
  std::memcpy(chunk, from, sizeof chunk);
  std::memcpy(to, chunk, sizeof chunk);
}

// A back-reference of distance d from 1 to 7 repeats its last d bytes: the
// first 8 bytes it writes are those d bytes side by side (times
// PatternSpread[d]), and each next 8 are the previous 8 turned by
// PatternTurn[d] = 8 mod d bytes.
constexpr std::uint64_t Spread(std::uint32_t d) {
  std::uint64_t spread = 0;
  for (std::uint32_t byte = 0; byte < 8; byte += d) spread |= std::uint64_t{1} << (8 * byte);
  return spread;
}
constexpr std::uint64_t PatternSpread[8] = {0,         Spread(1), Spread(2), Spread(3),
                                            Spread(4), Spread(5), Spread(6), Spread(7)};
constexpr std::uint8_t PatternTurn[8] = {0, 0, 0, 2, 0, 3, 2, 1};

inline std::uint64_t NextPattern(std::uint64_t bytes, std::uint32_t turn) {
  const std::uint64_t rest = bytes >> (8 * turn);
  return rest | rest << ((64 - 8 * turn) & 63);
}

// A back-reference that is not a plain 16-byte-chunk copy from this call's
// output: distance 0, distances below 16, and (near the start of the call)
// sources before it, in the ring. Writes `length` right bytes at op and at
// most WideCopy bytes in all.
inline void CopyShort(const lzs_dstream& ds, Output& out, std::uint8_t* op, std::uint64_t written,
                      std::uint32_t distance, std::uint32_t length) {
  const std::ptrdiff_t made = op - (out.dst + out.start);  // this call's output so far
  if (distance == 0) {
    std::memset(op, 0, lzs::MaxCopy);  // the source is the byte being written
  } else if (static_cast<std::ptrdiff_t>(distance) > made) {
    // The source starts in the ring and goes on into this call's output:
    // byte by byte.
    out.pos = static_cast<size_t>(op - out.dst);
    for (std::uint32_t k = 0; k < length; ++k) op[k] = Source(ds, out, written + k, distance);
  } else if (distance >= 8) {
    // Overlapping chunks no wider than the distance read only bytes written.
    Copy8(op, op - distance);
    Copy8(op + 8, op + 8 - distance);
    Copy8(op + 16, op + 16 - distance);
  } else {
    std::uint64_t source;
    std::memcpy(&source, op - distance, sizeof source);
    const std::uint64_t keep = (std::uint64_t{1} << (8 * distance)) - 1;
    std::uint64_t bytes = (source & keep) * PatternSpread[distance];
    const std::uint32_t turn = PatternTurn[distance];
    for (size_t chunk = 0; chunk < 3; ++chunk) {
      std::memcpy(op + 8 * chunk, &bytes, sizeof bytes);
      bytes = NextPattern(bytes, turn);
    }
  }
}

// One group. Near the start of the call (fewer than WindowSize bytes of its
// output so far) a source may lie in the ring; past that it cannot.
template <bool NearStart>
inline void DecodeGroup(const lzs_dstream& ds, Output& out, const std::uint8_t*& inCursor,
                        std::uint8_t*& opCursor, std::uint64_t& writtenCursor) {
  const std::uint8_t* in = inCursor;
  std::uint8_t* op = opCursor;
  std::uint64_t written = writtenCursor;
  std::uint8_t* const callStart = out.dst + out.start;
  std::uint32_t flags = *in++;
  if (flags == 0xFF) {  // eight literals
    Copy8(op, in);
    inCursor = in + 8;
    opCursor = op + 8;
    writtenCursor = written + 8;
    return;
  }
#pragma GCC unroll 8
  for (int item = 0; item < 8; ++item, flags >>= 1) {
    // A literal is taken as a one-byte copy whose source is the input, so
    // that both kinds share the wide copy; the choice is made with a mask,
    // not a branch, since flag bits follow no pattern a predictor learns.
    const std::uintptr_t literal = std::uintptr_t{0} - (flags & 1);
    const std::uint32_t b0 = in[0];  // for a literal these two bytes mean
    const std::uint32_t b1 = in[1];  // nothing and go unused
    const auto back = static_cast<std::uint32_t>(written) - lzs::WindowBias - (b0 | (b1 >> 4) << 8);
    const std::uint32_t distance = back & lzs::WindowMask;
    const std::uint32_t copyLength = (b1 & 0x0Fu) + lzs::MinCopy;
    const std::uint32_t length =
        copyLength + ((1 - copyLength) & static_cast<std::uint32_t>(literal));
    const std::uintptr_t fromOutput = reinterpret_cast<std::uintptr_t>(op) - distance;
    const std::uintptr_t fromInput = reinterpret_cast<std::uintptr_t>(in);
    std::uintptr_t from = fromOutput + ((fromInput - fromOutput) & literal);
    bool wide = ((back & (lzs::WindowMask & ~15u)) | literal) != 0;
    if constexpr (NearStart) {
      // A source wholly in the ring is a wide copy from there (the ring's
      // copy of its first bytes covers a source that wraps round its end).
      // Chosen by masks too: whether an item is a literal is no pattern.
      const auto start = reinterpret_cast<std::uintptr_t>(callStart);
      const std::uintptr_t inRing =
          std::uintptr_t{0} - static_cast<std::uintptr_t>(fromOutput < start);
      const bool wholeInRing = fromOutput + length <= start;
      const auto ring = reinterpret_cast<std::uintptr_t>(
          ds.window + (static_cast<std::uint32_t>(written - distance) & lzs::WindowMask));
      from += (ring - from) & inRing & ~literal;
      wide = (wide & (inRing == 0)) | wholeInRing | (literal != 0);
    }
    if (wide) {
      const auto* source = reinterpret_cast<const std::uint8_t*>(from);
      Copy16(op, source);
      Copy16(op + 16, source + 16);
    } else {
      CopyShort(ds, out, op, written, distance, length);
    }
    in += 2 + static_cast<std::intptr_t>(literal);
    op += length;
    written += length;
  }
  inCursor = in;
  opCursor = op;
  writtenCursor = written;
}

void DecodeGroups(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize,
                  size_t& srcPos) {
  const std::uint8_t* const first = src + srcPos;
  const std::uint8_t* in = first;
  // A group must lie inside the payload, and a literal's wide load inside src.
  const size_t payloadHere = srcSize - srcPos < ds.payloadLeft ? srcSize - srcPos : ds.payloadLeft;
  const std::uint8_t* const payloadEnd = first + payloadHere;
  const std::uint8_t* const srcEnd = src + srcSize;
  std::uint8_t* op = out.dst + out.pos;
  std::uint8_t* const opEnd = out.dst + out.cap;
  std::uint8_t* const callStart = out.dst + out.start;
  std::uint64_t written = ds.written;
  // Groups start at in < inStop and op < opStop.
  const auto inputRoom = [](std::ptrdiff_t have, size_t need) {
    return have >= static_cast<std::ptrdiff_t>(need) ? have - static_cast<std::ptrdiff_t>(need) + 1
                                                     : 0;
  };
  const std::ptrdiff_t inFor =
      std::min(inputRoom(payloadEnd - in, MaxGroupInput), inputRoom(srcEnd - in, GroupInputRoom));
  const std::uint8_t* const inStop = in + inFor;
  const std::uint8_t* const opStop = op + inputRoom(opEnd - op, GroupOutputRoom);
  auto room = [&] { return in < inStop && op < opStop; };
  while (op - callStart < static_cast<std::ptrdiff_t>(lzs::WindowSize) && room()) {
    DecodeGroup<true>(ds, out, in, op, written);
  }
  // Past that, the one-shot decoder's fast loop can run the groups, over an
  // output area inside dst whose index `index` is at least WindowSize and
  // congruent to `written` modulo WindowSize (the window position follows
  // from it): dst's offset of op less `lag`, which stays the same all call.
  const auto lag =
      static_cast<size_t>((static_cast<std::uint64_t>(op - out.dst) - written) & lzs::WindowMask);
  auto fastStart = [&] {
    return op - out.dst >= static_cast<std::ptrdiff_t>(lzs::WindowSize + lag);
  };
  while (room() && !fastStart()) DecodeGroup<false>(ds, out, in, op, written);
  if (room() && payloadEnd - in >= static_cast<std::ptrdiff_t>(lzs::FastInputMargin) &&
      opEnd - op >= static_cast<std::ptrdiff_t>(lzs::FastOutputMargin)) {
    // Its margins: FastInputMargin payload bytes ahead of a group (which
    // also keeps a literal's wide load inside src), and room for a whole
    // group's wide stores before opEnd.
    const auto index = static_cast<size_t>(op - out.dst) - lag;
    std::uint8_t* const area = op - index;
    const size_t outLimit = static_cast<size_t>(opEnd - area) - lzs::FastOutputMargin;
    const size_t end = lzs::CurrentFastLoop()(in, payloadEnd, area, index, outLimit);
    op = area + end;
    written += end - index;
  }
  while (room()) DecodeGroup<false>(ds, out, in, op, written);
  const auto used = static_cast<size_t>(in - first);
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
  std::memcpy(ds.window + lzs::WindowSize, ds.window, WideCopy);
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

size_t Decode(lzs_dstream& ds, Output& out, const std::uint8_t* src, size_t srcSize,
              size_t& srcPos) {
  for (;;) {
    Copy(ds, out);
    if (ds.copyLeft != 0) return Hint(ds);
    if (ds.phase == Phase::Failed) return ds.result;
    if (ds.phase == Phase::Ended) {
      // Input past the image's end: lzs_decode would find the header short.
      if (srcPos == srcSize) return ds.result;
      ds.phase = Phase::Failed;
      ds.result = Error(LZS_ERROR_TRAILING_DATA);
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
      ds.lastItemCut = true;
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

size_t lzs_decode_stream(lzs_dstream* ds, void* dst, size_t dstCapacity, size_t* dstPos,
                         const void* src, size_t srcSize, size_t* srcPos) {
  if (ds == nullptr || dstPos == nullptr || srcPos == nullptr || *dstPos > dstCapacity ||
      *srcPos > srcSize || (dst == nullptr && dstCapacity != 0) ||
      (src == nullptr && srcSize != 0) || lzs::Overlap(dst, dstCapacity, src, srcSize)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  Output out{static_cast<std::uint8_t*>(dst), *dstPos, dstCapacity, *dstPos, ds->written};
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
      ds->headerHave == lzs::HeaderSize ? std::uint64_t{lzs::HeaderSize} + ds->header : 0;
  const std::uint64_t taken = imageSize != 0 ? imageSize - ds->payloadLeft : ds->headerHave;
  const size_t given = lzs::SizeResult(ds->written);
  if (info != nullptr) {
    *info = lzs_info{lzs_is_error(given) ? 0 : given, ds->lastItemCut || ds->haveFirst, imageSize,
                     taken};
  }
  switch (ds->phase) {
    case Phase::Failed: return ds->result;
    case Phase::Ended: return ds->result != 0 ? ds->result : given;
    default:
      return ds->copyLeft != 0 ? Error(LZS_ERROR_DST_TOO_SMALL)
                               : lzs::CheckHeader(taken, ds->header);
  }
}

size_t lzs_dstream_in_size(void) { return RecommendedInput; }
size_t lzs_dstream_out_size(void) { return RecommendedOutput; }
