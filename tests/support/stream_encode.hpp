// The streaming encoder as a caller uses it, for the tests and benchmarks:
// input in pieces, segments taken in order, the image ended with its header
// put in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzs.h"

namespace testdata {

// lzs_encode's image of data at `level`, empty when it fails; *result (when
// given) gets lzs_encode's result.
inline std::vector<std::uint8_t> Encoded(const std::vector<std::uint8_t>& data, int level,
                                         size_t* result = nullptr) {
  std::vector<std::uint8_t> image(lzs_encode_bound(data.size()));
  const size_t n = lzs_encode(image.data(), image.size(), data.data(), data.size(), level);
  if (result != nullptr) *result = n;
  image.resize(lzs_is_error(n) ? 0 : n);
  return image;
}

// Repeats `call` (one call of the stream that writes into out[0, dstPos))
// while it returns a hint above 0, adding the output to image; returns the
// last result (0 or an error).
template <typename Call>
size_t Repeat(std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& image, Call call) {
  size_t result = 0;
  do {
    size_t dstPos = 0;
    result = call(dstPos);
    image.insert(image.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(dstPos));
  } while (result != 0 && !lzs_is_error(result));
  return result;
}

// Takes seg into cs, the output added to image.
inline size_t TakeSegment(lzs_cstream* cs, lzs_segment* seg, std::vector<std::uint8_t>& out,
                          std::vector<std::uint8_t>& image) {
  return Repeat(out, image, [&](size_t& dstPos) {
    return lzs_encode_segment(cs, seg, out.data(), out.size(), &dstPos);
  });
}

// Ends cs's input, adds the rest of the image to image and puts the header
// in place of the zeros the stream wrote first. Returns 0 or the error (also
// LZS_ERROR_NO_OUTPUT when the image did not start with those zeros or the
// header gives another size).
inline size_t EndImage(lzs_cstream* cs, std::vector<std::uint8_t>& out,
                       std::vector<std::uint8_t>& image) {
  const size_t result = Repeat(out, image, [&](size_t& dstPos) {
    size_t none = 0;
    return lzs_encode_stream(cs, out.data(), out.size(), &dstPos, nullptr, 0, &none,
                             LZS_CSTREAM_END);
  });
  if (result != 0) return result;
  if (image.size() < LZS_HEADER_SIZE || image[0] != 0 || image[1] != 0 || image[2] != 0 ||
      image[3] != 0) {
    return static_cast<size_t>(0) - LZS_ERROR_NO_OUTPUT;
  }
  const size_t size = lzs_cstream_header(cs, image.data());
  if (lzs_is_error(size)) return size;
  return size == image.size() ? 0 : static_cast<size_t>(0) - LZS_ERROR_NO_OUTPUT;
}

// The image of data given to cs (reset at `level`) in pieces that end at
// `cuts` (and at the end), with `room` bytes of output room per call; the
// result is 0 or the error.
struct Packed {
  std::vector<std::uint8_t> image;
  size_t result = 0;
};

inline Packed PackInPieces(lzs_cstream* cs, const std::vector<std::uint8_t>& data, int level,
                           const std::vector<size_t>& cuts, size_t room) {
  Packed packed;
  packed.result = lzs_cstream_reset(cs, level);
  std::vector<std::uint8_t> out(room);
  size_t from = 0;
  for (size_t k = 0; k < cuts.size() && packed.result == 0; ++k) {
    const size_t to = cuts[k];
    size_t srcPos = 0;
    while (srcPos < to - from && packed.result == 0) {
      size_t dstPos = 0;
      const size_t result = lzs_encode_stream(cs, out.data(), room, &dstPos, data.data() + from,
                                              to - from, &srcPos, LZS_CSTREAM_CONTINUE);
      packed.image.insert(packed.image.end(), out.begin(),
                          out.begin() + static_cast<std::ptrdiff_t>(dstPos));
      if (lzs_is_error(result)) packed.result = result;
    }
    from = to;
  }
  if (packed.result != 0) return packed;
  size_t srcPos = 0;
  packed.result = Repeat(out, packed.image, [&](size_t& dstPos) {
    return lzs_encode_stream(cs, out.data(), room, &dstPos, data.data() + from, data.size() - from,
                             &srcPos, LZS_CSTREAM_END);
  });
  if (packed.result == 0) packed.result = EndImage(cs, out, packed.image);
  return packed;
}

}  // namespace testdata
