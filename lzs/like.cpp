// liblzs: lzs_encode_like, packing a file as an older image of it was
// packed.
//
// The older image (orig) is read item by item with the decoder's item walk.
// Each of its items names what it writes (a literal byte, or a copy of a
// distance and a length), so it still fits the new content (src) wherever
// it writes the same bytes there. An item keeps its output index, or for the
// part after an edit that changed the length, moves by that change; its
// bytes stay the same where its index does, since a back-reference's window
// position follows from its distance and its index.
//
// The new image takes orig's items from the start for as long as they fit.
// Where one does not, a span is parsed anew, the smallest parse by dynamic
// programming over the longest match at each position (as lzs_encode's
// optimal level finds it). The span ends where orig's items fit again: at
// the first of them from which Solid items in a row fit, reached by a parse
// of a count of items that puts that item in the same place of its group
// of eight as in orig, so that the flag bytes and the items after it are
// orig's bytes again. The parse tracks its count modulo 8 for that.
//
// An image's size is its items' cost in bits (9 a literal, 17 a
// back-reference, flag bits included) over 8. When src keeps orig's size,
// the span looks on (SizeReach) for an end where the parse costs no more
// than orig's items it replaces, and makes it cost exactly that (Pad): then
// the image keeps orig's size, and so its header, and differs from orig
// only in the span. A parse can cost no less than the smallest, so orig's
// items must leave room for that: an image of LZS_LEVEL_OPTIMAL leaves none,
// one of a less thorough packer some in every few KiB. When src's size
// changed, the bytes after the edit change anyway (their window positions
// move): there the image must not be larger than the fast level's, and the
// spans grow until it is not (or it is that image).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "lzs.h"
#include "lzs/buffer.hpp"
#include "lzs/c_api.hpp"
#include "lzs/encode.hpp"
#include "lzs/format.hpp"
#include "lzs/walk.hpp"

namespace {

using lzs::Buffer;
using lzs::Error;

constexpr std::uint64_t None = ~std::uint64_t{0};
// orig's items that must fit in a row before a span ends on the first.
constexpr std::size_t Solid = 8;
// The span's first search reach; it doubles while no end is found in it.
constexpr std::size_t FirstReach = std::size_t{1} << 14;
// The least span of a second try, when the first made an image larger than
// the fast level's; it grows four times on each try.
constexpr std::size_t MinSpanStep = std::size_t{1} << 14;
// How much further than the first place to end a span it may go to find
// one where the image keeps orig's size.
constexpr std::size_t SizeReach = std::size_t{1} << 16;
// Bits an item costs, its flag bit included.
constexpr std::uint32_t LiteralBits = 9;
constexpr std::uint32_t ReferenceBits = 17;
using Cost = std::uint64_t;
constexpr Cost Unreached = ~Cost{0};
// The costs of the indexes from the current one to MaxCopy past it.
constexpr std::size_t Ring = 32;
static_assert(Ring > lzs::MaxCopy + 1);

struct OrigItem {
  std::uint64_t output;    // where orig writes it
  std::uint16_t distance;  // a back-reference's
  std::uint8_t length;     // 1 for a literal
  std::uint8_t literal;    // a literal's byte
  bool reference;
};

// Writes items as groups of a flag byte and eight items.
class ImageWriter {
 public:
  explicit ImageWriter(std::uint8_t* image) : image_(image), end_(lzs::HeaderSize) {}

  void Literal(std::uint8_t byte) {
    Start();
    image_[flags_] = static_cast<std::uint8_t>(image_[flags_] | 1u << item_);
    image_[end_++] = byte;
    ++item_;
  }

  void Reference(std::uint64_t i, std::uint32_t distance, std::uint32_t length) {
    Start();
    const std::uint32_t position = lzs::ItemPositionAt(i, distance);
    image_[end_++] = lzs::ItemByte0(position);
    image_[end_++] = lzs::ItemByte1(position, length);
    ++item_;
  }

  // orig's own last flag bits above its items and the bytes after its last
  // whole item, which decoding drops, when the image ends as orig does.
  void Tail(std::uint8_t origFlags, const std::uint8_t* bytes, std::size_t count) {
    if (item_ < 8) {
      const auto above = static_cast<std::uint8_t>(0xFFu << item_);
      image_[flags_] = static_cast<std::uint8_t>(image_[flags_] | (origFlags & above));
    }
    std::memcpy(image_ + end_, bytes, count);
    end_ += count;
  }

