// liblzs: lzs_scan_next, images found inside other data.
//
// The format has no magic number: at any offset whose four bytes give a
// length that fits in the data, the bytes that follow decode to something.
// What tells an image that a packer made from such bytes is evidence in its
// items, gathered by the decoder's item walk with a visitor that decodes
// into a ring:
//
//  - Items no packer chooses (the "violations"). Every packer extends a
//    match as far as it goes at the distance it found, and no parse gains
//    from two items where one would do: so a back-reference shorter than
//    MaxCopy whose next output byte is a literal equal to the byte it would
//    have copied next (for copies of MinCopy only the longer ones count: a
//    fast packer's search returns some of those unextended), two
//    back-references of at most MaxCopy bytes in all that the first one's
//    distance could copy as one, five literals in a row that the window
//    already holds at a nearer place than MaxNearDistance, a back-reference
//    of distance 0, and a last item cut in two. Bytes that are not an image
//    show them within a few items: their back-references read the
//    zero-filled window before the output's start and write runs of zeros
//    cut into pieces. A packer's image may show one in a thousand items
//    (a search that missed a match, a block boundary of a packer that works
//    in blocks), no more.
//  - The share of back-references in the first window of output that read
//    zeros from before its start: packers use the zero-filled window only
//    where the data holds zeros, and bytes that are not an image read it
//    most of the time.
//  - How the decoded bytes repack (lzs_encode at LZS_LEVEL_FAST, on the
//    first RepackSpan bytes): a packer's image is about that size or, of a
//    packer with a weak search, larger by half at most; bytes that are not
//    an image decode to data that packs far smaller than they do.
//
// A candidate with too many violations is no image. Of the rest, one that
// reads the zero window for more than a quarter of those back-references
// and packs a fifth worse than its repack is none either (a packer that
// prefers the window's far end reads it that much but packs well; one with
// a weak search packs worse but reads it as little as any), nor is one
// that packs twice as large as its repack.
//
// Measured on this machine's files (bench/scan_bench, 400 MB of programs,
// libraries and other files of /usr): no image is found in random bytes,
// and the few that bytes of executables and libraries mimic are below
// LZS_SCAN_HIGH_IMAGE, and so found low.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/format.hpp"
#include "lzs/walk.hpp"
#include "lzs/words.hpp"

namespace {

using lzs::Error;
using lzs::Item;
using lzs::WalkStep;

// The output ring: at least a window and the longest copy, and the span
// that is repacked, so that the first RepackSpan bytes are still there
// when the output passes them.
constexpr std::size_t RingSize = std::size_t{1} << 16;
constexpr std::size_t RingMask = RingSize - 1;
constexpr std::size_t RepackSpan = RingSize;
static_assert(RingSize >= lzs::WindowSize + lzs::MaxCopy);

// Literals in a row whose bytes the window holds, and how near: a packer
// whose search misses a match of that length, that near, is not one.
constexpr std::uint32_t LiteralRun = 5;
constexpr std::uint32_t MaxNearDistance = lzs::WindowSize - lzs::WindowBias;
// Positions of earlier output by a hash of their next four bytes, the
// newest of each hash.
constexpr int HashBits = 12;

// Violations allowed: one per this many items walked so far.
constexpr int ItemsPerViolation = 1024;
// The zero-window share, and the repack ratio, as fractions.
constexpr std::uint64_t ZeroShareMin = 16;   // early back-references for the share to count
constexpr std::uint64_t ZeroShareTimes = 4;  // at most 1/4 of them read zeros
constexpr std::uint64_t GoodRatioTimes = 5;  // image * 5 <= repack * 6: about the repack's size
constexpr std::uint64_t GoodRatioOf = 6;
constexpr std::uint64_t WorstRatio = 2;  // image at most twice its repack

// The scan's workspace: the ring and the hash of its positions.
struct Workspace {
  std::uint8_t ring[RingSize];
  std::uint64_t positions[std::size_t{1} << HashBits];  // serial << 32 | output index
};

// What the walk of one candidate found.
struct Evidence {
  std::uint64_t items = 0;
  std::uint64_t violations = 0;
  std::uint64_t earlyReferences = 0;      // back-references in the first window of output
  std::uint64_t earlyZeroReferences = 0;  // of those, the ones that read zeros
  std::uint64_t spanOutput = 0;           // output bytes in the ring from index 0 on
  std::uint64_t spanPayload = 0;          // payload bytes that gave them
  bool rejected = false;
};

// Walks one candidate's items, decoding into the ring and counting the
// evidence; stops at once when the violations pass what is allowed.
class Examiner {
 public:
  Examiner(Workspace& work, std::uint32_t serial, Evidence& evidence)
      : ring_(work.ring),
        positions_(work.positions),
        serial_(std::uint64_t{serial} << 32),
        evidence_(evidence) {}

