// liblzs: lzs_describe, the one place that words a result with its sizes.
// Every face prints what it writes: lzs after a file's name, Python and
// JavaScript as their exceptions' messages, the page beside a file.
//
// Sizes are written with thousands separators ("3,364,354,902 bytes"), as
// every face writes them.
#include <cstdint>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/words.hpp"

namespace {

using lzs::Words;

// An image cut short whose header promises more than this many times the
// bytes there are is worded as probably not an image at all: the format has
// no magic number, so any bytes have a header, and the header of bytes that
// are not an image promises some 2 GiB on average. A download cut that
// early is rare, and the words give both sizes either way.
constexpr unsigned long long JunkRatio = 64;

void DescribePacking(size_t result, Words& words) {
  switch (lzs_get_error(result)) {
    case LZS_ERROR_EMPTY_INPUT: words << "is empty; no LZS image holds zero bytes"; break;
    case LZS_ERROR_INPUT_TOO_LARGE:
      words << "is too large to pack: more than "
            << static_cast<unsigned long long>(LZS_ENCODE_SIZE_MAX) << " bytes";
      break;
    default: words << "cannot pack: " << lzs_error_name(result);
  }
}

// An output above a limit: the caller's (sizeLimit, with the size it would
// have), or this library's, where a size_t cannot hold the size.
void DescribeTooLarge(const lzs_info& info, Words& words) {
  const char* name = info.limitName != nullptr ? info.limitName : "the limit";
  if ((info.flags & LZS_INFO_INPUT_LIMIT) != 0 && info.sizeLimit != 0) {
    words << ": " << info.inputSize << " bytes, above " << name << " (" << info.sizeLimit << ")";
  } else if (info.decodedSize != 0 && info.sizeLimit != 0) {
    words << ": it would unpack to " << static_cast<unsigned long long>(info.decodedSize)
          << " bytes, above " << name << " (" << info.sizeLimit << ")";
  } else if (sizeof(size_t) < sizeof(std::uint64_t)) {
    words << ": it would unpack to more than "
          << static_cast<unsigned long long>(lzs::Error(LZS_ERROR_MAX_CODE) - 1)
          << " bytes, the most a 32-bit module returns";
  }
}

// A damaged image whose output was kept: the damage as its error says it,
// and what was kept.
void DescribeSalvaged(const lzs_info& info, Words& words) {
  const auto kept = static_cast<unsigned long long>(info.decodedSize);
  if (info.inputSize < info.imageSize) {
    words << lzs_error_name(lzs::Error(LZS_ERROR_TRUNCATED)) << " (" << info.inputSize << " of "
          << info.imageSize << " bytes); kept what its whole items give, " << kept << " bytes";
  } else {
    words << lzs_error_name(lzs::Error(LZS_ERROR_TRAILING_DATA)) << " ("
          << ((info.flags & LZS_INFO_INPUT_PARTIAL) != 0 ? "at least " : "") << info.inputSize
          << " bytes; the image is " << info.imageSize << "); kept the image's " << kept
          << " bytes";
  }
}

}  // namespace

size_t lzs_describe(size_t result, const lzs_info* info, char* buf, size_t cap) {
  Words words(buf, cap);
  const char* name = lzs_error_name(result);
  if (info != nullptr && !lzs_is_error(result) && (info->flags & LZS_INFO_SALVAGED) != 0) {
    DescribeSalvaged(*info, words);
    return words.End();
  }
  if (info == nullptr || !lzs_is_error(result)) {
    words << name;
    return words.End();
  }
  if ((info->flags & LZS_INFO_PACKING) != 0) {
    DescribePacking(result, words);
    return words.End();
  }
  const bool sized = info->imageSize != 0;
  switch (lzs_get_error(result)) {
    case LZS_ERROR_TRUNCATED:
      if (sized && info->inputSize < info->imageSize / JunkRatio + 1 &&
          info->imageSize > JunkRatio * info->inputSize) {
        words << "probably not an LZS image (its header promises " << info->imageSize
              << " bytes; there are " << info->inputSize << ")";
      } else {
        words << name;
        if (sized) words << " (" << info->inputSize << " of " << info->imageSize << " bytes)";
      }
      break;
    case LZS_ERROR_TRAILING_DATA:
      words << name;
      if (sized) {
        words << " (" << ((info->flags & LZS_INFO_INPUT_PARTIAL) != 0 ? "at least " : "")
              << info->inputSize << " bytes; the image is " << info->imageSize << ")";
      }
      break;
    case LZS_ERROR_NOT_AN_IMAGE:
      words << name;
      if (info->inputSize > LZS_IMAGE_SIZE_MAX) {
        words << ": larger than the largest, " << LZS_IMAGE_SIZE_MAX << " bytes";
      }
      break;
    case LZS_ERROR_INPUT_TOO_LARGE:
      words << name;
      DescribeTooLarge(*info, words);
      break;
    default: words << name;
  }
  return words.End();
}
