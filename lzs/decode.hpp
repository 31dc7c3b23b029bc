// The decoder: an LZS image, or its payload, expanded into an output area.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lzs/format.hpp"

namespace lzs {

// Result of DecodeLzsPayload when the output does not fit.
inline constexpr std::size_t DecodeTooSmall = static_cast<std::size_t>(-1);

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
// holds a part of the output. When lastItemCut is given and the payload is
// decoded whole, it tells whether the payload ends one byte into a
// back-reference (which decoding drops).
std::size_t DecodeLzsPayload(const std::uint8_t* payload, std::size_t payloadLength,
                             std::uint8_t* outputArea, std::size_t outputCapacity,
                             bool* lastItemCut = nullptr);

// Decodes whole groups from `in` into outputArea from output index i on, as
// the two calls above do before they finish the last groups byte by byte:
// while at least FastInputMargin payload bytes remain before inEnd and the
// output index stays at most outLimit (which leaves FastOutputMargin bytes
// of room before an area of outLimit + FastOutputMargin bytes). Where i is
// below WindowSize, the bytes before outputArea read as zeros. Returns the
// new output index and leaves `in` at the next group.
std::size_t DecodeGroups(const std::uint8_t*& in, const std::uint8_t* inEnd,
                         std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);

// The length DecodeLzsPayload returns for a large enough area, from the flag
// bytes and copy lengths alone; writes nothing. When lastItemCut is given, it
// tells whether the payload ends one byte into a back-reference (which
// decoding drops). 64 bits wide, so that it cannot wrap where size_t has 32.
std::uint64_t DecodedLzsSize(const std::uint8_t* payload, std::size_t payloadLength,
                             bool* lastItemCut = nullptr);

// The output size of the whole groups from `in` on, as DecodedLzsSize
// counts them before it finishes the last groups item by item: groups that
// start while at least MaxGroupSize bytes remain before inEnd. Leaves `in`
// at the next group.
std::uint64_t ScanGroups(const std::uint8_t*& in, const std::uint8_t* inEnd);

}  // namespace lzs