  // Writes the header; returns the image's size.
  std::size_t Finish() {
    const std::size_t payload = end_ - lzs::HeaderSize;
    for (std::uint32_t k = 0; k < lzs::HeaderSize; ++k) {
      image_[k] = static_cast<std::uint8_t>(payload >> (8 * k));
    }
    return end_;
  }

 private:
  void Start() {
    if (item_ < 8) return;
    flags_ = end_++;
    image_[flags_] = 0;
    item_ = 0;
  }

  std::uint8_t* image_;
  std::size_t end_;
  std::size_t flags_ = 0;
  std::uint32_t item_ = 8;
};

// A span's item: a literal (length 1) or a back-reference.
struct SpanItem {
  std::uint32_t length;
  std::uint32_t distance;
};

// Where a span may end: at index end, before orig's item next, reached by a
// parse whose count of items is `residue` modulo 8 (cost, its bits).
struct SpanEnd {
  std::size_t end = 0;
  std::size_t next = 0;
  std::uint32_t residue = 0;
  bool found = false;
};

class Like {
 public:
  Like(const std::uint8_t* src, std::size_t size, const Buffer<OrigItem>& items,
       const Buffer<std::uint64_t>& weights, std::size_t itemCount, const std::uint8_t* content,
       std::size_t contentSize)
      : src_(src),
        size_(size),
        items_(items),
        weights_(weights),
        itemCount_(itemCount),
        contentSize_(contentSize) {
    // The part before the first change, and after the last, of orig's
    // content and src.
    using Back = std::reverse_iterator<const std::uint8_t*>;
    const std::size_t common = size < contentSize ? size : contentSize;
    prefix_ = static_cast<std::size_t>(std::mismatch(src, src + common, content).first - src);
    const Back end(src + size);
    suffix_ = static_cast<std::size_t>(
        std::mismatch(end, end + static_cast<std::ptrdiff_t>(common - prefix_),
                      Back(content + contentSize))
            .first -
        end);
  }

  // Parses src into writer, each span at least minSpan bytes long where
  // src has them; false when out of memory.
  bool Run(ImageWriter& writer, std::size_t minSpan) {
    minSpan_ = minSpan;
    reused_ = 0;
    endsAsOrig_ = false;
    std::size_t pos = 0;
    std::size_t count = 0;  // items written
    std::size_t k = 0;      // orig's next item
    while (pos < size_) {
      if (k < itemCount_ && Mapped(k) == pos && Fits(k, pos)) {
        Write(writer, k, pos);
        endsAsOrig_ = k + 1 == itemCount_;
        pos += items_[k].length;
        ++count;
        ++k;
        ++reused_;
        continue;
      }
      if (!Span(writer, pos, count, k)) return false;
      endsAsOrig_ = false;
    }
    return true;
  }

  std::size_t Reused() const { return reused_; }
  // Whether the image ends with orig's last item.
  bool EndsAsOrig() const { return endsAsOrig_; }

 private:
  // Where item k of orig would write in src: its own index before the
  // first change, moved by the change in length after the last; None
  // between them.
  std::uint64_t Mapped(std::size_t k) const {
    const OrigItem& item = items_[k];
    if (size_ == contentSize_ || item.output + item.length <= prefix_) return item.output;
    if (item.output >= contentSize_ - suffix_) return item.output - contentSize_ + size_;
    return None;
  }

  // Whether item k of orig writes src's bytes when it writes at index at.
  bool Fits(std::size_t k, std::uint64_t at) const {
    const OrigItem& item = items_[k];
    if (at + item.length > size_) return false;
    if (!item.reference) return src_[at] == item.literal;
    const std::uint32_t distance = item.distance;
    for (std::uint64_t i = at; i < at + item.length; ++i) {
      const std::uint8_t byte = distance == 0 || i < distance ? 0 : src_[i - distance];
      if (src_[i] != byte) return false;
    }
    return true;
  }

