#include "cli/pack.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cli/workers.hpp"

namespace cli {
namespace {

constexpr std::size_t Before = LZS_SEGMENT_BEFORE;
constexpr std::size_t After = LZS_SEGMENT_AFTER;
constexpr std::size_t OutOfMemory = static_cast<std::size_t>(0) - LZS_ERROR_OUT_OF_MEMORY;

struct SegmentFree {
  void operator()(lzs_segment* segment) const { lzs_segment_free(segment); }
};
using Segment = std::unique_ptr<lzs_segment, SegmentFree>;

class Packer {
 public:
  Packer(const PackSetting& setting, const TakePiece& put, Packed& packed)
      : setting_(setting), put_(put), packed_(packed) {}

  bool Run(Input& input, Failure& failure);

 private:
  // A round parses more chunks than it has threads, so that the thread that
  // takes the round before into the stream is not left behind by the
  // others: one more at the smallest level, whose segments are the larger
  // and whose stream takes the larger share; at the fast level, twice as
  // many and one more.
  std::size_t RoundChunks() const {
    return setting_.level == LZS_LEVEL_FAST ? 2 * setting_.threads + 1 : setting_.threads + 1;
  }
  bool Fail(std::size_t code) {
    packed_.code = code;
    return false;
  }
  bool Put(std::size_t size, std::string& why);
  bool Stream(const std::uint8_t* data, std::size_t size, lzs_cstream_op op, std::string& why);
  bool Take(const std::uint8_t* data, std::size_t size, std::string& why);
  bool Prepare();
  bool Round(bool last, std::string& why);
  bool Feed(std::vector<Segment>& segments, std::size_t count, std::string& why);

