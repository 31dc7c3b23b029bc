// The encoder that every packing call runs on: input in pieces of any size,
// output in pieces of any room, in bounded memory, with the image of the
// whole input. lzs_encode is the case of one piece in and room for all out.
//
// It keeps a text buffer: MaxDistance bytes of window before the next
// position to parse (zeros before the input), and input taken ahead. The
// optimal and greedy parses search every position with the match tree; the
// fast parse takes a block at a time (fast_parse.hpp). Output goes through an
// ItemWriter.
//
// Segments (SegmentParser) do a chunk's share of the work on another thread:
// for the optimal parse the match search, which is most of its time; for the
// fast parse the whole parse of its blocks. A stream takes their results in
// input order (Take) as if it had read the chunks itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lzs/buffer.hpp"
#include "lzs/fast_parse.hpp"
#include "lzs/item_writer.hpp"
#include "lzs/match_tree.hpp"
#include "lzs/optimal_parse.hpp"

namespace lzs {

// Optimal: the cheapest parse over the longest match at every position.
// Greedy: the longest match at each item's start. Fast: greedy over a short
// search, block by block (fast_parse.hpp).
enum class Parse { Optimal, Greedy, Fast };

// How a call of the encoder ended.
enum class EncodeStatus {
  Working,      // more output waits (for room) or more input is wanted
  Done,         // the image is complete and all of it given out
  OutOfMemory,  // an allocation failed, or the optimal parse passed its bound
  TooLarge,     // the payload would pass MaxPayload
  Misused,      // a segment out of order or of another parse
};

// A chunk's share of the work, done by any thread.
class SegmentParser {
 public:
  // Parses input[offset, offset + size) at `chunk`, reading the
  // min(offset, MaxDistance) input bytes before it and, unless `last`,
  // SegmentAfter bytes after it. For Parse::Fast, offset must be a multiple of
  // FastBlockSize, and size too unless `last`. False when out of memory.
  bool Run(Parse parse, const std::uint8_t* chunk, std::size_t size, std::uint64_t offset,
           bool last, const FastLimits& limits);

  std::size_t Bytes() const;

 private:
  friend class StreamEncoder;
  Parse parse_ = Parse::Optimal;
  std::uint64_t offset_ = 0;
  std::size_t size_ = 0;
  bool last_ = false;
  Buffer<std::uint8_t> text_;
  Buffer<MatchCode> matches_;  // optimal: per chunk position
  MatchTree tree_;
  FastParse fast_;
  ItemList items_;  // fast: the items of the chunk's blocks
};

// The bytes a segment reads after its chunk: a match search looks MaxCopy
// bytes ahead.
inline constexpr std::size_t SegmentAfter = MaxCopy;

class StreamEncoder {
 public:
  // Ready for a new input. limitBytes bounds the optimal parse's store of
  // undecided items (0: no bound). False when out of memory.
  bool Reset(Parse parse, std::size_t limitBytes);
  void SetFastLimits(const FastLimits& limits) { fast_.SetLimits(limits); }

  // Writes the image straight into dst (room for any image of the input)
  // instead of through the stage; call after Reset, before Encode.
  void WriteInto(std::uint8_t* dst, std::size_t capacity) {
    direct_ = true;
    writer_.Attach(dst, capacity);
    writer_.Start();
  }

  // Takes what it can of src[*srcPos, srcSize) and gives what it can into
  // dst[*dstPos, dstCapacity) (nothing there when writing straight into a
  // destination); `end` says src holds the last of the input.
  EncodeStatus Encode(const std::uint8_t* src, std::size_t srcSize, std::size_t* srcPos,
                      std::uint8_t* dst, std::size_t dstCapacity, std::size_t* dstPos, bool end);

  // Takes a segment's result for the input from InputTaken() on, giving
  // output as Encode does; Working until all of it is given.
  EncodeStatus Take(const SegmentParser& segment, std::uint8_t* dst, std::size_t dstCapacity,
                    std::size_t* dstPos);

  std::uint64_t InputTaken() const { return filled_; }
  // Output bytes ready in the stage, not yet given.
  std::size_t Waiting() const { return direct_ ? 0 : writer_.Ready(); }
  // Once Done: the payload's size, which the header holds.
  std::uint64_t PayloadSize() const { return writer_.PayloadSize(); }
  std::size_t Bytes() const;

 private:
  std::uint32_t Index(std::uint64_t offset) const {
    return static_cast<std::uint32_t>(TextLayout::InputStart + (offset - start_));
  }
  bool Fill(const std::uint8_t* src, std::size_t srcSize, std::size_t* srcPos);
  bool Work(bool ended);
  bool WorkTree(bool ended);
  bool WorkFast(bool ended);
  EncodeStatus Failure() const;
  bool Finish();
  void Drain(std::uint8_t* dst, std::size_t dstCapacity, std::size_t* dstPos);

  Parse parse_ = Parse::Optimal;
  Buffer<std::uint8_t> text_;
  std::uint32_t capacity_ = 0;  // text_ indices below this may hold input
  std::uint64_t start_ = 0;     // the input offset at index InputStart
  std::uint64_t filled_ = 0;    // input bytes taken
  std::uint64_t next_ = 0;      // the next position to search (tree parses)
  MatchTree tree_;
  OptimalParse optimal_;
  // Searched positions the optimal parse has not taken yet.
  Buffer<MatchCode> batchMatches_;
  Buffer<std::uint8_t> batchBytes_;
  std::size_t batchAt_ = 0;
  std::size_t batchEnd_ = 0;
  FastParse fast_;
  bool blockBegun_ = false;
  std::uint64_t greedyNext_ = 0;  // where the greedy parse's next item starts
  ItemWriter writer_;
  bool direct_ = false;
  bool parseEnded_ = false;
  bool sealed_ = false;  // the input has ended, and zeros follow it
  bool finished_ = false;
  bool tooLarge_ = false;
  bool outOfMemory_ = false;
  bool misused_ = false;
  // Segments: whether the stream takes its input from them, and how far into
  // the current one it is.
  bool segments_ = false;
  bool lastSegment_ = false;
  std::size_t segmentAt_ = 0;
  std::size_t segmentByte_ = 0;
};

}  // namespace lzs