  // Whether orig's items from k on fit in a row from index at, Solid of
  // them or up to the last.
  bool FitsFrom(std::size_t k, std::uint64_t at) const {
    for (std::size_t j = k; j < itemCount_ && j < k + Solid; ++j) {
      if (Mapped(j) != at || !Fits(j, at)) return false;
      at += items_[j].length;
    }
    return true;
  }

  void Write(ImageWriter& writer, std::size_t k, std::uint64_t at) const {
    const OrigItem& item = items_[k];
    if (item.reference) {
      writer.Reference(at, item.distance, item.length);
    } else {
      writer.Literal(item.literal);
    }
  }

  // Parses src from pos to where orig's items fit again (or to the end),
  // writes that parse and moves pos, count and k past it. Searches ever
  // further from pos until it finds such a place.
  bool Span(ImageWriter& writer, std::size_t& pos, std::size_t& count, std::size_t& k) {
    for (std::size_t reach = FirstReach + minSpan_;; reach *= 2) {
      const std::size_t limit = size_ - pos > reach ? pos + reach : size_;
      SpanEnd chosen;
      if (!Parse(pos, limit, count, k, chosen)) return false;
      if (!chosen.found) continue;  // no place to end within reach
      count += Emit(writer, pos);
      pos = chosen.end;
      k = chosen.next;
      return true;
    }
  }

  // The dynamic programme over src[pos, limit): the least cost (in bits)
  // of reaching each index with a count of items of each residue modulo
  // 8, and the length of the item that reached it there (choice_). Sets
  // chosen to the first place from which orig's items fit again, reached
  // with a count that puts them in their place, preferring one where the
  // parse can cost exactly what orig's items it replaces cost, so that the
  // image keeps orig's size; otherwise the end of src. Fills spanItems_
  // with the parse.
  bool Parse(std::size_t pos, std::size_t limit, std::size_t count, std::size_t k,
             SpanEnd& chosen) {
    // The matches of the span, with the window before it.
    const std::size_t start = WindowStart(pos);
    const std::size_t span = limit - pos;
    if (!lengths_.Resize(limit - start) || !distances_.Resize(limit - start) ||
        !choice_.Resize((span + 1) * 8) || !spanItems_.Resize(span) ||
        !lzs::LzsEncoder::FindLongestMatches(src_ + start, limit - start, lengths_.data(),
                                             distances_.data())) {
      return false;
    }
    std::memset(choice_.data(), 0, (span + 1) * 8);
    Cost cost[Ring][8];
    for (auto& row : cost) {
      for (auto& c : row) c = Unreached;
    }
    cost[pos % Ring][0] = 0;
    SpanEnd first;  // the first place where orig's items fit again
    std::size_t candidate = k;
    for (std::size_t p = pos;; ++p) {
      Cost* const here = cost[p % Ring];
      if (p == size_) {
        if (first.found) break;
        chosen = SpanEnd{p, itemCount_, 0, true};
        for (std::uint32_t r = 1; r < 8; ++r) {
          if (here[r] < here[chosen.residue]) chosen.residue = r;
        }
        Backtrack(pos, chosen);
        return true;
      }
      while (candidate < itemCount_ && (Mapped(candidate) == None || Mapped(candidate) < p ||
                                        (Mapped(candidate) == p && p == pos))) {
        ++candidate;
      }
      if (p - pos >= minSpan_ && candidate < itemCount_ && Mapped(candidate) == p) {
        const auto r = static_cast<std::uint32_t>(candidate - count) & 7;
        if (here[r] != Unreached && FitsFrom(candidate, p)) {
          const SpanEnd end{p, candidate, r, true};
          if (!first.found) first = end;
          // What orig's items from k to the candidate cost, which the
          // parse may cost too, padded.
          const Cost orig = weights_[candidate] - weights_[k];
          if (size_ == contentSize_ && here[r] <= orig) {
            Backtrack(pos, end);
            if (Pad(orig - here[r])) {
              chosen = end;
              return true;
            }
          }
        }
      }
      if (first.found && (size_ != contentSize_ || p - first.end > SizeReach)) break;
      // At the limit of the reach: a longer one is tried when nothing was
      // found, or while a parse that keeps the size may still come.
      if (p == limit) {
        if (!first.found || size_ == contentSize_) return true;
        break;
      }
      Cost* const after = cost[(p + lzs::MaxCopy + 1) % Ring];
      for (std::uint32_t r = 0; r < 8; ++r) after[r] = Unreached;
      const std::uint32_t longest = lengths_[p - start];
      for (std::uint32_t r = 0; r < 8; ++r) {
        if (here[r] == Unreached) continue;
        const std::uint32_t to = (r + 1) & 7;
        Offer(cost, pos, p + 1, to, here[r] + LiteralBits, 1);
        for (std::uint32_t length = lzs::MinCopy; length <= longest; ++length) {
          Offer(cost, pos, p + length, to, here[r] + ReferenceBits, length);
        }
      }
    }
    if (first.found) {
      chosen = first;
      Backtrack(pos, chosen);
    }
    return true;
  }

