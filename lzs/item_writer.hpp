// Writes the items of a parse as image bytes: groups of one flag byte (bit k
// set when item k of the group is a literal) and up to eight items, after a
// header of HeaderSize bytes. The header is left as zeros and its value
// given at the end (PayloadSize), since the payload's length is known only
// then.
//
// The bytes go into a stage: the caller's whole destination (Attach, when it
// has room for any image of the input), or a buffer of the writer's own that
// Drain empties into the caller's pieces. A group's flag byte is complete only
// with its eighth item, so the stage gives out bytes only up to the flag byte
// of the open group.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lzs/buffer.hpp"
#include "lzs/format.hpp"

namespace lzs {

// The literals of a group, the set bits of its flag byte, counted without
// std::popcount: on a processor without a popcount instruction that is a
// call into the compiler's runtime, which a DLL of the library must not
// import.
constexpr std::size_t LiteralCount(std::uint32_t flags) {
  flags = flags - ((flags >> 1) & 0x55);
  flags = (flags & 0x33) + ((flags >> 2) & 0x33);
  return (flags + (flags >> 4)) & 0x0F;
}

// The largest payload an image can have: its header has 32 bits.
inline constexpr std::uint64_t MaxPayload = 0xFFFFFFFFu;

// Bytes one item may add to the stage: a flag byte and a back-reference.
inline constexpr std::size_t MaxItemBytes = 3;

// Items kept apart from their flags (one bit per item, set for a literal, in
// 64-bit words from the lowest bit), so that they can go into an image after
// any number of items: a segment's items before the segments ahead of it are
// written.
class ItemList {
 public:
  // Empty, with room for the items of `inputBytes` input bytes.
  bool Reserve(std::size_t inputBytes) {
    count_ = 0;
    byteCount_ = 0;
    // Room to read a group's bits and bytes whole past the last item.
    if (!bits_.Resize(inputBytes / 64 + 2) || !bytes_.Resize(inputBytes + std::size_t{16}))
      return false;
    bits_[0] = 0;
    return true;
  }
  static bool HasRoom(std::size_t) { return true; }
  void Literal(std::uint8_t byte) {
    bytes_[byteCount_++] = byte;
    EndItem(1);
  }
  void Copy(std::uint64_t index, std::uint32_t distance, std::uint32_t length) {
    const std::uint32_t position = ItemPositionAt(index, distance);
    bytes_[byteCount_] = ItemByte0(position);
    bytes_[byteCount_ + 1] = ItemByte1(position, length);
    byteCount_ += 2;
    EndItem(0);
  }
  std::size_t Count() const { return count_; }
  bool IsLiteral(std::size_t item) const { return (bits_[item / 64] >> (item % 64) & 1) != 0; }
  // The flag bits of items item to item + 7.
  std::uint32_t Group(std::size_t item) const {
    const std::size_t shift = item % 64;
    std::uint64_t v = bits_[item / 64] >> shift;
    if (shift > 56) v |= bits_[item / 64 + 1] << (64 - shift);
    return static_cast<std::uint32_t>(v & 0xFF);
  }
  const std::uint8_t* Bytes() const { return bytes_.data(); }
  std::size_t ByteCount() const { return byteCount_; }
  std::size_t MemoryBytes() const { return bits_.capacity() * 8 + bytes_.capacity(); }

 private:
  void EndItem(std::uint64_t literal) {
    bits_[count_ / 64] |= literal << (count_ % 64);
    if (++count_ % 64 == 0) bits_[count_ / 64] = 0;
  }

  Buffer<std::uint64_t> bits_;
  Buffer<std::uint8_t> bytes_;
  std::size_t count_ = 0;
  std::size_t byteCount_ = 0;
};

class ItemWriter {
 public:
  // Writes into a stage of its own of `capacity` bytes; false when out of
  // memory.
  bool UseOwnStage(std::size_t capacity) {
    if (!own_.Resize(capacity)) return false;
    stage_ = own_.data();
    capacity_ = capacity;
    whole_ = false;
    return true;
  }

  // Writes into dst, which must have room for the whole image.
  void Attach(std::uint8_t* dst, std::size_t capacity) {
    stage_ = dst;
    capacity_ = capacity;
    whole_ = true;
  }

  // A new image: the header's place, then the first group's flag byte.
  void Start() {
    std::memset(stage_, 0, HeaderSize);
    read_ = 0;
    flag_ = HeaderSize;
    end_ = HeaderSize + 1;
    bits_ = 0;
    item_ = 0;
    flushed_ = 0;
  }

