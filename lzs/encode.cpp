#include "lzs/encode.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "lzs/format.hpp"

namespace lzs {
namespace {

// The text that the match search works on is the input with zero bytes
// before it: a copy at output index 0 may reach back 4095 bytes, all of which
// read as zero. Those start at text index WindowSize and the input at
// InputStart; the first WindowSize bytes are never searched, so that index 0
// can stand for "no position" and is outside the window of every position.
constexpr std::uint32_t MaxDistance = WindowSize - 1;
constexpr std::uint32_t ZeroStart = WindowSize;
constexpr std::uint32_t InputStart = ZeroStart + MaxDistance;
constexpr std::uint32_t None = 0;
constexpr int HashBits = 16;
// The fast parse's hash tables.
constexpr int FastHashBits = 14;
constexpr std::uint32_t SearchPadding = 24;
constexpr std::uint64_t LiteralBits = 9;
constexpr std::uint64_t ReferenceBits = 17;

std::uint32_t Hash4(const std::uint8_t* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, 4);
  return (v * 2654435761u) >> (32 - HashBits);
}

std::uint32_t Hash3(const std::uint8_t* p) {
  const std::uint32_t v = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
  return (v * 2654435761u) >> (32 - HashBits);
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

// The largest image of size bytes: all literals.

// A code's copy length, and the output bytes its item yields.
std::uint32_t CopyLength(ItemCode code) { return (code & 0x0F) + MinCopy; }
std::uint32_t CodeLength(ItemCode code) { return code == 0 ? 1 : CopyLength(code); }

}  // namespace

bool LzsEncoder::PrepareText(const std::uint8_t* data, std::size_t size) {
  // The match search reads up to 23 bytes past the end.
  if (!text_.Resize(InputStart + size + SearchPadding)) return false;
  std::memset(text_.data(), 0, InputStart);
  if (size > 0) std::memcpy(text_.data() + InputStart, data, size);
  std::memset(text_.data() + InputStart + size, 0, SearchPadding);
  textEnd_ = static_cast<std::uint32_t>(InputStart + size);
  return true;
}

bool LzsEncoder::Prepare(const std::uint8_t* data, std::size_t size) {
  if (!PrepareText(data, size) || !head_.Assign(std::size_t{1} << HashBits, None) ||
      !head3_.Assign(std::size_t{1} << HashBits, None) || !chain3_.Assign(WindowSize, None) ||
      !tree_.Assign(std::size_t{2} * WindowSize, None)) {
    return false;
  }
  // The zero bytes before the input are sources like any other.
  std::uint32_t distance = 0;
  for (std::uint32_t pos = ZeroStart; pos < InputStart; ++pos) FindMatch(pos, distance);
  return true;
}

// Inserts pos into the match tree and returns the length of the longest match
// for it (0 when shorter than MinCopy), with its distance.
//
// Matches of four bytes or more: the positions of the window that share a
// hash of their first four bytes form a binary search tree, ordered by the
// bytes that follow each position (compared up to MaxCopy bytes). Every
// insertion puts the new position at the root and splits the old tree along
// the search path into the parts that sort below and above it, so a parent is
// always newer than its children and the first position found outside the
// window ends the search: all below it are older still. The nearest positions
// in sort order, above and below, both lie on the search path, and one of
// them shares the longest prefix with pos; so the match found is the longest
// there is. A position equal to pos over all MaxCopy bytes is
// replaced by pos, which is nearer for every later search.
//
// Matches of three bytes: the positions that share a hash of their first
// three bytes are chained, newest first; the first one in the window with the
// same three bytes is the match. It is looked for only when the tree finds no
// longer one.
std::uint32_t LzsEncoder::FindMatch(std::uint32_t pos, std::uint32_t& distance) {
  const std::uint32_t limit = std::min(MaxCopy, textEnd_ - pos);
  if (limit < MinCopy) return 0;
  const std::uint8_t* const text = text_.data();
  const std::uint8_t* const here = text + pos;
  // Three bytes: the newest position with the same hash is usually the
  // same three bytes; older ones are chained.
  const std::uint32_t hash3 = Hash3(here);
  std::uint32_t three = head3_[hash3];
  head3_[hash3] = pos;
  chain3_[pos & WindowMask] = three;
  if (limit == MinCopy) return FindThree(pos, three, distance);
  const std::uint32_t hash = Hash4(here);
  std::uint32_t candidate = head_[hash];
  head_[hash] = pos;

  // The first 24 bytes at pos, as three numbers that compare like the bytes.
  const std::uint64_t y0 = LoadOrdered(here);
  const std::uint64_t y1 = LoadOrdered(here + 8);
  const std::uint64_t y2 = LoadOrdered(here + 16);

  // tree[2k] and tree[2k + 1] hold the children of the position in window
  // slot k: the roots of the parts that sort below and above it. link[1] is
  // the entry that the next position found to sort below pos goes into,
  // link[0] the one for the next position above.
  std::uint32_t* const tree = tree_.data();
  std::uint32_t link[2] = {2 * (pos & WindowMask) + 1, 2 * (pos & WindowMask)};
  // The best match so far as (common bits << 12) | distance: the larger,
  // the longer.
  std::uint32_t best = 0;
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
    std::uint64_t x = LoadOrdered(there);
    std::uint64_t y = y0;
    std::uint32_t bits = 0;  // leading bits in common
    if (x == y) {
      x = LoadOrdered(there + 8);
      y = y1;
      bits = 64;
      if (x == y) {
        x = LoadOrdered(there + 16);
        y = y2;
        bits = 128;
      }
    }
    bits += x == y ? 64 : static_cast<std::uint32_t>(std::countl_zero(x ^ y));
    if (bits >= 8 * limit) {
      // Equal as far as a match can reach: pos takes its place.
      best = 8 * limit << 12 | span;
      tree[link[1]] = belowChild;
      tree[link[0]] = aboveChild;
      break;
    }
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
  if (length <= MinCopy) return FindThree(pos, three, distance);
  distance = best & WindowMask;
  return length;
}

std::size_t LzsEncoder::WorkspaceBytes() const {
  return text_.capacity() + sizeof(ItemCode) * items_.capacity() +
         sizeof(std::uint32_t) *
             (head_.capacity() + tree_.capacity() + head3_.capacity() + chain3_.capacity()) +
         sizeof(std::uint32_t) * (fastHead_.capacity() + fastHead3_.capacity() +
                                  fastLink_.capacity() + fastLink3_.capacity()) +
         image_.capacity();
}

// A match of MinCopy bytes for pos: the first position from `three` on down
// its hash chain that holds the same three bytes.
std::uint32_t LzsEncoder::FindThree(std::uint32_t pos, std::uint32_t three,
                                    std::uint32_t& distance) const {
  const std::uint8_t* const text = text_.data();
  while (InWindow(three, pos) && std::memcmp(text + three, text + pos, MinCopy) != 0) {
    three = chain3_[three & WindowMask];
  }
  if (!InWindow(three, pos)) return 0;
  distance = pos - three;
  return MinCopy;
}

bool LzsEncoder::FindLongestMatches(const std::uint8_t* data, std::size_t size,
                                    std::uint8_t* lengths, std::uint16_t* distances) {
  if (size > MaxEncodeSize || !Prepare(data, size)) return false;
  for (std::size_t i = 0; i < size; ++i) {
    std::uint32_t distance = 0;
    lengths[i] =
        static_cast<std::uint8_t>(FindMatch(static_cast<std::uint32_t>(InputStart + i), distance));
    distances[i] = lengths[i] != 0 ? static_cast<std::uint16_t>(distance) : 0;
  }
  return true;
}

// Both parsers leave in items_[k] the item that ends at input position k on
// the chosen path (k = 1 to size).

// Shortest path, forward: when position i is reached its cost is final, and it
// offers a literal to i + 1 and a copy of every length from MinCopy to its
// longest match. Only the costs of i to i + MaxCopy are live, kept in a ring.
//
// A copy from i to k is no gain when an earlier position j, no dearer than i,
// already offered a copy to k: so the lengths up to the reach of the last
// position that pushed the reach furthest are skipped when that position was
// no dearer. The parse is the same as without the skip.
void LzsEncoder::ParseOptimal(std::size_t size) {
  constexpr std::uint32_t RingMask = 31;
  static_assert(RingMask + 1 > MaxCopy);
  std::uint64_t cost[RingMask + 1];
  std::fill_n(cost, RingMask + 1, ~std::uint64_t{0});
  cost[0] = 0;
  std::size_t reach = 0;        // furthest position offered a copy so far
  std::uint64_t reachCost = 0;  // the cost of the position that offered it
  for (std::size_t i = 0; i < size; ++i) {
    cost[(i + MaxCopy) & RingMask] = ~std::uint64_t{0};
    std::uint32_t distance = 0;
    const std::uint32_t longest = FindMatch(static_cast<std::uint32_t>(InputStart + i), distance);
    const std::uint64_t here = cost[i & RingMask];
    if (here + LiteralBits < cost[(i + 1) & RingMask]) {
      cost[(i + 1) & RingMask] = here + LiteralBits;
      items_[i + 1] = 0;
    }
    if (longest == 0) continue;
    std::uint32_t shortest = MinCopy;
    if (reachCost <= here && reach > i + MinCopy)
      shortest = static_cast<std::uint32_t>(reach - i) + 1;
    if (i + longest >= reach) {
      reach = i + longest;
      reachCost = here;
    }
    const std::uint64_t copy = here + ReferenceBits;
    const auto base = static_cast<ItemCode>(distance << 4);
    for (std::uint32_t length = shortest; length <= longest; ++length) {
      std::uint64_t& there = cost[(i + length) & RingMask];
      if (copy < there) {
        there = copy;
        items_[i + length] = static_cast<ItemCode>(base | (length - MinCopy));
      }
    }
  }
}

void LzsEncoder::ParseGreedy(std::size_t size) {
  std::size_t next = 0;  // where the next item starts
  for (std::size_t i = 0; i < size; ++i) {
    std::uint32_t distance = 0;
    const std::uint32_t longest = FindMatch(static_cast<std::uint32_t>(InputStart + i), distance);
    if (i != next) continue;  // inside the last copy: only keep the tree up to date
    if (longest >= MinCopy) {
      next = i + longest;
      items_[next] = static_cast<ItemCode>(distance << 4 | (longest - MinCopy));
    } else {
      next = i + 1;
      items_[next] = 0;
    }
  }
}

namespace {

// The fast parse's match search, in two steps. Linking, done in blocks ahead
// of the parse: for every position, the last earlier one whose next four
// bytes hash alike, and the same for three bytes. Searching: follows those
// links from the position searched, newest first, over the `depth` newest
// that lie in the window; a match of three bytes is looked for only at the
// newest position with the same hash of three bytes. The links are kept in
// rings that hold a block and a window, so every link the search follows
// (one of a position in the window) is still there.
//
// The hash tables hold base + text index, where base grows from one input to
// the next: an entry left by an earlier input then links to a position more
// than a window back, which is never taken, so the tables need no clearing
// between inputs.
constexpr std::uint32_t FastLinkBlock = 16384;
constexpr std::uint32_t FastRingMask = 2 * FastLinkBlock - 1;
static_assert(FastRingMask + 1 >= FastLinkBlock + WindowSize);

struct FastSearch {
  const std::uint8_t* text;
  std::uint32_t textEnd;
  std::uint32_t base;
  std::uint32_t* head;   // base + the newest position per 4-byte hash
  std::uint32_t* head3;  // the same per 3-byte hash
  std::uint32_t* link;   // per position, modulo the ring size
  std::uint32_t* link3;  // the same for 3-byte hashes
  std::uint32_t linked;  // the positions below this are linked