  void Offer(Cost (*cost)[8], std::size_t pos, std::size_t at, std::uint32_t residue, Cost bits,
             std::uint32_t length) {
    Cost& best = cost[at % Ring][residue];
    if (bits >= best) return;
    best = bits;
    choice_[(at - pos) * 8 + residue] = static_cast<std::uint8_t>(length);
  }

  // The parse that reaches end.end with its residue, from pos, into
  // spanItems_ (found from the end back, kept in order).
  void Backtrack(std::size_t pos, const SpanEnd& end) {
    const std::size_t start = WindowStart(pos);
    std::size_t count = 0;
    std::uint32_t r = end.residue;
    for (std::size_t at = end.end; at > pos; r = (r + 7) & 7) {
      const std::uint32_t length = choice_[(at - pos) * 8 + r];
      at -= length;
      const std::uint32_t distance = length == 1 ? 0u : distances_[at - start];
      spanItems_[count++] = SpanItem{length, distance};
    }
    spanCount_ = count;
    for (std::size_t a = 0, b = count; a + 1 < b; ++a, --b) {
      const SpanItem t = spanItems_[a];
      spanItems_[a] = spanItems_[b - 1];
      spanItems_[b - 1] = t;
    }
  }

  // Makes the parse in spanItems_ cost `bits` more, its count of items the
  // same modulo 8, so that with its flag bytes it takes as many bytes as
  // orig's items it replaces: x back-references give up their last bytes
  // to literals (9 bits and an item each), y of three bytes become three
  // literals (10 bits, two items), z of six bytes or more become two (17
  // bits, an item). The items added, x + 2y + z, are 8m for some m; the
  // bits, 8(x + y + 2z) + 8m, are `bits`. Returns false, the parse
  // unchanged, when that cannot be done.
  bool Pad(Cost bits) {
    if (bits == 0) return true;
    const Cost bytes = bits / 8;  // x + y + 2z + m
    // lost_[j]: what the first j back-references long enough to split could
    // give up as x.
    std::size_t threes = 0;
    std::size_t units = 0;  // bytes the back-references could give up
    std::size_t splits = 0;
    if (!lost_.Resize(spanCount_ + 1)) return false;
    lost_[0] = 0;
    for (std::size_t n = 0; n < spanCount_; ++n) {
      const std::uint32_t length = spanItems_[n].length;
      if (length == lzs::MinCopy) ++threes;
      if (length > 1) units += length - lzs::MinCopy;
      if (length >= 2 * lzs::MinCopy) {
        lost_[splits + 1] = lost_[splits] + length - lzs::MinCopy;
        ++splits;
      }
    }
    // z = bytes + y - 9m >= 0 and 2y + z <= 8m: y from 9m - bytes to
    // (17m - bytes) / 3, so m is at most bytes / 5.
    for (Cost m = 1; 5 * m <= bytes; ++m) {
      const Cost low = 9 * m > bytes ? 9 * m - bytes : 0;
      if (17 * m < bytes) continue;
      const Cost high = (17 * m - bytes) / 3;
      for (Cost y = low; y <= high && y <= threes; ++y) {
        const Cost z = bytes + y - 9 * m;
        if (z > splits) continue;
        const Cost x = 8 * m - 2 * y - z;
        if (x > units - lost_[z]) continue;
        ApplyPadding(x, static_cast<std::size_t>(y), static_cast<std::size_t>(z));
        return true;
      }
    }
    return false;
  }