  WalkStep operator()(const Item& item) {
    const std::uint64_t i = item.output;
    if (i + item.length <= RepackSpan) {
      evidence_.spanOutput = i + item.length;
      evidence_.spanPayload = item.offset + (item.reference ? 2 : 1);
    }
    if (item.reference) {
      Reference(item);
    } else {
      Literal(item);
    }
    ++evidence_.items;
    if (evidence_.violations > evidence_.items / ItemsPerViolation) {
      evidence_.rejected = true;
      return WalkStep::Stop;
    }
    return WalkStep::Next;
  }

 private:
  // A back-reference's bytes into the ring: zeros where it reads before the
  // start or at distance 0, else the bytes `distance` back, which a copy
  // shorter than its distance takes in one piece.
  //
  // Where the ring has room, the copy writes Span bytes whatever its
  // length: the bytes past it are output still to come, written again
  // before anything reads them.
  static constexpr std::size_t Span = 24;
  static_assert(Span >= lzs::MaxCopy);
  void Copy(std::uint64_t i, std::uint32_t distance, std::uint32_t length) {
    const std::size_t to = i & RingMask;
    if (to + Span <= RingSize) {
      if (distance == 0 || i + length <= distance) {
        std::memset(ring_ + to, 0, Span);
        return;
      }
      const std::size_t from = (i - distance) & RingMask;
      if (distance >= length && i >= distance && from + Span <= RingSize) {
        // All loaded before any is stored: the source may reach into the
        // bytes past the copy.
        std::uint64_t chunk[Span / 8];
        std::memcpy(chunk, ring_ + from, Span);
        std::memcpy(ring_ + to, chunk, Span);
        return;
      }
    }
    for (std::uint32_t k = 0; k < length; ++k) ring_[(i + k) & RingMask] = Source(i + k, distance);
  }

  // The byte a copy of `distance` writes at output index at.
  std::uint8_t Source(std::uint64_t at, std::uint32_t distance) const {
    return distance == 0 || at < distance ? 0 : ring_[(at - distance) & RingMask];
  }

  std::uint32_t Hash(std::uint64_t at) const {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | ring_[(at + static_cast<unsigned>(k)) & RingMask];
    return (v * 2654435761u) >> (32 - HashBits);
  }

  // Output index at - Lag, whose run of LiteralRun bytes is complete now,
  // joins the hash; a run whose last byte is at is looked for among those
  // before it.
  static constexpr std::uint32_t Lag = LiteralRun - 1;
  void Index(std::uint64_t at) {
    if (hashing_ && at >= Lag) positions_[Hash(at - Lag)] = serial_ | ((at - Lag) & 0xFFFFFFFFu);
  }

  void Literal(const Item& item) {
    const std::uint64_t i = item.output;
    if (lastWasReference_ && lastLength_ > lzs::MinCopy && lastLength_ < lzs::MaxCopy &&
        item.literal == Source(i, lastDistance_)) {
      ++evidence_.violations;  // the back-reference before stopped short
    }
    ring_[i & RingMask] = item.literal;
    ++literalRun_;
    if (hashing_ && literalRun_ >= LiteralRun) NearerRun(i + 1 - LiteralRun);
    Index(i);
    lastWasReference_ = false;
    StartHashing(i + 1);
  }

