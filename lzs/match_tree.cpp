#include "lzs/match_tree.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace lzs {
namespace {

constexpr int HashBits = 16;
constexpr std::uint32_t None = TextLayout::None;

// The hashes place positions in tables only: the matches found do not depend
// on them (every candidate's bytes are compared).
std::uint32_t Hash4(std::uint32_t v) { return (v * 2654435761u) >> (32 - HashBits); }

std::uint32_t Hash3(std::uint32_t v) {
  const std::uint32_t first3 = std::endian::native == std::endian::little ? v << 8 : v >> 8;
  return (first3 * 2246822519u) >> (32 - HashBits);
}

// True when a back-reference from cur to c is allowed: c lies 1 to
// MaxDistance bytes before cur. Never true for None.
bool InWindow(std::uint32_t c, std::uint32_t cur) { return cur - c - 1 < MaxDistance; }

// Eight bytes from p as one number, the first byte highest, so that numbers
// compare like the byte strings they hold.
std::uint64_t LoadOrdered(const std::uint8_t* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

void RebaseAll(Buffer<std::uint32_t>& table, std::uint32_t shift) {
  for (std::size_t k = 0; k < table.size(); ++k) {
    const std::uint32_t v = table[k];
    table[k] = v > shift ? v - shift : None;
  }
}

}  // namespace

bool MatchTree::Start() {
  return head_.Assign(std::size_t{1} << HashBits, None) &&
         head3_.Assign(std::size_t{1} << HashBits, None) && chain3_.Assign(WindowSize, None) &&
         tree_.Assign(std::size_t{2} * WindowSize, None);
}

void MatchTree::Rebase(std::uint32_t shift) {
  RebaseAll(head_, shift);
  RebaseAll(tree_, shift);
  RebaseAll(head3_, shift);
  RebaseAll(chain3_, shift);
}

std::size_t MatchTree::Bytes() const {
  return sizeof(std::uint32_t) *
         (head_.capacity() + tree_.capacity() + head3_.capacity() + chain3_.capacity());
}

// A match of MinCopy bytes for pos: the first position from `three` on down
// its hash chain that holds the same three bytes.
std::uint32_t MatchTree::FindThree(const std::uint8_t* text, std::uint32_t pos, std::uint32_t three,
                                   std::uint32_t& distance) const {
  while (InWindow(three, pos) && std::memcmp(text + three, text + pos, MinCopy) != 0) {
    three = chain3_[three & WindowMask];
  }
  if (!InWindow(three, pos)) return 0;
  distance = pos - three;
  return MinCopy;
}

// Matches of four bytes or more: the positions of the window that share a
// hash of their first four bytes form a binary search tree, ordered by the
// bytes that follow each position (compared up to MaxCopy bytes). Every
// insertion puts the new position at the root and splits the old tree along
// the search path into the parts that sort below and above it, so a parent is
// always newer than its children and the first position found outside the
// window ends the search: all below it are older still. A position equal to
// pos over all `limit` bytes is replaced by pos, which is nearer for every
// later search.
//
// So the positions of the window in a tree are ordered by their bytes and
// stacked by age: the tree is the only one with both orders, whatever the
// positions inserted before the window, and a search visits the same
// positions whatever came before. The longest match is with one of the two
// positions nearest to pos in byte order, which the search path passes.
//
// Matches of three bytes: the positions that share a hash of their first
// three bytes are chained, newest first; the first one in the window with the
// same three bytes is the match. It is looked for only when the tree finds no
// longer one.
template <bool Full>
[[gnu::always_inline]] inline std::uint32_t MatchTree::Search(const std::uint8_t* text,
                                                              std::uint32_t pos,
                                                              std::uint32_t limit,
                                                              std::uint32_t& distance) {
  if (!Full && limit < MinCopy) return 0;
  const std::uint8_t* const here = text + pos;
  std::uint32_t first4 = 0;
  std::memcpy(&first4, here, 4);
  const std::uint32_t hash3 = Hash3(first4);
  const std::uint32_t three = head3_[hash3];
  head3_[hash3] = pos;
  chain3_[pos & WindowMask] = three;
  if (!Full && limit == MinCopy) return FindThree(text, pos, three, distance);
  const std::uint32_t hash = Hash4(first4);
  const std::uint32_t root = head_[hash];
  head_[hash] = pos;

  // The first `limit` bytes at pos, as numbers that compare like the bytes;
  // the bytes beyond the limit masked off.
  std::uint64_t mask[3] = {~std::uint64_t{0}, ~std::uint64_t{0},
                           ~std::uint64_t{0} << (64 - 8 * (MaxCopy - 16))};
  if (!Full) {
    for (std::uint32_t k = 0; k < 3; ++k) {
      const std::uint32_t bytes = std::min(8u, limit - std::min(limit, 8 * k));
      mask[k] = bytes == 0 ? 0 : ~std::uint64_t{0} << (64 - 8 * bytes);
    }
  }
  const std::uint64_t y0 = LoadOrdered(here) & mask[0];
  const std::uint64_t y1 = LoadOrdered(here + 8) & mask[1];
  const std::uint64_t y2 = LoadOrdered(here + 16) & mask[2];

  // tree[2k] and tree[2k + 1] hold the children of the position in window
  // slot k: the roots of the parts that sort below and above it. link[1] is
  // the entry that the next position found to sort below pos goes into,
  // link[0] the one for the next position above.
  std::uint32_t* const tree = tree_.data();
  std::uint32_t link[2] = {2 * (pos & WindowMask) + 1, 2 * (pos & WindowMask)};
  // The best match so far as (common bits << 12) | distance: the larger,
  // the longer (of two that agree in as many bits, the farther: the one
  // nearer to pos in byte order).
  std::uint32_t best = 0;
  std::uint32_t candidate = root;
  for (;;) {
    const std::uint32_t span = pos - candidate;
    if (span - 1 >= MaxDistance) {
      tree[link[0]] = None;
      tree[link[1]] = None;
      break;
    }
    const std::uint32_t node = 2 * (candidate & WindowMask);
    const std::uint32_t belowChild = tree[node];
    const std::uint32_t aboveChild = tree[node + 1];
    const std::uint8_t* const there = text + candidate;
    // The first eight bytes that are not all equal decide the order.
    std::uint64_t x = LoadOrdered(there) & mask[0];
    std::uint64_t y = y0;
    std::uint32_t bits = 0;  // leading bits in common
    if (x == y) {
      x = LoadOrdered(there + 8) & mask[1];
      y = y1;
      bits = 64;
      if (x == y) {
        x = LoadOrdered(there + 16) & mask[2];
        y = y2;
        bits = 128;
        if (x == y) {
          // Equal as far as a match can reach: pos takes its place.
          tree[link[1]] = belowChild;
          tree[link[0]] = aboveChild;
          distance = span;
          return limit;
        }
      }
    }
    // x ^ y is not 0 here: the count needs no case for it.
    bits += static_cast<std::uint32_t>(__builtin_clzll(x ^ y));
    best = std::max(best, bits << 12 | span);
    // Which way the search goes is as good as a coin toss, so it is taken
    // without a branch. A position below pos is followed by the part above
    // it, and the other way round.
    const std::uint32_t below = x < y;
    const std::uint32_t isBelow = 0u - below;
    tree[link[below]] = candidate;
    link[below] = node + below;
    candidate = (aboveChild & isBelow) | (belowChild & ~isBelow);
  }
  const std::uint32_t length = (best >> 12) / 8;
  if (length <= MinCopy) return FindThree(text, pos, three, distance);
  distance = best & WindowMask;
  return length;
}

std::uint32_t MatchTree::Find(const std::uint8_t* text, std::uint32_t pos, std::uint32_t limit,
                              std::uint32_t& distance) {
  if (limit >= MaxCopy) return Search<true>(text, pos, MaxCopy, distance);
  return Search<false>(text, pos, limit, distance);
}

void MatchTree::FindRun(const std::uint8_t* text, std::uint32_t pos, std::size_t count,
                        std::uint32_t end, std::uint16_t* matches) {
  // Searches that may reach MaxCopy bytes first, then those near the end.
  const std::size_t full =
      end - pos < MaxCopy ? 0 : std::min<std::size_t>(count, end - pos - MaxCopy + 1);
  std::size_t k = 0;
  for (; k < full; ++k, ++pos) {
    // The tables' entries of a later position are fetched ahead: their
    // loads would otherwise wait on the cache at the start of its search.
    std::uint32_t ahead = 0;
    std::memcpy(&ahead, text + pos + 8, 4);
    __builtin_prefetch(head_.data() + Hash4(ahead), 1);
    __builtin_prefetch(head3_.data() + Hash3(ahead), 1);
    std::uint32_t distance = 0;
    const std::uint32_t length = Search<true>(text, pos, MaxCopy, distance);
    matches[k] = static_cast<std::uint16_t>(length == 0 ? 0 : distance << 4 | (length - MinCopy));
  }
  for (; k < count; ++k, ++pos) {
    std::uint32_t distance = 0;
    const std::uint32_t length = Search<false>(text, pos, std::min(MaxCopy, end - pos), distance);
    matches[k] = static_cast<std::uint16_t>(length == 0 ? 0 : distance << 4 | (length - MinCopy));
  }
}

}  // namespace lzs
