// The LZS encoder: turns bytes into an LZS image (4-byte little-endian payload
// length, then groups of one flag byte and up to eight items) that DecodeLzs
// expands to exactly those bytes.
//
// A literal costs 9 bits and a back-reference 17 bits, the flag bit included,
// so the smallest image is a shortest path over the input positions. The
// encoder finds the longest match (3 to 18 bytes, distance 1 to 4095, the zero
// bytes before the start of the output included) exactly at every position
// and picks the cheapest parse by dynamic programming. It never writes a
// back-reference of distance 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzs/buffer.hpp"

namespace lzs {

// Largest input the encoder takes: it indexes positions with 32 bits.
inline constexpr std::size_t MaxEncodeSize = std::size_t{1} << 31;

// The largest image of size input bytes: every byte a literal.
constexpr std::size_t MaxImageSize(std::size_t size) { return 4 + (size + 7) / 8 + size; }

// What Encode returns when its workspace cannot be allocated.
inline constexpr std::size_t EncodeOutOfMemory = static_cast<std::size_t>(-1);

// One item of a parse, packed in 16 bits: 0 is a literal, otherwise the
// distance (1 to 4095) in the high 12 bits and the copy length minus 3 in
// the low 4 bits.
using ItemCode = std::uint16_t;

// Optimal: the cheapest parse over the longest match at every position.
// Greedy: the longest match at each item's start. Fast: greedy over a short
// search (the last few positions that share a hash of the next four bytes,
// and the newest that shares one of three), with one position of lookahead
// for short matches; for large batches.
enum class Parse { Optimal, Greedy, Fast };

// How hard the fast parse searches: the newest `depth` positions of a chain
// at each item's start; for a match shorter than `lazyBelow`, the newest
// `lazyDepth` at the next position too (no lookahead when lazyBelow is 3 or
// less). The defaults are what Parse::Fast uses; other values trade speed
// against image size, for measuring.
struct FastLimits {
  int depth = 16;
  std::uint32_t lazyBelow = 5;
  int lazyDepth = 4;
};

// Owns the workspace (about 3 bytes per input byte, plus 560 KiB of match
// tables for the optimal and greedy parses and 384 KiB for the fast one), so
// that one object can pack many inputs without reallocating.
// The workspace is malloc'd, so the class needs no C++ runtime; only its
// std::vector conveniences, inline below, do.
class LzsEncoder {
 public:
  // Returns the whole image, header included; an empty vector only when size
  // is above MaxEncodeSize or the workspace cannot be allocated.
  std::vector<std::uint8_t> Encode(const std::uint8_t* data, std::size_t size,
                                   Parse parse = Parse::Optimal) {
    std::vector<std::uint8_t> image(size > MaxEncodeSize ? 0 : MaxImageSize(size));
    const std::size_t n = Encode(data, size, parse, image.data(), image.size());
    image.resize(n == EncodeOutOfMemory ? 0 : n);
    return image;
  }

  // Returns the image size (0 only when size is above MaxEncodeSize,
  // EncodeOutOfMemory when the workspace cannot be allocated) and writes the
  // image to dst when it fits in dstCapacity bytes; otherwise writes nothing. dst may overlap data:
  // every parse reads the input from its own copy.
  std::size_t Encode(const std::uint8_t* data, std::size_t size, Parse parse, std::uint8_t* dst,
                     std::size_t dstCapacity);

  // The limits of the fast parse's search, from now on.
  void SetFastLimits(const FastLimits& limits) { fastLimits_ = limits; }

  // Bytes of workspace the object holds now.
  std::size_t WorkspaceBytes() const;

  // The longest match at every input position, as found by the match search
  // that Encode uses: lengths[i] is 0 when no match of 3 or more bytes
  // exists, else the length; distances[i] is a distance at which it occurs.
  // Both arrays hold size entries; false (and nothing found) when size is
  // above MaxEncodeSize or out of memory.
  bool FindLongestMatches(const std::uint8_t* data, std::size_t size, std::uint8_t* lengths,
                          std::uint16_t* distances);
  void FindLongestMatches(const std::uint8_t* data, std::size_t size,
                          std::vector<std::uint8_t>& lengths,
                          std::vector<std::uint16_t>& distances) {
    lengths.assign(size, 0);
    distances.assign(size, 0);
    if (!FindLongestMatches(data, size, lengths.data(), distances.data())) {
      lengths.assign(size, 0);
      distances.assign(size, 0);
    }
  }

 private:
  bool PrepareText(const std::uint8_t* data, std::size_t size);
  bool Prepare(const std::uint8_t* data, std::size_t size);
  std::uint32_t FindMatch(std::uint32_t pos, std::uint32_t& distance);
  std::uint32_t FindThree(std::uint32_t pos, std::uint32_t three, std::uint32_t& distance) const;
  void ParseOptimal(std::size_t size);
  void ParseGreedy(std::size_t size);
  std::size_t PackFast(const std::uint8_t* data, std::size_t size, std::uint8_t* image);
  std::size_t ParseAndMeasure(const std::uint8_t* data, std::size_t size, Parse parse);
  void WriteImage(std::size_t size, std::uint8_t* image);

  Buffer<std::uint8_t> text_;  // zero prefix, then the input
  std::uint32_t textEnd_ = 0;
  Buffer<std::uint32_t> head_;    // match tree root per 4-byte hash
  Buffer<std::uint32_t> tree_;    // two children per window slot
  Buffer<std::uint32_t> head3_;   // newest position per 3-byte hash
  Buffer<std::uint32_t> chain3_;  // the one before, per window slot
  // The fast parse's tables, kept from one input to the next.
  Buffer<std::uint32_t> fastHead_;   // newest position per 4-byte hash
  Buffer<std::uint32_t> fastHead3_;  // newest position per 3-byte hash
  Buffer<std::uint32_t> fastLink_;   // the position before, per ring slot
  Buffer<std::uint32_t> fastLink3_;  // the same for 3-byte hashes
  std::uint32_t fastBase_ = 0;       // added to the positions stored
  FastLimits fastLimits_;
  Buffer<std::uint8_t> image_;  // a fast image too large for dst
  Buffer<ItemCode> items_;      // per position, see the parsers
};

// The smallest LZS image of data[0, size).
inline std::vector<std::uint8_t> EncodeLzs(const std::uint8_t* data, std::size_t size) {
  LzsEncoder encoder;
  return encoder.Encode(data, size, Parse::Optimal);
}

// The image of a greedy parse (the longest match at each position), for
// comparison.
inline std::vector<std::uint8_t> EncodeLzsGreedy(const std::uint8_t* data, std::size_t size) {
  LzsEncoder encoder;
  return encoder.Encode(data, size, Parse::Greedy);
}

}  // namespace lzs