  // Whether the LiteralRun literals from output index start were in the
  // window already, near enough for any search to find them.
  void NearerRun(std::uint64_t start) {
    const std::uint64_t entry = positions_[Hash(start)];
    if ((entry & ~std::uint64_t{0xFFFFFFFFu}) != serial_) return;
    const std::uint64_t distance = (start - entry) & 0xFFFFFFFFu;
    if (distance == 0 || distance > MaxNearDistance || distance > start) return;  // a stale entry
    for (std::uint32_t k = 0; k < LiteralRun; ++k) {
      if (ring_[(start + k) & RingMask] != ring_[(start + k - distance) & RingMask]) return;
    }
    ++evidence_.violations;
  }

  void Reference(const Item& item) {
    const std::uint64_t i = item.output;
    const std::uint32_t length = item.length;
    if (item.distance == 0) ++evidence_.violations;
    if (i < lzs::WindowSize) {
      ++evidence_.earlyReferences;
      if (item.ReadsZeros()) ++evidence_.earlyZeroReferences;
    }
    Copy(i, item.distance, length);
    if (hashing_) {
      for (std::uint32_t k = 0; k < length; ++k) Index(i + k);
    }
    if (lastWasReference_ && lastLength_ + length <= lzs::MaxCopy) {
      bool one = true;  // the one before could have copied these too
      for (std::uint32_t k = 0; k < length && one; ++k) {
        one = ring_[(i + k) & RingMask] == Source(i + k, lastDistance_);
      }
      if (one) ++evidence_.violations;
    }
    lastWasReference_ = true;
    lastLength_ = length;
    lastDistance_ = item.distance;
    literalRun_ = 0;
    StartHashing(i + length);
  }

  // The hash starts after the first items, which settle most candidates
  // that are not images, with the positions written so far.
  void StartHashing(std::uint64_t output) {
    if (hashing_ || evidence_.items < HashAfterItems) return;
    hashing_ = true;
    for (std::uint64_t at = 0; at < output; ++at) Index(at);
  }
  static constexpr std::uint64_t HashAfterItems = 32;

  std::uint8_t* ring_;
  std::uint64_t* positions_;
  std::uint64_t serial_;
  Evidence& evidence_;
  bool hashing_ = false;
  bool lastWasReference_ = false;
  std::uint32_t lastLength_ = 0;
  std::uint32_t lastDistance_ = 0;
  std::uint32_t literalRun_ = 0;
};

// The size lzs_encode at LZS_LEVEL_FAST makes of data; 0 when the memory
// for it cannot be had.
std::size_t RepackedSize(const std::uint8_t* data, std::size_t size) {
  lzs_encoder* const encoder = lzs_encoder_create();
  const std::size_t bound = lzs_encode_bound(size);
  void* const image = std::malloc(bound);
  std::size_t n = 0;
  if (encoder != nullptr && image != nullptr) {
    n = lzs_encode_with(encoder, image, bound, data, size, LZS_LEVEL_FAST);
    if (lzs_is_error(n)) n = 0;
  }
  std::free(image);
  lzs_encoder_free(encoder);
  return n;
}

enum class Verdict { None, Low, High, OutOfMemory };

// Whether the image whose payload is payload[0, length) was made by a
// packer, and how sure that is.
Verdict Examine(Workspace& work, std::uint32_t serial, const std::uint8_t* payload,
                std::uint32_t length, std::uint64_t& decodedSize) {
  Evidence evidence;
  const std::uint8_t* in = payload;
  lzs::WalkState state;
  const lzs::WalkStop stop =
      lzs::WalkItems(in, payload + length, true, state, Examiner(work, serial, evidence));
  if (evidence.rejected || stop == lzs::WalkStop::Cut || state.output == 0) return Verdict::None;
  decodedSize = state.output;
  const bool readsZeros = evidence.earlyReferences >= ZeroShareMin &&
                          evidence.earlyZeroReferences * ZeroShareTimes > evidence.earlyReferences;
  // The ring still holds output index 0 onwards, spanOutput bytes of it.
  const std::size_t repacked =
      RepackedSize(work.ring, static_cast<std::size_t>(evidence.spanOutput));
  if (repacked == 0) return Verdict::OutOfMemory;
  const std::uint64_t imageBytes = lzs::HeaderSize + evidence.spanPayload;
  const bool packsAlike = imageBytes * GoodRatioTimes <= repacked * GoodRatioOf;
  if (imageBytes > repacked * WorstRatio || (readsZeros && !packsAlike)) return Verdict::None;
  return lzs::HeaderSize + std::uint64_t{length} >= LZS_SCAN_HIGH_IMAGE ? Verdict::High
                                                                        : Verdict::Low;
}

// The candidate whose header is at src[offset], when its length gives an
// image large enough to be found that fits in src[0, srcSize).
struct Candidate {
  std::size_t offset = 0;
  std::uint32_t length = 0;  // its header's
  std::uint64_t decodedSize = 0;
  Verdict verdict = Verdict::None;

