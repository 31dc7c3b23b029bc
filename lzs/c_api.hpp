// What the calls of liblzs's C interface share: error results, the header
// rule's errors, the overlap test and the rule for sizes as results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "lzs.h"
#include "lzs/format.hpp"

namespace lzs {

// The result that carries an error code.
template <typename Size = size_t>
constexpr Size Error(lzs_error code) {
  return static_cast<Size>(0) - static_cast<Size>(code);
}

// A size as a call's result. A size from the first error code up cannot be
// told from an error, and one above the type's range would wrap: both are
// refused as too large. Only where size_t has 32 bits can that happen.
template <typename Size = size_t>
constexpr Size SizeResult(std::uint64_t size) {
  constexpr std::uint64_t largest = std::numeric_limits<Size>::max() - Size{LZS_ERROR_MAX_CODE};
  return size <= largest ? static_cast<Size>(size) : Error<Size>(LZS_ERROR_INPUT_TOO_LARGE);
}

// The header rule (lzs::FitHeader) as a result: 0 when the input is the
// image, else the error lzs_decode gives for it.
constexpr size_t HeaderError(HeaderFit fit) {
  switch (fit) {
    case HeaderFit::Whole: return 0;
    case HeaderFit::NoItems: return Error(LZS_ERROR_NOT_AN_IMAGE);
    case HeaderFit::Truncated: return Error(LZS_ERROR_TRUNCATED);
    case HeaderFit::Trailing: return Error(LZS_ERROR_TRAILING_DATA);
  }
  return Error(LZS_ERROR_NOT_AN_IMAGE);
}

// An lzs_info of what a call learnt; the caller's fields (the limit's name,
// the flags) and the limit empty.
constexpr lzs_info Info(size_t decodedSize, bool lastItemCut, std::uint64_t imageSize,
                        std::uint64_t inputSize) {
  return lzs_info{decodedSize, lastItemCut ? 1 : 0, imageSize, inputSize, 0, nullptr, 0};
}

// Room for the most an image can yield (lzs_decode_bound) up to which
// lzs_decode_alloc decodes in one pass into that room rather than scanning
// for the exact size first: images up to about 3.7 MB. bench/decode_bench
// (onepass, scanfirst) measures both ways with malloc and free as a caller
// has them. Up to 32 MiB of room, one pass is 1.2 to 1.35 times as fast as
// the scan first; above it, 0.6 times: glibc's malloc maps a block that
// large anew each time (32 MiB is its largest threshold for reusing one),
// so the room's pages fault in on every call while the exact size is
// reused. With fresh memory each time one pass stays 1.1 to 1.2 times as
// fast, but asks for up to 9 times the output's size, which Windows and
// WebAssembly commit whole.
inline constexpr size_t OnePassRoomMax = size_t{32} << 20;

// lzs_decode_alloc (or with salvage, lzs_salvage_alloc) with the choice's
// threshold given, for the benchmark that measures it: 0 always scans
// first, SIZE_MAX never does (when the room can be had).
size_t DecodeAllocating(void** output, const void* image, size_t imageSize, size_t maxOutput,
                        lzs_alloc_fn alloc, void* opaque, lzs_info* info, size_t onePassRoomMax,
                        bool salvage = false);

// The payload that decoding takes from src[0, srcSize): all of it after
// the header for a whole image (0, else the header rule's error); with
// salvage, also the image's bytes that are there when it is cut short or
// followed by more (an error only for no image at all). facts gets what
// the header tells (lzs_check_header).
size_t ImagePayload(const void* src, size_t srcSize, bool salvage, lzs_info& facts,
                    size_t& payloadLength);

// A decoded size as a call's result, with facts.decodedSize, and the flag
// LZS_INFO_SALVAGED when the input was not the whole image.
size_t Kept(size_t result, lzs_info& facts);

// Whether [a, a + aSize) and [b, b + bSize) share a byte.
inline bool Overlap(const void* a, size_t aSize, const void* b, size_t bSize) {
  const auto start = reinterpret_cast<std::uintptr_t>(a);
  const auto other = reinterpret_cast<std::uintptr_t>(b);
  return aSize != 0 && bSize != 0 && start < other + bSize && other < start + aSize;
}

}  // namespace lzs
