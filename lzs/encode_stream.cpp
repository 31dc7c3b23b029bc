#include "lzs/encode_stream.hpp"

#include <algorithm>
#include <cstring>

namespace lzs {
namespace {

constexpr std::uint32_t ZeroStart = TextLayout::ZeroStart;
constexpr std::uint32_t InputStart = TextLayout::InputStart;
constexpr std::uint32_t Padding = TextLayout::SearchPadding;

// Input the tree parses hold ahead of their search (as much as the fast
// parse's block, so both levels take input in pieces of one size), and the
// stage of output.
constexpr std::size_t TreeChunk = FastBlockSize;
constexpr std::size_t StageSize = std::size_t{128} << 10;
// Positions searched at once before the optimal parse takes them.
constexpr std::size_t Batch = 1024;

// Inserts the positions of the window before InputStart into a fresh tree:
// the zero bytes before the input, or the bytes before a segment. textEnd is
// the end of the input, or a position at least MaxCopy beyond InputStart.
void InsertWindow(MatchTree& tree, const std::uint8_t* text, std::uint32_t textEnd) {
  std::uint32_t distance = 0;
  for (std::uint32_t pos = ZeroStart; pos < InputStart; ++pos) {
    tree.Find(text, pos, std::min(MaxCopy, textEnd - pos), distance);
  }
}

}  // namespace

bool SegmentParser::Run(Parse parse, const std::uint8_t* chunk, std::size_t size,
                        std::uint64_t offset, bool last, const FastLimits& limits) {
  parse_ = parse;
  offset_ = offset;
  size_ = size;
  last_ = last;
  const std::size_t before = static_cast<std::size_t>(std::min<std::uint64_t>(offset, MaxDistance));
  const std::size_t after = last ? 0 : SegmentAfter;
  if (!text_.Resize(InputStart + size + after + Padding)) return false;
  std::uint8_t* const text = text_.data();
  std::memset(text, 0, InputStart - before);
  std::memcpy(text + InputStart - before, chunk - before, before + size + after);
  std::memset(text + InputStart + size + after, 0, Padding);
  if (parse == Parse::Fast) {
    if (!fast_.Start() || !items_.Reserve(size)) return false;
    fast_.SetLimits(limits);
    for (std::size_t at = 0; at < size; at += FastBlockSize) {
      fast_.BeginBlock(text + InputStart + at, offset + at);
      fast_.Parse(text + InputStart + at, offset + std::min(size, at + FastBlockSize), items_);
    }
    return true;
  }
  if (!matches_.Resize(size) || !tree_.Start()) return false;
  const auto textEnd = static_cast<std::uint32_t>(InputStart + size + after);
  InsertWindow(tree_, text, textEnd);
  tree_.FindRun(text, InputStart, size, textEnd, matches_.data());
  return true;
}

std::size_t SegmentParser::Bytes() const {
  return text_.capacity() + matches_.capacity() * sizeof(MatchCode) + tree_.Bytes() +
         fast_.Bytes() + items_.MemoryBytes();
}

bool StreamEncoder::Reset(Parse parse, std::size_t limitBytes) {
  parse_ = parse;
  capacity_ = static_cast<std::uint32_t>(InputStart + TreeChunk);
  if (!text_.Resize(capacity_ + Padding) || !writer_.UseOwnStage(StageSize)) return false;
  std::memset(text_.data(), 0, InputStart);
  start_ = 0;
  filled_ = 0;
  next_ = 0;
  blockBegun_ = false;
  greedyNext_ = 0;
  direct_ = false;
  parseEnded_ = false;
  sealed_ = false;
  finished_ = false;
  tooLarge_ = false;
  outOfMemory_ = false;
  misused_ = false;
  segments_ = false;
  lastSegment_ = false;
  segmentAt_ = 0;
  segmentByte_ = 0;
  writer_.Start();
  batchAt_ = 0;
  batchEnd_ = 0;
  if (parse == Parse::Fast) return fast_.Start();
  return tree_.Start() && batchMatches_.Resize(Batch) && batchBytes_.Resize(Batch) &&
         (parse != Parse::Optimal || optimal_.Start(limitBytes));
}

std::size_t StreamEncoder::Bytes() const {
  std::size_t bytes = text_.capacity() + StageSize;
  if (parse_ == Parse::Fast) return bytes + fast_.Bytes();
  bytes += tree_.Bytes();
  if (parse_ == Parse::Optimal) bytes += optimal_.Bytes();
  return bytes;
}

// Takes input into the text buffer, first moving the window before the next
// position to the front when the buffer is full.
bool StreamEncoder::Fill(const std::uint8_t* src, std::size_t srcSize, std::size_t* srcPos) {
  if (Index(filled_) == capacity_) {
    // The fast parse moves its text at block starts only.
    // The tree keeps a node per position modulo WindowSize: the text moves
    // by whole windows.
    const std::uint64_t shift = (next_ - start_) / WindowSize * WindowSize;
    if (parse_ == Parse::Fast || shift == 0) return false;
    const std::uint64_t keep = start_ + shift;
    std::memmove(text_.data() + ZeroStart, text_.data() + Index(keep) - MaxDistance,
                 MaxDistance + (filled_ - keep));
    start_ = keep;
    tree_.Rebase(static_cast<std::uint32_t>(shift));
  }
  const std::size_t room = capacity_ - Index(filled_);
  const std::size_t n = std::min(room, srcSize - *srcPos);
  std::memcpy(text_.data() + Index(filled_), src + *srcPos, n);
  *srcPos += n;
  filled_ += n;
  return n != 0;
}

bool StreamEncoder::WorkTree(bool ended) {
  if (optimal_.Emitting()) {
    const std::uint64_t before = writer_.PayloadSize();
    optimal_.Emit(writer_);
    return writer_.PayloadSize() != before || !optimal_.Emitting();
  }
  if (batchAt_ < batchEnd_) {
    batchAt_ += optimal_.Steps(batchMatches_.data() + batchAt_, batchBytes_.data() + batchAt_,
                               batchEnd_ - batchAt_);
    return true;
  }
  const std::uint64_t last = ended ? filled_ : filled_ - std::min<std::uint64_t>(filled_, MaxCopy);
  if (next_ >= last) {
    if (!ended || parseEnded_) return false;
    parseEnded_ = true;
    if (parse_ == Parse::Optimal) optimal_.End();
    return true;
  }
  const std::uint8_t* const text = text_.data();
  const std::uint32_t dataEnd = Index(filled_);
  if (next_ == 0) InsertWindow(tree_, text, ended ? dataEnd : InputStart + MaxCopy);
  std::uint32_t pos = Index(next_);
  const std::uint32_t stop = Index(last);
  if (parse_ == Parse::Optimal) {
    // A batch of searches, then the parse takes them (maybe not all at once:
    // see WorkTree's start).
    const std::size_t n = std::min<std::size_t>(Batch, stop - pos);
    tree_.FindRun(text, pos, n, dataEnd, batchMatches_.data());
    std::memcpy(batchBytes_.data(), text + pos, n);
    pos += static_cast<std::uint32_t>(n);
    batchAt_ = optimal_.Steps(batchMatches_.data(), batchBytes_.data(), n);
    batchEnd_ = n;
  } else {
    for (; pos < stop && writer_.HasRoom(1); ++pos) {
      std::uint32_t distance = 0;
      const std::uint32_t length =
          tree_.Find(text, pos, std::min(MaxCopy, dataEnd - pos), distance);
      const std::uint64_t at = start_ + (pos - InputStart);
      if (at != greedyNext_) continue;  // inside the last copy
      if (length >= MinCopy) {
        writer_.Copy(at, distance, length);
        greedyNext_ = at + length;
      } else {
        writer_.Literal(text[pos]);
        greedyNext_ = at + 1;
      }
    }
  }
  const bool moved = pos != Index(next_);
  next_ = start_ + (pos - InputStart);
  return moved;
}

bool StreamEncoder::WorkFast(bool ended) {
  if (!blockBegun_) {
    if (next_ == filled_ && (ended || segments_)) return false;
    if (start_ != next_) {
      // The new block's window to the front; positions are kept by input
      // offset, so the tables need no change.
      std::memmove(text_.data() + ZeroStart, text_.data() + Index(next_) - MaxDistance,
                   MaxDistance + (filled_ - next_));
      start_ = next_;
      if (sealed_) std::memset(text_.data() + Index(filled_), 0, Padding);
    }
    if (!ended && filled_ - next_ < FastBlockSize) return false;
    fast_.BeginBlock(text_.data() + Index(next_), next_);
    blockBegun_ = true;
  }
  const std::uint64_t end = std::min<std::uint64_t>(next_ + FastBlockSize, filled_);
  const std::uint64_t from = fast_.Position();
  if (fast_.Parse(text_.data() + Index(from), end, writer_)) {
    blockBegun_ = false;
    next_ = end;
    return true;
  }
  return fast_.Position() != from;
}

bool StreamEncoder::Work(bool ended) {
  return parse_ == Parse::Fast ? WorkFast(ended) : WorkTree(ended);
}

// Ends the image once the parse has written all of it.
bool StreamEncoder::Finish() {
  if (parse_ == Parse::Fast ? blockBegun_ || next_ != filled_
                            : !parseEnded_ || next_ != filled_ || optimal_.Emitting()) {
    return false;
  }
  writer_.Finish();
  finished_ = true;
  if (writer_.PayloadSize() > MaxPayload) {
    tooLarge_ = true;
  } else if (direct_) {
    writer_.WriteHeader();
  }
  return true;
}

EncodeStatus StreamEncoder::Failure() const {
  if (misused_) return EncodeStatus::Misused;
  if (outOfMemory_ || (parse_ == Parse::Optimal && optimal_.Failed())) {
    return EncodeStatus::OutOfMemory;
  }
  if (tooLarge_) return EncodeStatus::TooLarge;
  return EncodeStatus::Working;
}

void StreamEncoder::Drain(std::uint8_t* dst, std::size_t dstCapacity, std::size_t* dstPos) {
  if (!direct_) *dstPos += writer_.Drain(dst + *dstPos, dstCapacity - *dstPos);
  // Every payload byte is counted as it is written: stop at the format's
  // largest as soon as it is passed (the open group's flag byte may yet go).
  if (writer_.PayloadSize() > MaxPayload + 1) tooLarge_ = true;
}

EncodeStatus StreamEncoder::Encode(const std::uint8_t* src, std::size_t srcSize,
                                   std::size_t* srcPos, std::uint8_t* dst, std::size_t dstCapacity,
                                   std::size_t* dstPos, bool end) {
  if (segments_ && *srcPos < srcSize) misused_ = true;
  if (end && segments_ && !lastSegment_) misused_ = true;
  for (;;) {
    Drain(dst, dstCapacity, dstPos);
    const EncodeStatus failure = Failure();
    if (failure != EncodeStatus::Working) return failure;
    if (finished_) return Waiting() == 0 ? EncodeStatus::Done : EncodeStatus::Working;
    const bool ended = end && *srcPos == srcSize;
    if (ended && !sealed_ && !segments_) {
      // The search reads a little past the input's end: zeros there.
      std::memset(text_.data() + Index(filled_), 0, Padding);
      sealed_ = true;
    }
    if (Work(ended)) continue;
    if (*srcPos < srcSize && Fill(src, srcSize, srcPos)) continue;
    if (ended && Finish()) continue;
    return EncodeStatus::Working;
  }
}

EncodeStatus StreamEncoder::Take(const SegmentParser& segment, std::uint8_t* dst,
                                 std::size_t dstCapacity, std::size_t* dstPos) {
  if (!segments_ && filled_ != 0) misused_ = true;
  if (segment.parse_ != parse_ || segment.offset_ != filled_ || lastSegment_ ||
      parse_ == Parse::Greedy) {
    misused_ = true;
  }
  segments_ = true;
  for (;;) {
    Drain(dst, dstCapacity, dstPos);
    const EncodeStatus failure = Failure();
    if (failure != EncodeStatus::Working) return failure;
    bool taken = false;
    if (parse_ == Parse::Fast) {
      taken = writer_.Splice(segment.items_, segmentAt_, segmentByte_);
      if (!taken && writer_.Ready() == 0 && !writer_.HasRoom(8)) return EncodeStatus::Working;
    } else {
      while (segmentAt_ < segment.size_ && !optimal_.Failed()) {
        if (optimal_.Emitting()) {
          optimal_.Emit(writer_);
          if (optimal_.Emitting()) break;
        }
        segmentAt_ += optimal_.Steps(segment.matches_.data() + segmentAt_,
                                     segment.text_.data() + InputStart + segmentAt_,
                                     segment.size_ - segmentAt_);
      }
      taken = segmentAt_ == segment.size_;
    }
    if (taken) {
      filled_ += segment.size_;
      next_ = filled_;
      lastSegment_ = segment.last_;
      segmentAt_ = 0;
      segmentByte_ = 0;
      Drain(dst, dstCapacity, dstPos);
      return Failure() != EncodeStatus::Working ? Failure() : EncodeStatus::Done;
    }
    if (*dstPos == dstCapacity) return EncodeStatus::Working;
  }
}

}  // namespace lzs