  std::uint64_t End() const { return offset + lzs::HeaderSize + std::uint64_t{length}; }
};

// The candidates' serials; 0 is the hash table's empty entry: after the
// last serial, the table is emptied and they start again.
std::uint32_t NextSerial(Workspace& work, std::uint32_t& serial) {
  if (serial == UINT32_MAX) {
    std::memset(work.positions, 0, sizeof work.positions);
    serial = 0;
  }
  return ++serial;
}

bool Fits(const std::uint8_t* src, std::size_t srcSize, Candidate& c) {
  c.length = lzs::ReadHeader(src + c.offset);
  return c.length >= LZS_SCAN_MIN_IMAGE - lzs::HeaderSize &&
         c.length <= srcSize - c.offset - lzs::HeaderSize;
}

void Judge(Workspace& work, std::uint32_t& serial, const std::uint8_t* src, Candidate& c) {
  c.verdict = Examine(work, NextSerial(work, serial), src + c.offset + lzs::HeaderSize, c.length,
                      c.decodedSize);
}

// Bytes just before an image can read as a shorter image that runs into
// its items, falls in step with them and ends inside it. So a high finding
// gives way to a high one that starts a few bytes on and reaches past its
// end (and that one in turn).
constexpr std::size_t Overtake = 64;
void GiveWay(Workspace& work, std::uint32_t& serial, const std::uint8_t* src, std::size_t srcSize,
             Candidate& found) {
  for (std::size_t next = found.offset + 1;
       next <= found.offset + Overtake && srcSize - next >= LZS_SCAN_MIN_IMAGE; ++next) {
    Candidate c{next};
    if (!Fits(src, srcSize, c) || c.End() <= found.End()) continue;
    Judge(work, serial, src, c);
    if (c.verdict == Verdict::High || c.verdict == Verdict::OutOfMemory) {
      found = c;
      if (c.verdict == Verdict::OutOfMemory) return;
    }
  }
}

// The offsets from `offset` on, of the next Block, whose header's highest
// byte allows an image that fits in src[0, srcSize): bit k for offset + k.
// src holds at least Block + HeaderSize bytes from offset on. Most offsets
// are passed over here, eight at a time: the bytes of a word that are at
// most `top` have their high bit set in
// ~(((w & 0x7F...) + (0x7F - top) * 0x01...) | w), and a multiplication
// gathers those bits into eight.
constexpr std::size_t Block = 64;
std::uint64_t Candidates(const std::uint8_t* src, std::size_t srcSize, std::size_t offset) {
  const std::uint64_t room = srcSize - offset - lzs::HeaderSize;
  const std::uint64_t top = room >> 24 < 0xFF ? room >> 24 : 0xFF;
  constexpr std::uint64_t Ones = 0x0101010101010101u;
  constexpr std::uint64_t Low7 = 0x7F * Ones;
  constexpr std::uint64_t High = 0x80 * Ones;
  std::uint64_t bits = 0;
  for (std::size_t k = 0; k < Block; k += 8) {
    std::uint64_t w;
    std::memcpy(&w, src + offset + k + 3, sizeof w);  // the headers' highest bytes
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    const std::uint64_t atMostTop = ~(((w & Low7) + (0x7F - top) * Ones) | w) & High;
    bits |= ((atMostTop >> 7) * 0x0102040810204080u >> 56) << k;
  }
  return bits;
}

}  // namespace

