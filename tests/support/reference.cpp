#include "tests/support/reference.hpp"

#include "lzs/format.hpp"

using namespace lzs;

std::uint32_t DecodeLzsReference(const std::uint8_t* image, std::uint32_t imageLength,
                                 std::uint8_t* outputArea) {
  if (imageLength <= HeaderSize) return 0;
  const std::uint32_t payloadLength = ReadHeader(image);
  if (payloadLength != imageLength - HeaderSize) return 0;

  const std::uint8_t* in = image + HeaderSize;
  std::uint32_t remaining = payloadLength;  // payload bytes not yet consumed
  std::uint32_t i = 0;                      // output bytes written so far

  while (remaining > 0) {
    std::uint32_t flags = *in++;
    --remaining;
    for (int item = 0; item < 8; ++item, flags >>= 1) {
      if (flags & 1) {
        // Literal: one byte, copied unchanged.
        if (remaining == 0) return i;
        outputArea[i++] = *in++;
        --remaining;
      } else {
        // Back-reference: a lone trailing byte is ignored.
        if (remaining < 2) return i;
        const std::uint32_t b0 = in[0];
        const std::uint32_t b1 = in[1];
        in += 2;
        remaining -= 2;
        const std::uint32_t length = ItemLength(b1);
        const std::uint32_t distance = ItemDistance(i, ItemPosition(b0, b1));
        // Byte by byte, so that an overlapping source repeats what this copy
        // has just written. Before the start of the output the window reads
        // as zeros; distance 0 names the byte about to be written, also zero.
        for (std::uint32_t n = 0; n < length; ++n, ++i) {
          outputArea[i] = (distance == 0 || i < distance) ? 0 : outputArea[i - distance];
        }
      }
    }
  }
  return i;
}