  const PackSetting& setting_;
  const TakePiece& put_;
  Packed& packed_;
  Bytes out_;
  // Segments: the input of a round of chunks, after the bytes before its
  // first chunk (before_ of them) and up to the bytes after its last.
  Bytes round_;
  std::size_t before_ = 0;
  std::size_t have_ = 0;
  std::uint64_t offset_ = 0;  // of the round's first chunk in the input
  // The segments a round parses, and those of the round before, which are
  // taken into the stream meanwhile.
  std::vector<Segment> parsing_;
  std::vector<Segment> parsed_;
  std::size_t waiting_ = 0;  // of parsed_, not yet taken
};

bool Packer::Put(std::size_t size, std::string& why) {
  packed_.image += size;
  if (size == 0 || put_(out_.data(), size, why)) return true;
  packed_.outputFailed = true;
  return false;
}

bool Packer::Stream(const std::uint8_t* data, std::size_t size, lzs_cstream_op op,
                    std::string& why) {
  std::size_t pos = 0;
  for (;;) {
    std::size_t used = 0;
    const size_t result =
        lzs_encode_stream(setting_.stream, out_.data(), out_.size(), &used, data, size, &pos, op);
    if (!Put(used, why)) return false;
    if (lzs_is_error(result)) return Fail(result);
    if (pos == size && (op == LZS_CSTREAM_CONTINUE || result == 0)) return true;
  }
}

bool Packer::Feed(std::vector<Segment>& segments, std::size_t count, std::string& why) {
  for (std::size_t k = 0; k < count; ++k) {
    for (;;) {
      std::size_t used = 0;
      const size_t result =
          lzs_encode_segment(setting_.stream, segments[k].get(), out_.data(), out_.size(), &used);
      if (!Put(used, why)) return false;
      if (lzs_is_error(result)) return Fail(result);
      if (result == 0) break;
    }
  }
  return true;
}

// Parses the round's chunks on the threads while one of them takes the
// round before into the stream.
bool Packer::Round(bool last, std::string& why) {
  const std::size_t bytes = last ? have_ - before_ : RoundChunks() * LZS_SEGMENT_SIZE;
  // A chunk that is not the last has the bytes after it in the input: the
  // last one takes what is left past the last whole segment size.
  const std::size_t chunks =
      last ? std::max<std::size_t>(1, bytes / LZS_SEGMENT_SIZE) : RoundChunks();
  const std::size_t tasks = chunks + 1;
  std::atomic<std::size_t> next{0};
  // What a task did not finish (one that threw) fails the round.
  std::atomic<std::size_t> parseError{0};
  std::atomic<std::size_t> parsedCount{0};
  bool fed = false;
  RunWorkers(
      static_cast<unsigned>(std::min<std::size_t>(tasks, setting_.threads)),
      [&] {
        for (std::size_t task; (task = next++) < tasks;) {
          if (task == 0) {
            fed = Feed(parsed_, waiting_, why);
            continue;
          }
          const std::size_t k = task - 1;
          const std::size_t start = k * LZS_SEGMENT_SIZE;
          const std::size_t size = k + 1 == chunks ? bytes - start : LZS_SEGMENT_SIZE;
          const size_t result =
              lzs_segment_parse(parsing_[k].get(), setting_.level, round_.data() + before_ + start,
                                size, offset_ + start, last && k + 1 == chunks);
          if (result != 0) parseError = result;
          ++parsedCount;
        }
      },
      [] {});
  if (!fed && packed_.code == 0 && !packed_.outputFailed) {
    return Fail(OutOfMemory);
  }
  if (!fed) return false;
  if (parseError != 0) return Fail(parseError);
  if (parsedCount != chunks) return Fail(OutOfMemory);
  std::swap(parsing_, parsed_);
  waiting_ = chunks;
  // The next round keeps the bytes before its first chunk, and those after
  // this round's last that were read already.
  const std::size_t end = before_ + bytes;
  const std::size_t from = end - std::min(end, Before);
  std::memmove(round_.data(), round_.data() + from, have_ - from);
  offset_ += bytes;
  have_ -= from;
  before_ = end - from;
  return true;
}

bool Packer::Take(const std::uint8_t* data, std::size_t size, std::string& why) {
  if (setting_.progress != nullptr) *setting_.progress += size;
  packed_.unpacked += size;
  if (setting_.threads < 2) return Stream(data, size, LZS_CSTREAM_CONTINUE, why);
  while (size > 0) {
    // A full round, with the bytes after it that tell it is not the last.
    const std::size_t full = before_ + RoundChunks() * LZS_SEGMENT_SIZE + After;
    const std::size_t n = std::min(size, full - have_);
    std::memcpy(round_.data() + have_, data, n);
    have_ += n;
    data += n;
    size -= n;
    if (have_ == full && !Round(false, why)) return false;
  }
  return true;
}

bool Packer::Prepare() {
  try {
    out_.resize(lzs_cstream_out_size());
    if (setting_.threads < 2) return true;
    round_.resize(Before + RoundChunks() * LZS_SEGMENT_SIZE + After);
    for (std::vector<Segment>* set : {&parsing_, &parsed_}) {
      for (std::size_t k = 0; k < RoundChunks(); ++k) {
        set->emplace_back(lzs_segment_create());
        if (set->back() == nullptr) return false;
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool Packer::Run(Input& input, Failure& failure) {
  // The smallest level's store of open choices has no limit here: input
  // built to keep them open over a long span that does not repeat takes
  // about 4 bytes per byte of it, as the one-shot encoder does, rather than
  // a refusal of a file that packs.
  size_t reset = lzs_cstream_reset(setting_.stream, setting_.level);
  if (!lzs_is_error(reset)) reset = lzs_cstream_set_memory_limit(setting_.stream, 0);
  if (lzs_is_error(reset)) return Fail(reset);
  if (!Prepare()) return Fail(OutOfMemory);
  const TakePiece take = [this](const std::uint8_t* data, std::size_t size, std::string& why) {
    return Take(data, size, why);
  };
  if (!input.ReadInPieces(ReadRule{UINT64_MAX, false}, lzs_cstream_in_size(), take, failure)) {
    return false;
  }
  if (setting_.threads >= 2) {
    if (have_ > before_ && !Round(true, failure.reason)) return false;
    if (!Feed(parsed_, waiting_, failure.reason)) return false;
  }
  if (!Stream(nullptr, 0, LZS_CSTREAM_END, failure.reason)) return false;
  const size_t size = lzs_cstream_header(setting_.stream, packed_.header);
  return !lzs_is_error(size) || Fail(size);
}

}  // namespace

bool PackInput(Input& input, const PackSetting& setting, const TakePiece& put, Packed& packed,
               Failure& failure) {
  return Packer(setting, put, packed).Run(input, failure);
}

}  // namespace cli
