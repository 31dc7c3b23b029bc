// liblzs: the C interface over the codec in lzs/. It adds what a library user
// needs (any destination capacity, error codes, a reusable encoder) and
// leaves the decoding and the parse to the codec.
#include "lzs/c_api.hpp"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>

#include "lzs.h"
#include "lzs/decode.hpp"
#include "lzs/encode.hpp"

// The version comes from the build (project VERSION); the header's macros
// must say the same.
static_assert(LZS_VERSION_MAJOR == LZS_BUILD_VERSION_MAJOR &&
                  LZS_VERSION_MINOR == LZS_BUILD_VERSION_MINOR &&
                  LZS_VERSION_PATCH == LZS_BUILD_VERSION_PATCH,
              "include/lzs.h and the project version disagree");
static_assert(std::string_view(LZS_VERSION_STRING) == LZS_BUILD_VERSION,
              "LZS_VERSION_STRING and the project version disagree");
static_assert(LZS_ENCODE_SIZE_MAX == lzs::MaxEncodeSize);
static_assert(LZS_HEADER_SIZE == lzs::HeaderSize && LZS_EXPANSION_MAX == lzs::MaxExpansion);

struct lzs_encoder {
  lzs::LzsEncoder encoder;
};

namespace {

using lzs::Error;

// The header rule (lzs::CheckHeader) on a whole image. Returns 0 for a good
// image; fills info, when given, with what the header tells.
size_t CheckImage(const void* image, size_t imageSize, lzs_info* info = nullptr) {
  if (info != nullptr) *info = lzs_info{0, 0, 0, imageSize};
  if (image == nullptr && imageSize != 0) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (imageSize < lzs::HeaderSize) return Error(LZS_ERROR_NOT_AN_IMAGE);
  const std::uint32_t header = lzs::ReadHeader(static_cast<const std::uint8_t*>(image));
  if (info != nullptr) info->imageSize = std::uint64_t{lzs::HeaderSize} + header;
  return lzs::CheckHeader(imageSize, header);
}

const std::uint8_t* Payload(const void* image) {
  return static_cast<const std::uint8_t*>(image) + lzs::HeaderSize;
}

}  // namespace

unsigned lzs_version_number(void) { return LZS_VERSION_NUMBER; }
const char* lzs_version_string(void) { return LZS_BUILD_VERSION; }

unsigned lzs_is_error(size_t code) { return code >= Error(LZS_ERROR_MAX_CODE) ? 1 : 0; }

lzs_error lzs_get_error(size_t code) {
  return lzs_is_error(code) ? static_cast<lzs_error>(0 - code) : LZS_OK;
}

const char* lzs_error_name(size_t code) {
  switch (lzs_get_error(code)) {
    case LZS_OK: return "no error";
    case LZS_ERROR_NOT_AN_IMAGE: return "not an LZS image";
    case LZS_ERROR_TRUNCATED: return "cut short: the image is shorter than its header says";
    case LZS_ERROR_NO_OUTPUT: return "the image yields no byte";
    case LZS_ERROR_DST_TOO_SMALL: return "destination buffer too small";
    case LZS_ERROR_INPUT_TOO_LARGE: return "input too large";
    case LZS_ERROR_OUT_OF_MEMORY: return "out of memory";
    case LZS_ERROR_EMPTY_INPUT: return "empty input";
    case LZS_ERROR_BAD_ARGUMENT: return "bad argument";
    case LZS_ERROR_TRAILING_DATA: return "bytes after the end of the image";
    case LZS_ERROR_BAD_LEVEL:
      return "unknown level: 1 is fast, 9 the smallest image, 0 the default";
  }
  return "unknown error";
}