  // The moves Pad chose, in spanItems_: its items go to the end of its
  // room first, and are written back from its start, each as it becomes
  // (the moves add at most the room left, so the writing never passes the
  // reading).
  void ApplyPadding(Cost x, std::size_t y, std::size_t z) {
    const std::size_t room = spanItems_.size();
    const std::size_t from = room - spanCount_;
    std::memmove(spanItems_.data() + from, spanItems_.data(), spanCount_ * sizeof(SpanItem));
    std::size_t out = 0;
    for (std::size_t in = from; in < room; ++in) {
      const SpanItem item = spanItems_[in];
      if (item.length == 1) {
        spanItems_[out++] = item;
      } else if (z > 0 && item.length >= 2 * lzs::MinCopy) {
        --z;
        spanItems_[out++] = SpanItem{lzs::MinCopy, item.distance};
        spanItems_[out++] = SpanItem{item.length - lzs::MinCopy, item.distance};
      } else if (y > 0 && item.length == lzs::MinCopy) {
        --y;
        for (std::uint32_t n = 0; n < lzs::MinCopy; ++n) spanItems_[out++] = SpanItem{1, 0};
      } else {
        const std::uint32_t spare = item.length - lzs::MinCopy;
        const auto give = static_cast<std::uint32_t>(x < spare ? x : spare);
        x -= give;
        spanItems_[out++] = SpanItem{item.length - give, item.distance};
        for (std::uint32_t n = 0; n < give; ++n) spanItems_[out++] = SpanItem{1, 0};
      }
    }
    spanCount_ = out;
  }

  // Writes the parse in spanItems_, from pos; returns its count of items.
  std::size_t Emit(ImageWriter& writer, std::size_t pos) const {
    std::size_t at = pos;
    for (std::size_t n = 0; n < spanCount_; ++n) {
      const SpanItem& item = spanItems_[n];
      if (item.length == 1) {
        writer.Literal(src_[at]);
      } else {
        writer.Reference(at, item.distance, item.length);
      }
      at += item.length;
    }
    return spanCount_;
  }

  // Where the match search starts for a span from pos: a window before it.
  static std::size_t WindowStart(std::size_t pos) {
    return pos > lzs::WindowSize - 1 ? pos - (lzs::WindowSize - 1) : 0;
  }

  const std::uint8_t* src_;
  std::size_t size_;
  const Buffer<OrigItem>& items_;
  const Buffer<std::uint64_t>& weights_;
  std::size_t itemCount_;
  std::size_t contentSize_;
  std::size_t prefix_ = 0;
  std::size_t suffix_ = 0;
  std::size_t minSpan_ = 0;
  std::size_t reused_ = 0;
  bool endsAsOrig_ = false;
  Buffer<std::uint8_t> lengths_;
  Buffer<std::uint16_t> distances_;
  Buffer<std::uint8_t> choice_;
  Buffer<SpanItem> spanItems_;
  Buffer<std::size_t> lost_;  // see Pad
  std::size_t spanCount_ = 0;
};

}  // namespace

