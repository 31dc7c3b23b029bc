// The LZS format: a 4-byte little-endian payload length, then groups of one
// flag byte and up to eight items (literal bytes and two-byte back-references
// into a 4096-byte window).
#pragma once

#include <cstddef>
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
// Result of DecodeLzsPayload when the output does not fit.
inline constexpr std::size_t DecodeTooSmall = static_cast<std::size_t>(-1);

// The payload length an image's header gives: its first HeaderSize bytes,
// little-endian.
constexpr std::uint32_t ReadHeader(const std::uint8_t* image) {
  return std::uint32_t{image[0]} | std::uint32_t{image[1]} << 8 | std::uint32_t{image[2]} << 16 |
         std::uint32_t{image[3]} << 24;
}

}  // namespace lzs

// Checks the image's header against imageLength and expands the payload into
// outputArea, which must hold MaxExpansion * (imageLength - HeaderSize) bytes.
// Returns the number of bytes written; 0 when the image is rejected (4 bytes or
// fewer, or a header that is not imageLength - 4) or yields no byte.
// Reads only image[0, imageLength) and writes only inside that guaranteed
// area; bytes of the area past the returned length are left undefined.
std::uint32_t DecodeLzs(const std::uint8_t* image, std::uint32_t imageLength,
                        std::uint8_t* outputArea);

// Expands a payload (an image without its header) like DecodeLzs, into an
// output area of outputCapacity bytes, whatever its size: never writes past
// it. Returns the decoded length (0 when the payload yields no byte), or
// DecodeTooSmall when that length is above outputCapacity; the area then
// holds a part of the output.
std::size_t DecodeLzsPayload(const std::uint8_t* payload, std::size_t payloadLength,
                             std::uint8_t* outputArea, std::size_t outputCapacity);

// The length DecodeLzsPayload returns for a large enough area, from the flag
// bytes and copy lengths alone; writes nothing.
std::size_t DecodedLzsSize(const std::uint8_t* payload, std::size_t payloadLength);
