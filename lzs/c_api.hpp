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

// Whether [a, a + aSize) and [b, b + bSize) share a byte.
inline bool Overlap(const void* a, size_t aSize, const void* b, size_t bSize) {
  const auto start = reinterpret_cast<std::uintptr_t>(a);
  const auto other = reinterpret_cast<std::uintptr_t>(b);
  return aSize != 0 && bSize != 0 && start < other + bSize && other < start + aSize;
}

}  // namespace lzs
