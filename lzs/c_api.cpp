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

// The header rule on a whole image: 0 for a good image, with info, when
// given, filled with what the header tells.
size_t CheckImage(const void* image, size_t imageSize, lzs_info* info = nullptr) {
  return lzs_check_header(image, imageSize, info);
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

// The list of errors runs from 1 to LZS_ERROR_MAX_CODE without a gap.
#define LZS_CODE_IN_ORDER(name, code, words, when) \
  static_assert(LZS_ERROR_##name == (code) && (code) >= 1 && (code) <= LZS_ERROR_MAX_CODE);
LZS_ERRORS(LZS_CODE_IN_ORDER)
#undef LZS_CODE_IN_ORDER

const char* lzs_error_name(size_t code) {
  switch (lzs_get_error(code)) {
    case LZS_OK: return "no error";
#define LZS_ERROR_WORDS(name, code, words, when) \
  case LZS_ERROR_##name: return words;
      LZS_ERRORS(LZS_ERROR_WORDS)
#undef LZS_ERROR_WORDS
  }
  return "unknown error";
}

const char* lzs_error_symbol(size_t code) {
  switch (lzs_get_error(code)) {
    case LZS_OK: return "LZS_OK";
#define LZS_ERROR_SYMBOL(name, code, words, when) \
  case LZS_ERROR_##name: return "LZS_ERROR_" #name;
      LZS_ERRORS(LZS_ERROR_SYMBOL)
#undef LZS_ERROR_SYMBOL
  }
  return "LZS_OK";
}

namespace lzs {

size_t ImagePayload(const void* src, size_t srcSize, bool salvage, lzs_info& facts,
                    size_t& payloadLength) {
  payloadLength = 0;
  const size_t fit = lzs_check_header(src, srcSize, &facts);
  if (!salvage || fit == Error(LZS_ERROR_BAD_ARGUMENT) || fit == Error(LZS_ERROR_NOT_AN_IMAGE)) {
    if (fit == 0) payloadLength = srcSize - HeaderSize;
    return fit;
  }
  // The image's bytes that are there: up to its end, or to the input's.
  const std::uint64_t end = facts.imageSize < srcSize ? facts.imageSize : srcSize;
  if (end <= HeaderSize) return Error(LZS_ERROR_NOT_AN_IMAGE);  // a header of 0
  payloadLength = static_cast<size_t>(end - HeaderSize);
  return 0;
}

}  // namespace lzs

namespace {

// lzs_decode and lzs_decode_salvage: the image's payload (see
// lzs::ImagePayload) into dst[0, dstCapacity).
size_t DecodeInto(void* dst, size_t dstCapacity, const void* src, size_t srcSize, bool salvage,
                  lzs_info& facts) {
  size_t payloadLength = 0;
  const size_t checked = lzs::ImagePayload(src, srcSize, salvage, facts, payloadLength);
  if (checked != 0) return checked;
  if ((dst == nullptr && dstCapacity != 0) || lzs::Overlap(dst, dstCapacity, src, srcSize)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  bool cut = false;
  const size_t n = lzs::DecodeLzsPayload(Payload(src), payloadLength,
                                         static_cast<std::uint8_t*>(dst), dstCapacity, &cut);
  if (n == lzs::DecodeTooSmall) return Error(LZS_ERROR_DST_TOO_SMALL);
  facts.lastItemCut = cut ? 1 : 0;
  if (n == 0) return Error(LZS_ERROR_NO_OUTPUT);
  return lzs::Kept(lzs::SizeResult(n), facts);
}

}  // namespace

size_t lzs_decode(void* dst, size_t dstCapacity, const void* image, size_t imageSize) {
  lzs_info facts{};
  return DecodeInto(dst, dstCapacity, image, imageSize, false, facts);
}

size_t lzs_decode_salvage(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                          lzs_info* info) {
  lzs_info scratch{};
  return DecodeInto(dst, dstCapacity, src, srcSize, true, info != nullptr ? *info : scratch);
}

namespace lzs {

size_t Kept(size_t result, lzs_info& facts) {
  if (lzs_is_error(result)) return result;
  facts.decodedSize = result;
  if (facts.imageSize != facts.inputSize) facts.flags |= LZS_INFO_SALVAGED;
  return result;
}

size_t DecodeAllocating(void** output, const void* image, size_t imageSize, size_t maxOutput,
                        lzs_alloc_fn alloc, void* opaque, lzs_info* info, size_t onePassRoomMax,
                        bool salvage) {
  lzs_info scratch{};
  lzs_info& facts = info != nullptr ? *info : scratch;
  facts = Info(0, false, 0, imageSize);
  if (output == nullptr) return Error(LZS_ERROR_BAD_ARGUMENT);
  *output = nullptr;
  size_t payloadLength = 0;
  const size_t checked = ImagePayload(image, imageSize, salvage, facts, payloadLength);
  if (checked != 0) return checked;
  // One pass into room for the most the image can yield, where that room is
  // small enough to ask for; else the exact size from the scan, which also
  // tells an output above maxOutput before any memory is asked for.
  const size_t bound = lzs_decode_bound(payloadLength + HeaderSize);
  size_t room = bound;
  if (bound == 0 || bound > onePassRoomMax || bound > maxOutput) {
    bool cut = false;
    room = SizeResult(DecodedLzsSize(Payload(image), payloadLength, &cut));
    facts.lastItemCut = cut ? 1 : 0;
    if (room == 0) return Error(LZS_ERROR_NO_OUTPUT);
    if (lzs_is_error(room)) return room;
    facts.decodedSize = room;
    if (room > maxOutput) {
      facts.sizeLimit = maxOutput;
      return Error(LZS_ERROR_INPUT_TOO_LARGE);
    }
  }
  void* const memory = alloc != nullptr ? alloc(opaque, room) : std::malloc(room);
  if (memory == nullptr) return Error(LZS_ERROR_OUT_OF_MEMORY);
  *output = memory;
  bool cut = false;
  const size_t n = DecodeLzsPayload(Payload(image), payloadLength,
                                    static_cast<std::uint8_t*>(memory), room, &cut);
  // Too small only if the image changed since the scan.
  if (n == DecodeTooSmall) return Error(LZS_ERROR_DST_TOO_SMALL);
  facts.lastItemCut = cut ? 1 : 0;
  if (n == 0) return Error(LZS_ERROR_NO_OUTPUT);
  return Kept(SizeResult(n), facts);
}

}  // namespace lzs

size_t lzs_decode_alloc(void** output, const void* image, size_t imageSize, size_t maxOutput,
                        lzs_alloc_fn alloc, void* opaque, lzs_info* info) {
  return lzs::DecodeAllocating(output, image, imageSize, maxOutput, alloc, opaque, info,
                               lzs::OnePassRoomMax, false);
}

size_t lzs_salvage_alloc(void** output, const void* src, size_t srcSize, size_t maxOutput,
                         lzs_alloc_fn alloc, void* opaque, lzs_info* info) {
  return lzs::DecodeAllocating(output, src, srcSize, maxOutput, alloc, opaque, info,
                               lzs::OnePassRoomMax, true);
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
      lzs::ImageSize(lzs::ReadHeader(static_cast<const std::uint8_t*>(src)));
  return length > srcSize ? Error(LZS_ERROR_TRUNCATED) : static_cast<size_t>(length);
}

size_t lzs_check_header(const void* head, unsigned long long inputSize, lzs_info* info) {
  if (info != nullptr) *info = lzs::Info(0, false, 0, inputSize);
  if (head == nullptr && inputSize != 0) return Error(LZS_ERROR_BAD_ARGUMENT);
  const auto* bytes = static_cast<const std::uint8_t*>(head);
  if (info != nullptr && inputSize >= lzs::HeaderSize) {
    info->imageSize = lzs::ImageSize(lzs::ReadHeader(bytes));
  }
  return lzs::HeaderError(lzs::FitImage(bytes, inputSize));
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