  // Links the next block of positions.
  void LinkBlock() {
    const std::uint32_t end = std::min(linked + FastLinkBlock, textEnd);
    for (std::uint32_t pos = linked; pos < end; ++pos) {
      std::uint32_t v = 0;
      std::memcpy(&v, text + pos, 4);
      const std::uint32_t first3 =
          std::endian::native == std::endian::little ? v & 0xFFFFFF : v >> 8;
      const std::uint32_t hash = (v * 2654435761u) >> (32 - FastHashBits);
      const std::uint32_t hash3 = (first3 * 2654435761u) >> (32 - FastHashBits);
      link[pos & FastRingMask] = head[hash] - base;
      link3[pos & FastRingMask] = head3[hash3] - base;
      head[hash] = base + pos;
      head3[hash3] = base + pos;
    }
    linked = end;
  }

  // The longest match found for pos (below textEnd) that is longer than
  // atLeast (0 when none), with its distance. Inlined into the parse, whose
  // speed it decides: as a call it keeps the search state in memory.
  [[gnu::always_inline]] std::uint32_t Find(std::uint32_t pos, int depth, std::uint32_t atLeast,
                                            std::uint32_t& distance) {
    while (pos >= linked) LinkBlock();
    const std::uint8_t* const here = text + pos;
    std::uint32_t best = atLeast;  // a candidate must pass it to count
    std::uint32_t candidate = link[pos & FastRingMask];
    for (; depth > 0 && InWindow(candidate, pos); --depth) {
      const std::uint32_t span = pos - candidate;
      const std::uint8_t* const there = here - span;
      // Only a match that also agrees at `best` can be longer.
      if (there[best] == here[best]) {
        const std::uint32_t length = CommonLength(there, here);
        if (length > best) {
          best = length;
          distance = span;
          if (length == MaxCopy) break;
        }
      }
      candidate = link[candidate & FastRingMask];
    }
    const std::uint32_t left = textEnd - pos;
    if (best > atLeast) return std::min(best, left);
    if (atLeast > MinCopy) return 0;
    const std::uint32_t three = link3[pos & FastRingMask];
    if (InWindow(three, pos) && left >= MinCopy && std::memcmp(text + three, here, MinCopy) == 0) {
      distance = pos - three;
      return MinCopy;
    }
    return 0;
  }
};

// Writes items as they come: a flag byte is kept back until its group of
// eight items is complete.
class ImageWriter {
 public:
  explicit ImageWriter(std::uint8_t* image)
      : out_(image + HeaderSize + 1), flags_(image + HeaderSize) {}

