// The library's C interface over the codec. (First version: decodes through
// DecodeLzs into a scratch area; to be replaced by a bounded decoder.)
#include "lzs.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "lzs/encode.hpp"
#include "lzs/lzs.hpp"

struct lzs_encoder {
  lzs::LzsEncoder encoder;
};

namespace {

constexpr size_t Error(lzs_error code) { return static_cast<size_t>(0) - code; }

size_t Check(const void* image, size_t imageSize) {
  if (image == nullptr && imageSize != 0) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (imageSize <= lzs::HeaderSize) return Error(LZS_ERROR_NOT_AN_IMAGE);
  const auto* bytes = static_cast<const std::uint8_t*>(image);
  const std::uint32_t header = bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                               static_cast<std::uint32_t>(bytes[3]) << 24;
  if (header != imageSize - lzs::HeaderSize) return Error(LZS_ERROR_HEADER_MISMATCH);
  return 0;
}

size_t DecodeToScratch(std::vector<std::uint8_t>& scratch, const void* image, size_t imageSize) {
  const size_t checked = Check(image, imageSize);
  if (lzs_is_error(checked)) return checked;
  scratch.resize(lzs::MaxExpansion * (imageSize - lzs::HeaderSize));
  const std::uint32_t n = DecodeLzs(static_cast<const std::uint8_t*>(image),
                                    static_cast<std::uint32_t>(imageSize), scratch.data());
  return n == 0 ? Error(LZS_ERROR_NO_OUTPUT) : n;
}

}  // namespace

unsigned lzs_version_number(void) { return LZS_VERSION_NUMBER; }
const char* lzs_version_string(void) { return "1.1.0"; }

unsigned lzs_is_error(size_t code) { return code > Error(LZS_ERROR_MAX_CODE) ? 1 : 0; }

lzs_error lzs_get_error(size_t code) {
  return lzs_is_error(code) ? static_cast<lzs_error>(0 - code) : LZS_OK;
}

const char* lzs_error_name(size_t code) {
  switch (lzs_get_error(code)) {
    case LZS_OK: return "no error";
    case LZS_ERROR_NOT_AN_IMAGE: return "not an LZS image (4 bytes or fewer)";
    case LZS_ERROR_HEADER_MISMATCH: return "header is not the image size minus 4";
    case LZS_ERROR_NO_OUTPUT: return "image yields no byte";
    case LZS_ERROR_DST_TOO_SMALL: return "destination buffer too small";
    case LZS_ERROR_INPUT_TOO_LARGE: return "input too large";
    case LZS_ERROR_OUT_OF_MEMORY: return "out of memory";
    case LZS_ERROR_EMPTY_INPUT: return "empty input";
    case LZS_ERROR_BAD_ARGUMENT: return "bad argument";
  }
  return "unknown error";
}

size_t lzs_decode(void* dst, size_t dstCapacity, const void* image, size_t imageSize) {
  std::vector<std::uint8_t> scratch;
  const size_t n = DecodeToScratch(scratch, image, imageSize);
  if (lzs_is_error(n)) return n;
  if (n > dstCapacity) return Error(LZS_ERROR_DST_TOO_SMALL);
  std::memcpy(dst, scratch.data(), n);
  return n;
}

size_t lzs_decoded_size(const void* image, size_t imageSize) {
  std::vector<std::uint8_t> scratch;
  return DecodeToScratch(scratch, image, imageSize);
}

size_t lzs_encode_bound(size_t srcSize) {
  if (srcSize > LZS_ENCODE_SIZE_MAX) return 0;
  return lzs::HeaderSize + srcSize + (srcSize + 7) / 8;
}

lzs_encoder* lzs_encoder_create(void) { return new (std::nothrow) lzs_encoder; }
void lzs_encoder_free(lzs_encoder* encoder) { delete encoder; }

size_t lzs_encode_with(lzs_encoder* encoder, void* dst, size_t dstCapacity, const void* src,
                       size_t srcSize, int level) {
  if (encoder == nullptr || (src == nullptr && srcSize != 0)) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (level != LZS_LEVEL_OPTIMAL && level != LZS_LEVEL_FAST) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (srcSize == 0) return Error(LZS_ERROR_EMPTY_INPUT);
  if (srcSize > LZS_ENCODE_SIZE_MAX) return Error(LZS_ERROR_INPUT_TOO_LARGE);
  const std::vector<std::uint8_t> image = encoder->encoder.Encode(
      static_cast<const std::uint8_t*>(src), srcSize,
      level == LZS_LEVEL_FAST ? lzs::Parse::Greedy : lzs::Parse::Optimal);
  if (image.size() > dstCapacity) return Error(LZS_ERROR_DST_TOO_SMALL);
  std::memcpy(dst, image.data(), image.size());
  return image.size();
}

size_t lzs_encode(void* dst, size_t dstCapacity, const void* src, size_t srcSize, int level) {
  lzs_encoder* encoder = lzs_encoder_create();
  if (encoder == nullptr) return Error(LZS_ERROR_OUT_OF_MEMORY);
  const size_t n = lzs_encode_with(encoder, dst, dstCapacity, src, srcSize, level);
  lzs_encoder_free(encoder);
  return n;
}