size_t lzs_scan_next(const void* src, size_t srcSize, size_t* pos, lzs_finding* finding) {
  if (pos == nullptr || finding == nullptr || *pos > srcSize || (src == nullptr && srcSize != 0)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  *finding = lzs_finding{0, 0, 0, 0};
  const auto* const bytes = static_cast<const std::uint8_t*>(src);
  auto* const work = static_cast<Workspace*>(std::malloc(sizeof(Workspace)));
  if (work == nullptr) return Error(LZS_ERROR_OUT_OF_MEMORY);
  std::memset(work->positions, 0, sizeof work->positions);
  std::uint32_t serial = 0;
  size_t result = 0;
  std::size_t offset = *pos;
  std::uint64_t candidates = 0;        // bit k: offset + k, from `block` on
  std::size_t block = offset - Block;  // (wraps): the first offset starts a block
  for (; srcSize - offset >= LZS_SCAN_MIN_IMAGE; ++offset) {
    if (offset - block >= Block) {
      block = offset;
      // Only a last Block of offsets may hold less than a block's bytes.
      candidates = srcSize - offset >= Block + lzs::HeaderSize ? Candidates(bytes, srcSize, offset)
                                                               : ~std::uint64_t{0};
    }
    const std::uint64_t rest = candidates >> (offset - block);
    if (rest == 0) {
      offset = block + Block - 1;
      continue;
    }
    offset += static_cast<std::size_t>(__builtin_ctzll(rest));
    Candidate c{offset};
    if (!Fits(bytes, srcSize, c)) continue;
    Judge(*work, serial, bytes, c);
    if (c.verdict == Verdict::High) GiveWay(*work, serial, bytes, srcSize, c);
    if (c.verdict == Verdict::None) continue;
    if (c.verdict == Verdict::OutOfMemory) {
      result = Error(LZS_ERROR_OUT_OF_MEMORY);
      break;
    }
    const bool high = c.verdict == Verdict::High;
    *finding = lzs_finding{c.offset, c.End() - c.offset, c.decodedSize,
                           high ? LZS_CONFIDENCE_HIGH : LZS_CONFIDENCE_LOW};
    result = 1;
    offset = high ? static_cast<std::size_t>(c.End()) : c.offset + 1;
    break;
  }
  std::free(work);
  if (result == 0) offset = srcSize;
  if (!lzs_is_error(result)) *pos = offset;
  return result;
}

size_t lzs_finding_text(const lzs_finding* finding, const char* name, int json, char* buf,
                        size_t cap) {
  lzs::Words words(buf, cap);
  if (finding == nullptr) return words.End();
  const char* confidence = finding->confidence == LZS_CONFIDENCE_HIGH ? "high" : "low";
  if (json != 0) {
    words << '{';
    if (name != nullptr) {
      words << "\"file\":";
      words.Quoted(name) << ',';
    }
    words << "\"offset\":";
    words.Plain(finding->offset) << ",\"image_size\":";
    words.Plain(finding->imageSize) << ",\"decoded_size\":";
    words.Plain(finding->decodedSize) << ",\"confidence\":";
    words.Quoted(confidence) << '}';
  } else {
    if (name != nullptr) words << name << ": ";
    words << "at " << finding->offset << ": an image of " << finding->imageSize
          << " bytes that unpacks to " << finding->decodedSize << " bytes, " << confidence
          << " confidence";
  }
  return words.End();
}