  void Literal(std::uint8_t byte) {
    bits_ |= 1u << item_;
    *out_++ = byte;
    EndItem();
  }

  // A copy at output index i.
  void Copy(std::size_t i, std::uint32_t distance, std::uint32_t length) {
    const std::uint32_t position = ItemPositionAt(i, distance);
    out_[0] = ItemByte0(position);
    out_[1] = ItemByte1(position, length);
    out_ += 2;
    EndItem();
  }

  // Completes the image and returns its size.
  std::size_t Finish(std::uint8_t* image) {
    if (item_ == 0) {
      --out_;  // the flag byte of a group with no items
    } else {
      *flags_ = static_cast<std::uint8_t>(bits_);
    }
    const std::size_t payload = static_cast<std::size_t>(out_ - image) - HeaderSize;
    for (std::uint32_t k = 0; k < HeaderSize; ++k)
      image[k] = static_cast<std::uint8_t>(payload >> (8 * k));
    return HeaderSize + payload;
  }

 private:
  void EndItem() {
    if (++item_ < 8) return;
    *flags_ = static_cast<std::uint8_t>(bits_);
    flags_ = out_++;
    bits_ = 0;
    item_ = 0;
  }

  std::uint8_t* out_;
  std::uint8_t* flags_;
  std::uint32_t bits_ = 0;
  std::uint32_t item_ = 0;
};

}  // namespace

// Greedy with one position of lookahead: a short match is taken unless the
// next position has a longer one, which then costs one literal first. The
// image is written as the parse goes, into image (room for
// MaxImageSize(size) bytes); returns its size.
std::size_t LzsEncoder::PackFast(const std::uint8_t* data, std::size_t size, std::uint8_t* image) {
  // From here on the input is read from text_ only, so image may overlap it.
  if (!PrepareText(data, size)) return EncodeOutOfMemory;
  const std::uint8_t* input = text_.data() + InputStart;
  if (fastHead_.empty() || fastBase_ > UINT32_MAX - textEnd_) {
    if (!fastHead_.Assign(std::size_t{1} << FastHashBits, None) ||
        !fastHead3_.Assign(std::size_t{1} << FastHashBits, None) ||
        !fastLink_.Resize(FastRingMask + 1) || !fastLink3_.Resize(FastRingMask + 1)) {
      fastHead_.Resize(0);  // cleared again on the next call
      return EncodeOutOfMemory;
    }
    fastBase_ = 0;
  }
  // The zero bytes before the input are sources like any other.
  FastSearch search{text_.data(),      textEnd_,         fastBase_,         fastHead_.data(),
                    fastHead3_.data(), fastLink_.data(), fastLink3_.data(), ZeroStart};
  fastBase_ += textEnd_;

  const int depth = std::max(fastLimits_.depth, 1);
  const int lazyDepth = std::max(fastLimits_.lazyDepth, 1);
  ImageWriter writer(image);
  std::size_t i = 0;
  std::uint32_t distance = 0;
  std::uint32_t length = size > 0 ? search.Find(InputStart, depth, MinCopy, distance) : 0;
  while (i < size) {
    const auto pos = static_cast<std::uint32_t>(InputStart + i);
    if (length < MinCopy) {
      writer.Literal(input[i]);
      ++i;
      length = i < size ? search.Find(pos + 1, depth, MinCopy, distance) : 0;
      continue;
    }
    if (length < fastLimits_.lazyBelow && i + 1 < size) {
      std::uint32_t nextDistance = 0;
      const std::uint32_t next = search.Find(pos + 1, lazyDepth, length, nextDistance);
      if (next > length) {
        writer.Literal(input[i]);
        ++i;
        length = next;
        distance = nextDistance;
        continue;
      }
    }
    writer.Copy(i, distance, length);
    i += length;
    length = i < size
                 ? search.Find(static_cast<std::uint32_t>(InputStart + i), depth, MinCopy, distance)
                 : 0;
  }
  return writer.Finish(image);
}

// Runs the parse and moves each item of the chosen path to the position
// where it starts (walking back from the end); returns the image size.
std::size_t LzsEncoder::ParseAndMeasure(const std::uint8_t* data, std::size_t size, Parse parse) {
  if (!items_.Assign(size + 1, 0) || !Prepare(data, size)) return EncodeOutOfMemory;
  if (parse == Parse::Optimal) {
    ParseOptimal(size);
  } else {
    ParseGreedy(size);
  }
  std::size_t itemCount = 0;
  std::size_t itemBytes = 0;
  if (size > 0) {
    std::size_t p = size;
    ItemCode code = items_[p];
    while (p > 0) {
      const std::size_t start = p - CodeLength(code);
      const ItemCode earlier = items_[start];
      items_[start] = code;
      ++itemCount;
      itemBytes += code == 0 ? 1 : 2;
      p = start;
      code = earlier;
    }
  }
  return HeaderSize + (itemCount + 7) / 8 + itemBytes;
}

// Writes the image of the parse that ParseAndMeasure left in items_.
void LzsEncoder::WriteImage(std::size_t size, std::uint8_t* image) {
  ImageWriter writer(image);
  for (std::size_t i = 0; i < size;) {
    const ItemCode code = items_[i];
    if (code == 0) {
      writer.Literal(text_[InputStart + i]);
    } else {
      writer.Copy(i, code >> 4, CopyLength(code));
    }
    i += CodeLength(code);
  }
  writer.Finish(image);
}

std::size_t LzsEncoder::Encode(const std::uint8_t* data, std::size_t size, Parse parse,
                               std::uint8_t* dst, std::size_t dstCapacity) {
  if (size > MaxEncodeSize) return 0;
  if (parse == Parse::Fast) {
    // Straight into dst when it has room for any image of this size.
    if (dstCapacity >= MaxImageSize(size)) return PackFast(data, size, dst);
    if (!image_.Resize(MaxImageSize(size))) return EncodeOutOfMemory;
    const std::size_t imageSize = PackFast(data, size, image_.data());
    if (imageSize != EncodeOutOfMemory && imageSize <= dstCapacity)
      std::memcpy(dst, image_.data(), imageSize);
    return imageSize;
  }
  const std::size_t imageSize = ParseAndMeasure(data, size, parse);
  if (imageSize != EncodeOutOfMemory && imageSize <= dstCapacity) WriteImage(size, dst);
  return imageSize;
}

}  // namespace lzs
