// liblzs: the streaming encoder (lzs_cstream_*, lzs_encode_stream) and the
// segments that let other threads do a chunk's share of its work
// (lzs_segment_*, lzs_encode_segment), over lzs::StreamEncoder.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/encode_stream.hpp"

static_assert(LZS_SEGMENT_SIZE % lzs::FastBlockSize == 0);
static_assert(LZS_SEGMENT_BEFORE == lzs::MaxDistance && LZS_SEGMENT_AFTER == lzs::SegmentAfter);

namespace {

using lzs::Error;

// The recommended input piece and output room: a piece of the text buffer's
// size, and room for the output stage.
constexpr size_t RecommendedInput = size_t{256} << 10;
constexpr size_t RecommendedOutput = size_t{128} << 10;

enum class Phase : std::uint8_t { Open, Closed, Failed };

bool KnownLevel(int level) {
  return level == LZS_LEVEL_DEFAULT || level == LZS_LEVEL_FAST || level == LZS_LEVEL_OPTIMAL;
}

lzs::Parse ParseOf(int level) {
  return level == LZS_LEVEL_FAST ? lzs::Parse::Fast : lzs::Parse::Optimal;
}

template <typename T>
T* Create() {
  void* memory = std::malloc(sizeof(T));
  return memory == nullptr ? nullptr : new (memory) T;
}

template <typename T>
void Destroy(T* object) {
  if (object == nullptr) return;
  object->~T();
  std::free(object);
}

}  // namespace

struct lzs_cstream {
  lzs::StreamEncoder stream;
  int level = LZS_LEVEL_DEFAULT;
  size_t memoryLimit = LZS_CSTREAM_MEMORY_DEFAULT;
  Phase phase = Phase::Open;
  size_t error = 0;
  bool done = false;
  std::uint64_t image = 0;  // images begun: a reset begins one
};

struct lzs_segment {
  lzs::SegmentParser parser;
  bool parsed = false;
  // The stream and image that took the chunk whole (whose output may still
  // wait).
  const lzs_cstream* takenBy = nullptr;
  std::uint64_t takenIn = 0;
};

namespace {

size_t Fail(lzs_cstream* cs, size_t error) {
  cs->phase = Phase::Failed;
  cs->error = error;
  return error;
}

// A call's result from the encoder's status.
size_t Result(lzs_cstream* cs, lzs::EncodeStatus status, bool closing) {
  switch (status) {
    case lzs::EncodeStatus::Done: cs->done = true; return 0;
    case lzs::EncodeStatus::OutOfMemory: return Fail(cs, Error(LZS_ERROR_OUT_OF_MEMORY));
    case lzs::EncodeStatus::TooLarge: return Fail(cs, Error(LZS_ERROR_INPUT_TOO_LARGE));
    case lzs::EncodeStatus::Misused: return Fail(cs, Error(LZS_ERROR_BAD_ARGUMENT));
    case lzs::EncodeStatus::Working: break;
  }
  const size_t waiting = cs->stream.Waiting();
  return closing && waiting == 0 ? 1 : waiting;
}

}  // namespace

lzs_cstream* lzs_cstream_create(void) {
  lzs_cstream* cs = Create<lzs_cstream>();
  if (cs != nullptr && lzs_is_error(lzs_cstream_reset(cs, LZS_LEVEL_DEFAULT))) {
    Destroy(cs);
    return nullptr;
  }
  return cs;
}

void lzs_cstream_free(lzs_cstream* cs) { Destroy(cs); }