size_t lzs_encode_like(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                       const void* orig, size_t origSize, unsigned long long* reusedItems,
                       unsigned long long* origItems) {
  if (reusedItems != nullptr) *reusedItems = 0;
  if (origItems != nullptr) *origItems = 0;
  if ((dst == nullptr && dstCapacity != 0) || (src == nullptr && srcSize != 0) ||
      (orig == nullptr && origSize != 0) || lzs::Overlap(dst, dstCapacity, src, srcSize) ||
      lzs::Overlap(dst, dstCapacity, orig, origSize)) {
    return Error(LZS_ERROR_BAD_ARGUMENT);
  }
  if (srcSize == 0) return Error(LZS_ERROR_EMPTY_INPUT);
  if (srcSize > LZS_ENCODE_SIZE_MAX) return Error(LZS_ERROR_INPUT_TOO_LARGE);
  const size_t contentSize = lzs_decoded_size(orig, origSize);
  if (lzs_is_error(contentSize)) return contentSize;
  if (contentSize > LZS_ENCODE_SIZE_MAX) return Error(LZS_ERROR_INPUT_TOO_LARGE);

  // orig's content and items, and what its items cost from the first up
  // to each.
  Buffer<std::uint8_t> content;
  Buffer<OrigItem> items;
  Buffer<std::uint64_t> weights;
  Buffer<std::uint8_t> image;
  const std::size_t bound = lzs_encode_bound(srcSize) + 2;
  if (!content.Resize(contentSize) || !items.Resize(contentSize) ||
      !weights.Resize(contentSize + 1) || !image.Resize(bound)) {
    return Error(LZS_ERROR_OUT_OF_MEMORY);
  }
  (void)lzs_decode(content.data(), contentSize, orig, origSize);
  const auto* const payload = static_cast<const std::uint8_t*>(orig) + lzs::HeaderSize;
  const std::size_t payloadLength = origSize - lzs::HeaderSize;
  std::size_t itemCount = 0;
  std::size_t lastEnd = 0;    // payload offset after orig's last whole item
  std::size_t lastFlags = 0;  // payload offset of its last flag byte
  weights[0] = 0;
  const std::uint8_t* in = payload;
  lzs::WalkState state;
  lzs::WalkItems(in, payload + payloadLength, true, state, [&](const lzs::Item& item) {
    if (itemCount % 8 == 0) lastFlags = static_cast<std::size_t>(item.offset) - 1;
    weights[itemCount + 1] = weights[itemCount] + (item.reference ? ReferenceBits : LiteralBits);
    items.data()[itemCount++] =
        OrigItem{item.output, static_cast<std::uint16_t>(item.distance),
                 static_cast<std::uint8_t>(item.length), item.literal, item.reference};
    lastEnd = static_cast<std::size_t>(item.offset) + (item.reference ? 2 : 1);
    return lzs::WalkStep::Next;
  });
  if (origItems != nullptr) *origItems = itemCount;

  if (contentSize == srcSize && std::memcmp(content.data(), src, srcSize) == 0) {
    // The same content: orig itself, every byte of it.
    if (origSize > dstCapacity) return Error(LZS_ERROR_DST_TOO_SMALL);
    // NOLINTNEXTLINE(clang-analyzer-core.NonNullParamChecker): orig is an image here
    std::memcpy(dst, orig, origSize);
    if (reusedItems != nullptr) *reusedItems = itemCount;
    return origSize;
  }
  // The image is never larger than the fast level's: while it is, the
  // spans grow, parsing more of src anew, and in the end it is that image.
  lzs::LzsEncoder packer;
  const auto* const bytes = static_cast<const std::uint8_t*>(src);
  const std::size_t fastSize = packer.Encode(bytes, srcSize, lzs::Parse::Fast, nullptr, 0);
  if (fastSize == lzs::EncodeOutOfMemory) return Error(LZS_ERROR_OUT_OF_MEMORY);
  Like like(bytes, srcSize, items, weights, itemCount, content.data(), contentSize);
  std::size_t imageSize = 0;
  std::size_t reused = 0;
  for (std::size_t minSpan = 0;; minSpan = minSpan == 0 ? MinSpanStep : 4 * minSpan) {
    ImageWriter writer(image.data());
    if (!like.Run(writer, minSpan)) return Error(LZS_ERROR_OUT_OF_MEMORY);
    if (like.EndsAsOrig()) {
      // A group of orig's that ends without eight items keeps its flag
      // byte's other bits; the bytes after its last item stay too.
      const std::uint8_t flags = itemCount % 8 != 0 ? payload[lastFlags] : 0;
      writer.Tail(flags, payload + lastEnd, payloadLength - lastEnd);
    }
    imageSize = writer.Finish();
    reused = like.Reused();
    if (imageSize <= fastSize || srcSize == contentSize) break;
    if (minSpan >= srcSize) {
      imageSize = packer.Encode(bytes, srcSize, lzs::Parse::Fast, image.data(), image.size());
      reused = 0;
      break;
    }
  }
  if (reusedItems != nullptr) *reusedItems = reused;
  if (imageSize > dstCapacity) return Error(LZS_ERROR_DST_TOO_SMALL);
  std::memcpy(dst, image.data(), imageSize);
  return imageSize;
}
