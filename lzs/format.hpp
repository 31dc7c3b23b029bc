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

// A back-reference is two bytes b0, b1. Its window position has 12 bits: b0,
// and above it the high nibble of b1; its copy length is the low nibble of
// b1 plus MinCopy.
constexpr std::uint32_t ItemPosition(std::uint32_t b0, std::uint32_t b1) {
  return b0 | (b1 >> 4) << 8;
}
constexpr std::uint32_t ItemLength(std::uint32_t b1) { return (b1 & 0x0F) + MinCopy; }

// How many bytes back from output index i a back-reference to window
// position `position` reads: 0 to WindowSize - 1, where 0 names the byte
// about to be written.
template <typename Index>
constexpr std::uint32_t ItemDistance(Index i, std::uint32_t position) {
  return static_cast<std::uint32_t>(i - position - WindowBias) & WindowMask;
}

// The other way round, for writing a back-reference at output index i that
// reads `distance` bytes back and copies `length` bytes: its window
// position, and its two bytes.
template <typename Index>
constexpr std::uint32_t ItemPositionAt(Index i, std::uint32_t distance) {
  return static_cast<std::uint32_t>(i - distance - WindowBias) & WindowMask;
}
constexpr std::uint8_t ItemByte0(std::uint32_t position) {
  return static_cast<std::uint8_t>(position & 0xFF);
}
constexpr std::uint8_t ItemByte1(std::uint32_t position, std::uint32_t length) {
  return static_cast<std::uint8_t>((position >> 8) << 4 | (length - MinCopy));
}

// The payload length an image's header gives: its first HeaderSize bytes,
// little-endian.
constexpr std::uint32_t ReadHeader(const std::uint8_t* image) {
  return std::uint32_t{image[0]} | std::uint32_t{image[1]} << 8 | std::uint32_t{image[2]} << 16 |
         std::uint32_t{image[3]} << 24;
}

// The size of the image a header describes, header included.
constexpr std::uint64_t ImageSize(std::uint32_t header) {
  return std::uint64_t{HeaderSize} + header;
}

// The header rule: an image has room for an item (more than HeaderSize
// bytes) and is exactly as long as its header says. How an input of
// inputSize bytes whose header says `header` stands to it (the header is
// not looked at when the input has no room for an item):
enum class HeaderFit : std::uint8_t {
  Whole,      // the input is the image
  NoItems,    // HeaderSize bytes or fewer
  Truncated,  // shorter than the header says
  Trailing,   // longer than the header says
};
constexpr HeaderFit FitHeader(std::uint64_t inputSize, std::uint32_t header) {
  if (inputSize <= HeaderSize) return HeaderFit::NoItems;
  const std::uint64_t imageSize = ImageSize(header);
  if (inputSize < imageSize) return HeaderFit::Truncated;
  return inputSize > imageSize ? HeaderFit::Trailing : HeaderFit::Whole;
}

// The same for an input whose first min(inputSize, HeaderSize) bytes are at
// `input`.
constexpr HeaderFit FitImage(const std::uint8_t* input, std::uint64_t inputSize) {
  return FitHeader(inputSize, inputSize >= HeaderSize ? ReadHeader(input) : 0);
}

}  // namespace lzs
