// The fast parse: greedy over a short search, block by block.
//
// The input is cut into blocks of FastBlockSize bytes. Each block is parsed
// as if the encoder started there, with its match tables made afresh from
// the MaxDistance bytes before it (zeros before the input), and no item
// crosses its end. So a block's items depend only on its bytes and the
// window before it: blocks can be parsed on any number of threads, in any
// order, and give the image one thread gives.
//
// Searching: every position is linked to the last earlier one whose next
// four bytes hash alike, and the newest position with the same hash of three
// bytes is kept. At an item's start the search follows the links over the
// `depth` newest positions of the window and takes the longest match, or the
// three bytes; a match shorter than `lazyBelow` is given up for a literal when
// the next position (searched `lazyDepth` deep) has a longer one. The tables
// keep positions in 16 bits: a link that wraps around to a wrong position is
// only a poorer candidate, as every match is checked byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lzs/buffer.hpp"

namespace lzs {

// The fast parse's block.
inline constexpr std::size_t FastBlockSize = std::size_t{1} << 20;

// How hard the fast parse searches: the newest `depth` positions of a chain
// at each item's start; for a match shorter than `lazyBelow`, the newest
// `lazyDepth` at the next position too (no lookahead when lazyBelow is 3 or
// less). The defaults are LZS_LEVEL_FAST's; other values trade speed against
// image size, for measuring.
struct FastLimits {
  int depth = 32;
  std::uint32_t lazyBelow = 5;
  int lazyDepth = 8;
};

class FastParse {
 public:
  bool Start();
  void SetLimits(const FastLimits& limits) { limits_ = limits; }

  // Starts the block whose first byte, input offset `start`, is at `text`;
  // the MaxDistance bytes before it must be readable (zeros before the
  // input).
  void BeginBlock(const std::uint8_t* text, std::uint64_t start);

  // Parses on from Position() to `end` (the block's end), while the sink has
  // room: `text` holds the byte at Position(), with the window before it and
  // 24 readable bytes after `end`. Returns true when the block is done.
  template <typename Sink>
  bool Parse(const std::uint8_t* text, std::uint64_t end, Sink& sink);

  std::uint64_t Position() const { return position_; }
  std::size_t Bytes() const;

 private:
  void Insert(const std::uint8_t* at, std::uint64_t position, std::uint64_t end);
  std::uint32_t Find(const std::uint8_t* here, std::uint64_t position, std::uint32_t left,
                     int depth, std::uint32_t atLeast, std::uint32_t& distance);

  Buffer<std::uint16_t> head_;   // newest position per 4-byte hash
  Buffer<std::uint16_t> head3_;  // newest position per 3-byte hash
  Buffer<std::uint16_t> link_;   // the position before, per window slot
  FastLimits limits_;
  std::uint64_t position_ = 0;  // the next item's start
  std::uint64_t inserted_ = 0;  // positions below are in the tables
  std::uint32_t three_ = 0;     // head3_ of inserted_ - 1 before it was inserted
  // A match found by the lookahead for the item at position_.
  bool nextKnown_ = false;
  std::uint32_t nextLength_ = 0;
  std::uint32_t nextDistance_ = 0;
};

}  // namespace lzs