size_t lzs_decode(void* dst, size_t dstCapacity, const void* image, size_t imageSize) {
  const size_t checked = CheckImage(image, imageSize);
  if (checked != 0) return checked;
  if ((dst == nullptr && dstCapacity != 0) || lzs::Overlap(dst, dstCapacity, image, imageSize)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  const size_t n = lzs::DecodeLzsPayload(Payload(image), imageSize - lzs::HeaderSize,
                                         static_cast<std::uint8_t*>(dst), dstCapacity);
  if (n == lzs::DecodeTooSmall) return Error(LZS_ERROR_DST_TOO_SMALL);
  return n == 0 ? Error(LZS_ERROR_NO_OUTPUT) : lzs::SizeResult(n);
}

size_t lzs_decoded_size(const void* image, size_t imageSize) {
  lzs_info info;
  return lzs_image_info(image, imageSize, &info);
}

size_t lzs_decode_bound(size_t imageSize) {
  if (imageSize <= lzs::HeaderSize || imageSize > LZS_IMAGE_SIZE_MAX) return 0;
  const size_t bound =
      lzs::SizeResult(std::uint64_t{imageSize - lzs::HeaderSize} * lzs::MaxExpansion);
  return lzs_is_error(bound) ? 0 : bound;
}

size_t lzs_image_length(const void* src, size_t srcSize) {
  if (src == nullptr && srcSize != 0) return Error(LZS_ERROR_BAD_ARGUMENT);
  if (srcSize < lzs::HeaderSize) return Error(LZS_ERROR_NOT_AN_IMAGE);
  const std::uint64_t length =
      std::uint64_t{lzs::HeaderSize} + lzs::ReadHeader(static_cast<const std::uint8_t*>(src));
  return length > srcSize ? Error(LZS_ERROR_TRUNCATED) : static_cast<size_t>(length);
}

size_t lzs_image_info(const void* image, size_t imageSize, lzs_info* info) {
  if (info == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  const size_t checked = CheckImage(image, imageSize, info);
  if (checked != 0) return checked;
  bool cut = false;
  const size_t n =
      lzs::SizeResult(lzs::DecodedLzsSize(Payload(image), imageSize - lzs::HeaderSize, &cut));
  info->lastItemCut = cut ? 1 : 0;
  if (n == 0) return Error(LZS_ERROR_NO_OUTPUT);
  if (!lzs_is_error(n)) info->decodedSize = n;
  return n;
}

size_t lzs_encode_bound(size_t srcSize) {
  if (srcSize > LZS_ENCODE_SIZE_MAX) return 0;
  return lzs::HeaderSize + srcSize + (srcSize + 7) / 8;
}

// malloc and placement new rather than operator new, which would need the
// C++ runtime.
lzs_encoder* lzs_encoder_create(void) {
  void* memory = std::malloc(sizeof(lzs_encoder));
  return memory == nullptr ? nullptr : new (memory) lzs_encoder;
}

void lzs_encoder_free(lzs_encoder* encoder) {
  if (encoder == nullptr) return;
  encoder->~lzs_encoder();
  std::free(encoder);
}

size_t lzs_encode_with(lzs_encoder* encoder, void* dst, size_t dstCapacity, const void* src,
                       size_t srcSize, int level) {
  if (encoder == nullptr || (src == nullptr && srcSize != 0) ||
      (dst == nullptr && dstCapacity != 0)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  if (level != LZS_LEVEL_DEFAULT && level != LZS_LEVEL_FAST && level != LZS_LEVEL_OPTIMAL) {
    return Error(LZS_ERROR_BAD_LEVEL);
  }
  if (srcSize == 0) return Error(LZS_ERROR_EMPTY_INPUT);
  if (srcSize > LZS_ENCODE_SIZE_MAX) return Error(LZS_ERROR_INPUT_TOO_LARGE);
  const lzs::Parse parse = level == LZS_LEVEL_FAST ? lzs::Parse::Fast : lzs::Parse::Optimal;
  // The workspace grows with the input; a failed allocation is an error
  // code.
  const size_t n = encoder->encoder.Encode(static_cast<const std::uint8_t*>(src), srcSize, parse,
                                           static_cast<std::uint8_t*>(dst), dstCapacity);
  if (n == lzs::EncodeOutOfMemory) return Error(LZS_ERROR_OUT_OF_MEMORY);
  return n > dstCapacity ? Error(LZS_ERROR_DST_TOO_SMALL) : n;
}

size_t lzs_encode(void* dst, size_t dstCapacity, const void* src, size_t srcSize, int level) {
  lzs_encoder* encoder = lzs_encoder_create();
  if (encoder == nullptr) return Error(LZS_ERROR_OUT_OF_MEMORY);
  const size_t n = lzs_encode_with(encoder, dst, dstCapacity, src, srcSize, level);
  lzs_encoder_free(encoder);
  return n;
}
