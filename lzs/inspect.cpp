// liblzs: lzs_inspect, an image item by item through the decoder's item
// walk, and lzs_inspection_text, which writes what it found as lzs
// --inspect prints it, in words or as JSON.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/decode.hpp"
#include "lzs/encode.hpp"
#include "lzs/walk.hpp"
#include "lzs/words.hpp"

namespace {

using lzs::Error;
using lzs::Words;

static_assert(LZS_LENGTH_BUCKETS == lzs::MaxCopy - lzs::MinCopy + 1);
// Distance 0, then one bucket per power of two below the window's size.
static_assert(LZS_DISTANCE_BUCKETS == 2 + 11 && lzs::WindowSize == 1u << 12);

// The bucket of a distance: 0 for 0, else 1 + the position of its highest
// bit.
unsigned DistanceBucket(std::uint32_t distance) {
  return distance == 0 ? 0 : 32 - static_cast<unsigned>(__builtin_clz(distance));
}

// What the walk counts, item by item.
class Counter {
 public:
  Counter(lzs_inspection& out, std::uint64_t payloadLength)
      : out_(out), payloadLength_(payloadLength) {}

  lzs::WalkStep operator()(const lzs::Item& item) {
    const std::uint64_t segment = item.offset * LZS_STRIP_SEGMENTS / payloadLength_;
    if (item.reference) {
      ++out_.references;
      ++out_.lengthHistogram[item.length - lzs::MinCopy];
      ++out_.distanceHistogram[DistanceBucket(item.distance)];
      ++out_.stripReferences[segment];
      if (item.ReadsZeros()) {
        if (out_.zeroReferences++ == 0) out_.firstZeroReference = item.output;
        ++out_.stripZeroReferences[segment];
      }
    } else {
      ++out_.literals;
      ++out_.stripLiterals[segment];
    }
    out_.stoppedAt = item.offset + (item.reference ? 2 : 1);
    return lzs::WalkStep::Next;
  }

 private:
  lzs_inspection& out_;
  std::uint64_t payloadLength_;
};

// The size of the smallest image of the decoded bytes, by decoding the
// payload again into memory of its own; 0 when they are too many to pack,
// OutOfMemory when the memory cannot be had.
constexpr std::uint64_t OutOfMemory = ~std::uint64_t{0};
std::uint64_t SmallestImageSize(const std::uint8_t* payload, std::size_t payloadLength,
                                std::uint64_t decodedSize) {
  if (decodedSize == 0 || decodedSize > LZS_ENCODE_SIZE_MAX) return 0;
  const auto size = static_cast<std::size_t>(decodedSize);
  auto* const decoded = static_cast<std::uint8_t*>(std::malloc(size));
  if (decoded == nullptr) return OutOfMemory;
  std::uint64_t imageSize = OutOfMemory;
  if (lzs::DecodeLzsPayload(payload, payloadLength, decoded, size) == size) {
    lzs::LzsEncoder packer;
    // Measured only: no room is given for the image itself.
    const std::size_t n = packer.Encode(decoded, size, lzs::Parse::Optimal, nullptr, 0);
    if (n != lzs::EncodeOutOfMemory) imageSize = n;
  }
  std::free(decoded);
  return imageSize;
}

void Histogram(Words& words, const unsigned long long* counts, unsigned n) {
  words << '[';
  for (unsigned k = 0; k < n; ++k) {
    if (k > 0) words << ',';
    words.Plain(counts[k]);
  }
  words << ']';
}

const char* StatusName(lzs_status status) {
  switch (status) {
    case LZS_STATUS_OK: return "ok";
    case LZS_STATUS_TRUNCATED: return "truncated";
    case LZS_STATUS_TRAILING: return "trailing";
    case LZS_STATUS_NOT_AN_IMAGE: break;
  }
  return "not-an-image";
}

void WriteJson(const lzs_inspection& in, const char* name, Words& words) {
  words << '{';
  if (name != nullptr) {
    words << "\"file\":";
    words.Quoted(name) << ',';
  }
  words << "\"status\":";
  words.Quoted(StatusName(in.status));
  const struct {
    const char* key;
    unsigned long long value;
  } sizes[] = {{"image_size", in.imageSize},     {"promised_size", in.promisedSize},
               {"decoded_size", in.decodedSize}, {"groups", in.groups},
               {"literals", in.literals},        {"references", in.references}};
  for (const auto& size : sizes) {
    words << ",\"" << size.key << "\":";
    words.Plain(size.value);
  }
  words << ",\"length_histogram\":";
  Histogram(words, in.lengthHistogram, LZS_LENGTH_BUCKETS);
  words << ",\"distance_histogram\":";
  Histogram(words, in.distanceHistogram, LZS_DISTANCE_BUCKETS);
  words << ",\"zero_references\":";
  words.Plain(in.zeroReferences) << ",\"first_zero_reference\":";
  if (in.zeroReferences == 0) {
    words << "null";
  } else {
    words.Plain(in.firstZeroReference);
  }
  words << ",\"smallest_image_size\":";
  words.Plain(in.smallestImageSize) << ",\"stopped_at\":";
  words.Plain(in.stoppedAt) << ",\"last_item_cut\":" << (in.lastItemCut != 0 ? "true" : "false");
  words << ",\"strip_literals\":";
  Histogram(words, in.stripLiterals, LZS_STRIP_SEGMENTS);
  words << ",\"strip_references\":";
  Histogram(words, in.stripReferences, LZS_STRIP_SEGMENTS);
  words << ",\"strip_zero_references\":";
  Histogram(words, in.stripZeroReferences, LZS_STRIP_SEGMENTS);
  words << '}';
}

void WriteSummary(const lzs_inspection& in, const char* name, Words& words) {
  if (name != nullptr) words << name << ": ";
  switch (in.status) {
    case LZS_STATUS_OK:
      words << "an image of " << in.imageSize << " bytes that unpacks to " << in.decodedSize
            << " bytes\n";
      break;
    case LZS_STATUS_TRUNCATED:
      words << "cut short: " << in.imageSize << " of the " << in.promisedSize
            << " bytes its header promises; its whole items unpack to " << in.decodedSize
            << " bytes\n";
      break;
    case LZS_STATUS_TRAILING:
      words << in.imageSize << " bytes, with bytes after the image's end: the image is "
            << in.promisedSize << " bytes and unpacks to " << in.decodedSize << " bytes\n";
      break;
    case LZS_STATUS_NOT_AN_IMAGE:
      words << "not an LZS image: nothing in its " << in.imageSize << " bytes decodes\n";
      return;
  }
  words << "  groups: " << in.groups << ", literals: " << in.literals
        << ", back-references: " << in.references << '\n';
  words << "  copy lengths:";
  for (unsigned k = 0; k < LZS_LENGTH_BUCKETS; ++k) {
    words << ' ' << static_cast<unsigned long long>(k) + lzs::MinCopy << ':'
          << in.lengthHistogram[k];
  }
  words << "\n  distances:";
  for (unsigned k = 0; k < LZS_DISTANCE_BUCKETS; ++k) {
    const unsigned long long low = k == 0 ? 0 : 1ull << (k - 1);
    words << ' ' << low;
    if (k > 1) words << '-' << 2 * low - 1;
    words << ':' << in.distanceHistogram[k];
  }
  words << "\n  zero references (reading before the start or at distance 0): " << in.zeroReferences;
  if (in.zeroReferences != 0) words << ", the first at output byte " << in.firstZeroReference;
  words << "\n  smallest image (lzs -9): " << in.smallestImageSize << " bytes\n";
  if (in.status != LZS_STATUS_OK || in.lastItemCut != 0) {
    words << "  decoding stops at payload byte " << in.stoppedAt
          << (in.lastItemCut != 0 ? ", where a back-reference is cut in two\n" : "\n");
  }
}

}  // namespace

