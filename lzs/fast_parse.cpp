#include "lzs/fast_parse.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "lzs/item_writer.hpp"
#include "lzs/match_tree.hpp"

namespace lzs {
namespace {

constexpr int HashBits = 14;
constexpr std::size_t WindowSlots = WindowSize;

// The number of leading bytes in which a and b agree, at most MaxCopy; reads
// 24 bytes from each.
std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b) {
  static_assert(MaxCopy <= 24);
  for (std::uint32_t n = 0; n < 24; n += 8) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) {
      const int equalBits = std::endian::native == std::endian::little ? std::countr_zero(x ^ y)
                                                                       : std::countl_zero(x ^ y);
      return std::min(MaxCopy, n + static_cast<std::uint32_t>(equalBits) / 8);
    }
  }
  return MaxCopy;
}

std::uint32_t Load4(const std::uint8_t* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint32_t Hash4(std::uint32_t v) { return (v * 2654435761u) >> (32 - HashBits); }

std::uint32_t Hash3(std::uint32_t v) {
  const std::uint32_t first3 = std::endian::native == std::endian::little ? v & 0xFFFFFF : v >> 8;
  return (first3 * 2654435761u) >> (32 - HashBits);
}

// The distance from `position` back to a position kept in 16 bits.
std::uint32_t Distance(std::uint64_t position, std::uint16_t kept) {
  return static_cast<std::uint16_t>(position - kept);
}

bool InWindow(std::uint32_t distance) { return distance - 1 < MaxDistance; }

// The mask of the first n (below 4) bytes of a 4-byte load.
std::uint32_t KeepFirst(std::uint32_t n) {
  const std::uint32_t bits = (1u << (8 * n)) - 1;
  return std::endian::native == std::endian::little ? bits : bits << (8 * (4 - n));
}

}  // namespace

bool FastParse::Start() {
  return head_.Resize(std::size_t{1} << HashBits) && head3_.Resize(std::size_t{1} << HashBits) &&
         link_.Resize(WindowSlots);
}

std::size_t FastParse::Bytes() const {
  return sizeof(std::uint16_t) * (head_.capacity() + head3_.capacity() + link_.capacity());
}

[[gnu::always_inline]] inline void FastParse::Insert(const std::uint8_t* at, std::uint64_t position,
                                                     std::uint64_t end) {
  std::uint32_t v = Load4(at);
  // Bytes past the block's end read as zeros.
  if (end - position < 4) v &= KeepFirst(static_cast<std::uint32_t>(end - position));
  const auto kept = static_cast<std::uint16_t>(position);
  const std::uint32_t hash = Hash4(v);
  const std::uint32_t hash3 = Hash3(v);
  link_[position & WindowMask] = head_[hash];
  head_[hash] = kept;
  three_ = head3_[hash3];
  head3_[hash3] = kept;
}

void FastParse::BeginBlock(const std::uint8_t* text, std::uint64_t start) {
  // Every entry starts one position beyond the window of the block's first
  // 60 KiB: no match until the window's positions are linked.
  const auto empty = static_cast<std::uint16_t>(start - WindowSize);
  std::fill_n(head_.data(), head_.size(), empty);
  std::fill_n(head3_.data(), head3_.size(), empty);
  std::fill_n(link_.data(), link_.size(), empty);
  // The window's last positions hash the block's first bytes too, which every
  // parse of the block has (zeros past the input's end).
  for (std::uint32_t back = MaxDistance; back > 0; --back) {
    Insert(text - back, start - back, ~std::uint64_t{0});
  }
  position_ = start;
  inserted_ = start;
  nextKnown_ = false;
}

// The longest match for the position at `here` (inserted, with its
// predecessors) that is longer than atLeast, at most `left` bytes (0 when
// none), with its distance; three_ is the newest earlier position with the
// same hash of three bytes. No byte beyond `left` is looked at, so the bytes
// after the block's end change nothing.
[[gnu::always_inline]] inline std::uint32_t FastParse::Find(const std::uint8_t* here,
                                                            std::uint64_t position,
                                                            std::uint32_t left, int depth,
                                                            std::uint32_t atLeast,
                                                            std::uint32_t& distance) {
  std::uint32_t best = atLeast;  // a candidate must pass it to count
  std::uint32_t span = Distance(position, link_[position & WindowMask]);
  for (; depth > 0 && best < left && InWindow(span); --depth) {
    const std::uint8_t* const there = here - span;
    // Only a match that also agrees at `best` can be longer.
    if (there[best] == here[best]) {
      const std::uint32_t length = std::min(CommonLength(there, here), left);
      if (length > best) {
        best = length;
        distance = span;
      }
    }
    span += Distance(position - span, link_[(position - span) & WindowMask]);
  }
  if (best > atLeast) return best;
  if (atLeast > MinCopy) return 0;
  const std::uint32_t three = Distance(position, three_);
  if (InWindow(three) && left >= MinCopy && std::memcmp(here - three, here, MinCopy) == 0) {
    distance = three;
    return MinCopy;
  }
  return 0;
}

// Greedy with one position of lookahead: a short match is taken unless the
// next position has a longer one, which then costs one literal first (and is
// looked at the same way).
template <typename Sink>
bool FastParse::Parse(const std::uint8_t* text, std::uint64_t end, Sink& sink) {
  const int depth = std::max(limits_.depth, 1);
  const int lazyDepth = std::max(limits_.lazyDepth, 1);
  std::uint64_t i = position_;
  const std::uint8_t* here = text;
  std::uint32_t length = nextLength_;
  std::uint32_t distance = nextDistance_;
  bool known = nextKnown_;
  while (i < end && sink.HasRoom(2)) {
    if (!known) {
      for (; inserted_ <= i; ++inserted_) Insert(here - (i - inserted_), inserted_, end);
      const auto left = static_cast<std::uint32_t>(std::min<std::uint64_t>(end - i, MaxCopy));
      length = Find(here, i, left, depth, MinCopy, distance);
    }
    known = false;
    if (length < MinCopy) {
      sink.Literal(*here);
      ++i;
      ++here;
      continue;
    }
    if (length < limits_.lazyBelow && i + 1 < end) {
      for (; inserted_ <= i + 1; ++inserted_) {
        Insert(here + static_cast<std::ptrdiff_t>(inserted_ - i), inserted_, end);
      }
      const auto left = static_cast<std::uint32_t>(std::min<std::uint64_t>(end - i - 1, MaxCopy));
      std::uint32_t nextDistance = 0;
      const std::uint32_t next = Find(here + 1, i + 1, left, lazyDepth, length, nextDistance);
      if (next > length) {
        sink.Literal(*here);
        ++i;
        ++here;
        length = next;
        distance = nextDistance;
        known = true;
        continue;
      }
    }
    sink.Copy(i, distance, length);
    i += length;
    here += length;
  }
  position_ = i;
  nextLength_ = length;
  nextDistance_ = distance;
  nextKnown_ = known;
  return i == end;
}

template bool FastParse::Parse<ItemWriter>(const std::uint8_t*, std::uint64_t, ItemWriter&);
template bool FastParse::Parse<ItemList>(const std::uint8_t*, std::uint64_t, ItemList&);

}  // namespace lzs
