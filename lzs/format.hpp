// The LZS format: a 4-byte little-endian payload length, then groups of one
// flag byte and up to eight items (literal bytes and two-byte back-references
// into a 4096-byte window).
#pragma once

#include <cstdint>

namespace lzs {

inline constexpr std::uint32_t HeaderSize = 4;
inline constexpr std::uint32_t WindowSize = 4096;
inline constexpr std::uint32_t WindowMask = WindowSize - 1;
// Window position of output index k is (k - WindowBias) mod WindowSize.
inline constexpr std::uint32_t WindowBias = 18;
inline constexpr std::uint32_t MinCopy = 3;
inline constexpr std::uint32_t MaxCopy = 18;
// Every payload byte yields at most this many output bytes (a two-byte
// back-reference yields at most MaxCopy bytes).
inline constexpr std::uint32_t MaxExpansion = MaxCopy / 2;

// The payload length an image's header gives: its first HeaderSize bytes,
// little-endian.
constexpr std::uint32_t ReadHeader(const std::uint8_t* image) {
  return std::uint32_t{image[0]} | std::uint32_t{image[1]} << 8 | std::uint32_t{image[2]} << 16 |
         std::uint32_t{image[3]} << 24;
}

}  // namespace lzs
