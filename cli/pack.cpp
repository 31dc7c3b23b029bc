#include "cli/pack.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
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

// One chunk of the input and its segment, in a ring: read by the calling
// thread, parsed by any worker, then taken into the stream, in input order,
// by whichever worker gets there; the slot is then read into again.
struct Chunk {
  Bytes text;  // the bytes before the chunk (before of them), the chunk, the bytes after
  Segment segment;
  std::size_t before = 0;
  std::size_t size = 0;
  bool last = false;
  std::atomic<std::uint64_t> parsed{0};  // the chunk's number + 1, once parsed
};

class Packer {
 public:
  Packer(const PackSetting& setting, const TakePiece& put, Packed& packed)
      : setting_(setting), put_(put), packed_(packed) {}
  ~Packer() { Stop(); }
  Packer(const Packer&) = delete;
  Packer& operator=(const Packer&) = delete;

  bool Run(Input& input, Failure& failure);

 private:
  bool Fail(std::size_t code) {
    packed_.code = code;
    return false;
  }
  bool Put(std::size_t size, std::string& why);
  bool Stream(const std::uint8_t* data, std::size_t size, lzs_cstream_op op, std::string& why);
  bool Take(const std::uint8_t* data, std::size_t size, std::string& why);
  bool Prepare();
  Chunk& Slot(std::uint64_t number) { return ring_[number % ring_.size()]; }
  bool Publish(bool last, std::string& why);
  bool Finish(std::string& why);
  void Stop();
  void Work();
  bool FeedParsed();
  bool Feed(Chunk& chunk);
  bool ParseNext();

  const PackSetting& setting_;
  const TakePiece& put_;
  Packed& packed_;
  Bytes out_;
  bool threaded_ = false;
  // The chunks: the one read into (reading_, have_ bytes of its text so
  // far), those read (below ready_), taken by a worker to parse (below
  // claimed_) and taken into the stream (below fed_). A slot is read into
  // again once its chunk is taken into the stream.
  std::vector<Chunk> ring_;
  std::uint64_t reading_ = 0;
  std::size_t have_ = 0;
  std::atomic<std::uint64_t> ready_{0};
  std::atomic<std::uint64_t> claimed_{0};
  std::atomic<std::uint64_t> fed_{0};
  std::atomic<bool> feeding_{false};  // a worker takes chunks into the stream
  std::atomic<bool> ended_{false};    // ready_ counts every chunk
  std::atomic<bool> stop_{false};     // a failure: every thread stops
  std::atomic<std::size_t> parseError_{0};
  std::string why_;  // of the output's failure, while feeding
  std::function<void()> work_{[this] { Work(); }};
  Workers workers_;
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

// Takes the parsed chunks into the stream, in input order, unless
// another worker does.
bool Packer::FeedParsed() {
  if (feeding_.exchange(true, std::memory_order_acquire)) return false;
  bool fed = false;
  for (std::uint64_t number = fed_; number < ready_ && !stop_; ++number) {
    Chunk& chunk = Slot(number);
    if (chunk.parsed.load(std::memory_order_acquire) != number + 1) break;
    if (!Feed(chunk)) {
      stop_ = true;
      break;
    }
    fed_.store(number + 1, std::memory_order_release);
    fed = true;
  }
  feeding_.store(false, std::memory_order_release);
  return fed;
}

bool Packer::Feed(Chunk& chunk) {
  for (;;) {
    std::size_t used = 0;
    const size_t result =
        lzs_encode_segment(setting_.stream, chunk.segment.get(), out_.data(), out_.size(), &used);
    if (!Put(used, why_)) return false;
    if (lzs_is_error(result)) return Fail(result);
    if (result == 0) return true;
  }
}

bool Packer::ParseNext() {
  std::uint64_t number = claimed_;
  do {
    if (number >= ready_) return false;
  } while (!claimed_.compare_exchange_weak(number, number + 1));
  Chunk& chunk = Slot(number);
  const size_t result =
      lzs_segment_parse(chunk.segment.get(), setting_.level, chunk.text.data() + chunk.before,
                        chunk.size, number * LZS_SEGMENT_SIZE, chunk.last);
  if (result != 0) {
    parseError_ = result;
    stop_ = true;
  }
  chunk.parsed.store(number + 1, std::memory_order_release);
  return true;
}

void Packer::Work() {
  try {
    while (!stop_) {
      if (FeedParsed() || ParseNext()) continue;
      if (ended_ && fed_ == ready_) return;
      os::Pause();
    }
  } catch (...) {
    stop_ = true;  // what is left undone fails the packing
  }
}

// Lets the workers have the chunk read into, and starts reading the next
// one, with the bytes before it and those after this one read already, as
// soon as its slot is free.
bool Packer::Publish(bool last, std::string& why) {
  Chunk& chunk = Slot(reading_);
  chunk.size = last ? have_ - chunk.before : LZS_SEGMENT_SIZE;
  chunk.last = last;
  ready_.store(reading_ + 1, std::memory_order_release);
  if (last) return true;
  while (reading_ + 1 >= fed_.load(std::memory_order_acquire) + ring_.size()) {
    if (stop_) return Finish(why);
    os::Pause();
  }
  Chunk& next = Slot(++reading_);
  const std::size_t from = chunk.before + LZS_SEGMENT_SIZE - Before;
  std::memcpy(next.text.data(), chunk.text.data() + from, have_ - from);
  next.before = Before;
  have_ -= from;
  return true;
}

// Waits for the workers to take every chunk read into the stream, or to
// stop, and tells how it went.
bool Packer::Finish(std::string& why) {
  ended_ = true;
  workers_.Wait();
  if (packed_.outputFailed) why = why_;
  if (packed_.outputFailed || packed_.code != 0) return false;
  if (parseError_ != 0) return Fail(parseError_);
  return (!stop_ && fed_ == ready_) || Fail(OutOfMemory);
}

void Packer::Stop() {
  stop_ = true;
  workers_.Wait();
}

bool Packer::Take(const std::uint8_t* data, std::size_t size, std::string& why) {
  if (setting_.progress != nullptr) *setting_.progress += size;
  packed_.unpacked += size;
  if (!threaded_) return Stream(data, size, LZS_CSTREAM_CONTINUE, why);
  while (size > 0) {
    // A whole chunk, with the bytes after it that tell it is not the last.
    Chunk& chunk = Slot(reading_);
    const std::size_t full = chunk.before + LZS_SEGMENT_SIZE + After;
    const std::size_t n = std::min(size, full - have_);
    std::memcpy(chunk.text.data() + have_, data, n);
    have_ += n;
    data += n;
    size -= n;
    if (have_ == full && !Publish(false, why)) return false;
  }
  return true;
}

// The ring holds a chunk to read into, one being taken into the stream and
// a few more per thread, so that no thread waits for another.
bool Packer::Prepare() {
  try {
    out_.resize(lzs_cstream_out_size());
    if (setting_.threads < 2) return true;
    std::vector<Chunk> ring(2 * std::size_t{setting_.threads} + 1);
    for (Chunk& chunk : ring) {
      chunk.text.resize(Before + LZS_SEGMENT_SIZE + After);
      chunk.segment.reset(lzs_segment_create());
      if (chunk.segment == nullptr) return false;
    }
    ring_.swap(ring);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Where no thread starts, the stream alone packs.
  threaded_ = workers_.Start(setting_.threads, work_) > 0;
  return true;
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
  if (threaded_) {
    if (have_ > Slot(reading_).before && !Publish(true, failure.reason)) return false;
    if (!Finish(failure.reason)) return false;
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
