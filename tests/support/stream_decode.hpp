// The streaming decoder as a caller uses it, for the tests and the fuzz
// target: an image fed in pieces, and lzs_decode's result in the same form.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzs.h"

namespace testdata {

// What a caller of lzs_decode_stream gets for the whole image given in
// pieces of the sizes in `pieces` (repeated as needed) and output room of
// `room` bytes at a time: the output, or the error, also the one
// lzs_dstream_end gives when the input ends before the image does. The room
// starts `offsets` bytes into the destination (in turn, one a call), as for
// a caller that fills one buffer call by call.
struct StreamResult {
  std::vector<std::uint8_t> output;
  size_t code = 0;
};

inline StreamResult DecodeStream(const std::vector<std::uint8_t>& image,
                                 const std::vector<size_t>& pieces, size_t room,
                                 const std::vector<size_t>& offsets = {0}) {
  lzs_dstream* ds = lzs_dstream_create();
  StreamResult result;
  std::vector<std::uint8_t> out(*std::max_element(offsets.begin(), offsets.end()) + room);
  size_t taken = 0;
  size_t calls = 0;
  size_t r = 1;
  for (size_t piece = 0; taken < image.size() || piece == 0; ++piece) {
    const size_t size = std::min(pieces[piece % pieces.size()], image.size() - taken);
    size_t srcPos = 0;
    // Each piece in a buffer of its own size, so that a read past it shows
    // under the address sanitizer.
    const std::vector<std::uint8_t> bytes(
        image.begin() + static_cast<std::ptrdiff_t>(taken),
        image.begin() + static_cast<std::ptrdiff_t>(taken + size));
    do {
      const size_t offset = offsets[calls++ % offsets.size()];
      size_t dstPos = offset;
      r = lzs_decode_stream(ds, out.data(), offset + room, &dstPos, bytes.data(), size, &srcPos);
      result.output.insert(result.output.end(), out.begin() + static_cast<std::ptrdiff_t>(offset),
                           out.begin() + static_cast<std::ptrdiff_t>(dstPos));
      if (lzs_is_error(r) || (dstPos < offset + room && srcPos == size)) break;
    } while (true);
    taken += srcPos;
    // An error at the end of a piece may still turn into another with more
    // input; one that leaves input untaken is final.
    if (srcPos < size) break;
  }
  // The input has ended: the stream's verdict.
  r = lzs_dstream_end(ds, nullptr);
  lzs_dstream_free(ds);
  result.code = lzs_is_error(r) ? r : 0;
  if (result.code != 0) result.output.clear();
  return result;
}

// lzs_decode's result in the same form.
inline StreamResult DecodeWhole(const std::vector<std::uint8_t>& image) {
  StreamResult result;
  result.output.resize(LZS_EXPANSION_MAX * image.size() + 1);
  const size_t r =
      lzs_decode(result.output.data(), result.output.size(), image.data(), image.size());
  result.code = lzs_is_error(r) ? r : 0;
  result.output.resize(lzs_is_error(r) ? 0 : r);
  return result;
}

}  // namespace testdata
