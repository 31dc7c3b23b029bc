// The optimal parse's match search: the longest match (3 to MaxCopy bytes,
// distance 1 to MaxDistance) at every position, exactly.
//
// It works on a text of the caller's (a buffer of input bytes, see
// TextLayout) and keeps positions as indices into it. Its answer for a
// position depends only on the MaxDistance bytes before the position and the
// MaxCopy bytes from it on, and on nothing else of the history: so a search
// started anywhere, after the MaxDistance positions before the start were
// inserted, finds what a search over the whole input finds (see
// MatchTree::Find). The parse, the streaming encoder and the segments built
// on it give the same images for that reason.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lzs/buffer.hpp"
#include "lzs/format.hpp"

namespace lzs {

// The farthest a back-reference reaches (distance 0 names the byte about to
// be written, which the encoder never uses).
inline constexpr std::uint32_t MaxDistance = WindowSize - 1;

// The layout of a text buffer. Index 0 stands for "no position", and every
// position searched is at least ZeroStart + MaxDistance, so that index 0 (and
// every index below ZeroStart) is outside the window of every position. The
// input starts at InputStart, after MaxDistance zero bytes: a copy at output
// index 0 may reach back that far, and reads zeros there. Searches read up to
// SearchPadding bytes from a position.
struct TextLayout {
  static constexpr std::uint32_t None = 0;
  static constexpr std::uint32_t ZeroStart = WindowSize;
  static constexpr std::uint32_t InputStart = ZeroStart + MaxDistance;
  static constexpr std::uint32_t SearchPadding = 24;
};

class MatchTree {
 public:
  // Tables for a new text (empty); false when out of memory.
  bool Start();

  // Inserts pos and returns the length of the longest match for it (0 when
  // shorter than MinCopy) among the positions inserted before it, setting
  // `distance`. `limit` is MaxCopy, or the bytes left before the end of the
  // input when fewer; text[pos, pos + SearchPadding) must be readable.
  std::uint32_t Find(const std::uint8_t* text, std::uint32_t pos, std::uint32_t limit,
                     std::uint32_t& distance);

  // Find for the positions [pos, pos + count), whose matches can reach up to
  // `end`, as MatchCodes.
  void FindRun(const std::uint8_t* text, std::uint32_t pos, std::size_t count, std::uint32_t end,
               std::uint16_t* matches);

  // The text moved `shift` bytes (a multiple of WindowSize, as a position's
  // node is kept by its place in the window) towards its start: every
  // position kept becomes position - shift, and those below shift are
  // forgotten.
  void Rebase(std::uint32_t shift);

  // Bytes of memory held.
  std::size_t Bytes() const;

 private:
  // Full: `limit` is MaxCopy, so the bytes compared need no masks.
  template <bool Full>
  std::uint32_t Search(const std::uint8_t* text, std::uint32_t pos, std::uint32_t limit,
                       std::uint32_t& distance);
  std::uint32_t FindThree(const std::uint8_t* text, std::uint32_t pos, std::uint32_t three,
                          std::uint32_t& distance) const;

  Buffer<std::uint32_t> head_;    // match tree root per 4-byte hash
  Buffer<std::uint32_t> tree_;    // two children per window slot
  Buffer<std::uint32_t> head3_;   // newest position per 3-byte hash
  Buffer<std::uint32_t> chain3_;  // the one before, per window slot
};

}  // namespace lzs