size_t lzs_inspect(const void* image, size_t imageSize, lzs_inspection* inspection) {
  if (inspection == nullptr || (image == nullptr && imageSize != 0)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  lzs_inspection& out = *inspection;
  std::memset(&out, 0, sizeof out);
  out.imageSize = imageSize;
  out.status = LZS_STATUS_NOT_AN_IMAGE;
  lzs_info facts;
  size_t payloadLength = 0;
  const size_t found = lzs::ImagePayload(image, imageSize, true, facts, payloadLength);
  out.promisedSize = facts.imageSize;
  if (found != 0) return 0;

  const auto* const payload = static_cast<const std::uint8_t*>(image) + lzs::HeaderSize;
  const std::uint8_t* in = payload;
  lzs::WalkState state;
  const lzs::WalkStop stop =
      lzs::WalkItems(in, payload + payloadLength, true, state, Counter(out, payloadLength));
  const std::uint64_t items = out.literals + out.references;
  // The flag bytes read: one per eight items, and one more when the walk
  // read one for a group without a whole item.
  out.groups = (items + 7) / 8 + (items % 8 == 0 && state.offset > out.stoppedAt ? 1 : 0);
  out.decodedSize = state.output;
  out.lastItemCut = stop == lzs::WalkStop::Cut ? 1 : 0;
  if (out.decodedSize == 0) return 0;
  out.status = imageSize < out.promisedSize   ? LZS_STATUS_TRUNCATED
               : imageSize > out.promisedSize ? LZS_STATUS_TRAILING
                                              : LZS_STATUS_OK;
  const size_t result = lzs::SizeResult(out.decodedSize);
  if (lzs_is_error(result)) return result;
  const std::uint64_t smallest = SmallestImageSize(payload, payloadLength, out.decodedSize);
  if (smallest == OutOfMemory) return Error(LZS_ERROR_OUT_OF_MEMORY);
  out.smallestImageSize = smallest;
  return result;
}

size_t lzs_inspection_text(const lzs_inspection* inspection, const char* name, int json, char* buf,
                           size_t cap) {
  Words words(buf, cap);
  if (inspection == nullptr) return words.End();
  if (json != 0) {
    WriteJson(*inspection, name, words);
  } else {
    WriteSummary(*inspection, name, words);
  }
  return words.End();
}