size_t lzs_cstream_reset(lzs_cstream* cs, int level) {
  if (cs == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (!KnownLevel(level)) return Error(LZS_ERROR_BAD_LEVEL);
  cs->level = level;
  cs->phase = Phase::Open;
  cs->error = 0;
  cs->done = false;
  ++cs->image;
  if (!cs->stream.Reset(ParseOf(level), cs->memoryLimit)) {
    return Fail(cs, Error(LZS_ERROR_OUT_OF_MEMORY));
  }
  return 0;
}

size_t lzs_cstream_set_memory_limit(lzs_cstream* cs, size_t bytes) {
  if (cs == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  cs->memoryLimit = bytes;
  return lzs_cstream_reset(cs, cs->level);
}

size_t lzs_encode_stream(lzs_cstream* cs, void* dst, size_t dstCapacity, size_t* dstPos,
                         const void* src, size_t srcSize, size_t* srcPos, lzs_cstream_op op) {
  if (cs == nullptr || dstPos == nullptr || srcPos == nullptr || *dstPos > dstCapacity ||
      *srcPos > srcSize || (dst == nullptr && dstCapacity != 0) ||
      (src == nullptr && srcSize != 0) || lzs::Overlap(dst, dstCapacity, src, srcSize) ||
      (op != LZS_CSTREAM_CONTINUE && op != LZS_CSTREAM_END)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  if (cs->phase == Phase::Failed) return cs->error;
  const bool more = *srcPos < srcSize;
  if (cs->phase == Phase::Closed && more) return Fail(cs, Error(LZS_ERROR_BAD_ARGUMENT));
  const bool closing = cs->phase == Phase::Closed || op == LZS_CSTREAM_END;
  if (closing && !more && cs->stream.InputTaken() == 0) {
    return Fail(cs, Error(LZS_ERROR_EMPTY_INPUT));
  }
  const lzs::EncodeStatus status =
      cs->stream.Encode(static_cast<const std::uint8_t*>(src), srcSize, srcPos,
                        static_cast<std::uint8_t*>(dst), dstCapacity, dstPos, closing);
  if (closing && *srcPos == srcSize) cs->phase = Phase::Closed;
  return Result(cs, status, cs->phase == Phase::Closed);
}

size_t lzs_cstream_header(const lzs_cstream* cs, void* header) {
  if (cs == nullptr || header == nullptr || !cs->done) return Error(LZS_ERROR_BAD_ARGUMENT);
  const std::uint64_t payload = cs->stream.PayloadSize();
  auto* const bytes = static_cast<std::uint8_t*>(header);
  for (std::uint32_t k = 0; k < lzs::HeaderSize; ++k) {
    bytes[k] = static_cast<std::uint8_t>(payload >> (8 * k));
  }
  return lzs::SizeResult(payload + lzs::HeaderSize);
}

size_t lzs_cstream_in_size(void) { return RecommendedInput; }
size_t lzs_cstream_out_size(void) { return RecommendedOutput; }

lzs_segment* lzs_segment_create(void) { return Create<lzs_segment>(); }

void lzs_segment_free(lzs_segment* seg) { Destroy(seg); }

size_t lzs_segment_parse(lzs_segment* seg, int level, const void* chunk, size_t chunkSize,
                         unsigned long long offset, int last) {
  if (seg == nullptr || chunk == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (!KnownLevel(level)) return Error(LZS_ERROR_BAD_LEVEL);
  seg->parsed = false;
  seg->takenBy = nullptr;
  if (chunkSize == 0 || offset % LZS_SEGMENT_SIZE != 0 ||
      (last == 0 && chunkSize % LZS_SEGMENT_SIZE != 0)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  if (!seg->parser.Run(ParseOf(level), static_cast<const std::uint8_t*>(chunk), chunkSize, offset,
                       last != 0, lzs::FastLimits{})) {
    return Error(LZS_ERROR_OUT_OF_MEMORY);
  }
  seg->parsed = true;
  return 0;
}

size_t lzs_encode_segment(lzs_cstream* cs, lzs_segment* seg, void* dst, size_t dstCapacity,
                          size_t* dstPos) {
  if (cs == nullptr || seg == nullptr || dstPos == nullptr || *dstPos > dstCapacity ||
      (dst == nullptr && dstCapacity != 0) || !seg->parsed) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  if (cs->phase == Phase::Failed) return cs->error;
  if (cs->phase == Phase::Closed) return Fail(cs, Error(LZS_ERROR_BAD_ARGUMENT));
  lzs::EncodeStatus status = lzs::EncodeStatus::Working;
  const bool taken = seg->takenBy == cs && seg->takenIn == cs->image;
  if (taken) {
    size_t none = 0;
    status = cs->stream.Encode(nullptr, 0, &none, static_cast<std::uint8_t*>(dst), dstCapacity,
                               dstPos, false);
  } else {
    status = cs->stream.Take(seg->parser, static_cast<std::uint8_t*>(dst), dstCapacity, dstPos);
    if (status == lzs::EncodeStatus::Done) {
      seg->takenBy = cs;
      seg->takenIn = cs->image;
    }
  }
  if (status == lzs::EncodeStatus::Done || status == lzs::EncodeStatus::Working) {
    const size_t waiting = cs->stream.Waiting();
    return status == lzs::EncodeStatus::Done || taken || waiting != 0 ? waiting : 1;
  }
  return Result(cs, status, false);
}