  // Whether `items` more items fit in the stage.
  bool HasRoom(std::size_t items) const {
    return whole_ || capacity_ - end_ >= MaxItemBytes * items;
  }

  void Literal(std::uint8_t byte) {
    bits_ |= 1u << item_;
    stage_[end_++] = byte;
    EndItem();
  }

  // A back-reference written at output index `index`.
  void Copy(std::uint64_t index, std::uint32_t distance, std::uint32_t length) {
    const std::uint32_t position = ItemPositionAt(index, distance);
    stage_[end_] = ItemByte0(position);
    stage_[end_ + 1] = ItemByte1(position, length);
    end_ += 2;
    EndItem();
  }

  // Writes items of `list` from item *item (whose bytes start at *byte) on,
  // while there is room; advances both. Returns true when all are written.
  bool Splice(const ItemList& list, std::size_t& item, std::size_t& byte) {
    const std::uint8_t* const bytes = list.Bytes();
    std::size_t k = item;
    std::size_t at = byte;
    const std::size_t count = list.Count();
    while (k < count && HasRoom(8)) {
      if (item_ == 0 && count - k >= 8) {
        // A whole group: its flag byte, and its items' bytes at once (2 for a
        // back-reference, 1 for a literal).
        const std::uint32_t flags = list.Group(k);
        const std::size_t n = 16 - LiteralCount(flags);
        stage_[flag_] = static_cast<std::uint8_t>(flags);
        std::memcpy(stage_ + end_, bytes + at, 16);
        end_ += n;
        at += n;
        k += 8;
        flag_ = end_++;
        continue;
      }
      // Up to the end of a group, or of a run of 8 items.
      for (std::size_t last = k + 8; k < last && k < count; ++k) {
        if (list.IsLiteral(k)) {
          bits_ |= 1u << item_;
          stage_[end_++] = bytes[at++];
        } else {
          stage_[end_] = bytes[at];
          stage_[end_ + 1] = bytes[at + 1];
          end_ += 2;
          at += 2;
        }
        EndItem();
      }
    }
    item = k;
    byte = at;
    return k == count;
  }

  // Completes the last group: its flag byte, or no flag byte when it has no
  // item.
  void Finish() {
    if (item_ == 0) {
      --end_;
    } else {
      stage_[flag_] = static_cast<std::uint8_t>(bits_);
    }
    flag_ = end_;
  }

  // Writes the header, once finished, when the stage is the whole image.
  void WriteHeader() {
    const std::uint64_t payload = PayloadSize();
    for (std::uint32_t k = 0; k < HeaderSize; ++k) {
      stage_[k] = static_cast<std::uint8_t>(payload >> (8 * k));
    }
  }

  // The payload's size so far (after Finish, the whole payload's).
  std::uint64_t PayloadSize() const { return flushed_ + end_ - HeaderSize; }

  // Bytes of the stage that are complete and not yet drained.
  std::size_t Ready() const { return flag_ - read_; }

  // Copies up to `room` complete bytes to dst; returns how many. Makes room
  // in the stage when it has been drained up to the open group.
  std::size_t Drain(std::uint8_t* dst, std::size_t room) {
    std::size_t n = flag_ - read_;
    if (n > room) n = room;
    if (n != 0) std::memcpy(dst, stage_ + read_, n);
    read_ += n;
    if (read_ == flag_ && flag_ > capacity_ / 2) {
      // Only the open group is left: move it to the front.
      const std::size_t open = end_ - flag_;
      std::memmove(stage_, stage_ + flag_, open);
      flushed_ += flag_;
      read_ = 0;
      flag_ = 0;
      end_ = open;
    }
    return n;
  }

 private:
  void EndItem() {
    if (++item_ < 8) return;
    stage_[flag_] = static_cast<std::uint8_t>(bits_);
    flag_ = end_++;
    bits_ = 0;
    item_ = 0;
  }

  Buffer<std::uint8_t> own_;
  std::uint8_t* stage_ = nullptr;
  std::size_t capacity_ = 0;
  bool whole_ = false;         // the stage has room for the whole image
  std::size_t read_ = 0;       // stage_[read_, flag_) is complete and not drained
  std::size_t flag_ = 0;       // the open group's flag byte
  std::size_t end_ = 0;        // where the next item goes
  std::uint64_t flushed_ = 0;  // stage bytes moved out before stage_[0]
  std::uint32_t bits_ = 0;
  std::uint32_t item_ = 0;  // items in the open group
};

}  // namespace lzs
