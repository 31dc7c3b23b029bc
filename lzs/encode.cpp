#include "lzs/encode.hpp"

#include <algorithm>
#include <cstring>

#include "lzs/match_tree.hpp"

namespace lzs {

std::size_t LzsEncoder::WorkspaceBytes() const {
  return stream_.Bytes() + copy_.capacity() + image_.capacity();
}

std::size_t LzsEncoder::Encode(const std::uint8_t* data, std::size_t size, Parse parse,
                               std::uint8_t* dst, std::size_t dstCapacity) {
  if (size > MaxEncodeSize) return 0;
  if (!stream_.Reset(parse, 0)) return EncodeOutOfMemory;
  stream_.SetFastLimits(fastLimits_);
  // Packing in place: the input is read from a copy.
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const auto target = reinterpret_cast<std::uintptr_t>(dst);
  if (size != 0 && dstCapacity != 0 && start < target + dstCapacity && target < start + size) {
    if (!copy_.Resize(size)) return EncodeOutOfMemory;
    std::memcpy(copy_.data(), data, size);
    data = copy_.data();
  }
  // Straight into dst when it has room for any image of this size.
  const std::size_t bound = MaxImageSize(size);
  std::uint8_t* image = dst;
  if (dstCapacity < bound) {
    if (!image_.Resize(bound)) return EncodeOutOfMemory;
    image = image_.data();
  }
  stream_.WriteInto(image, bound);
  std::size_t taken = 0;
  std::size_t given = 0;
  const EncodeStatus status = stream_.Encode(data, size, &taken, nullptr, 0, &given, true);
  if (status != EncodeStatus::Done) return EncodeOutOfMemory;
  const std::size_t imageSize = HeaderSize + static_cast<std::size_t>(stream_.PayloadSize());
  if (image != dst && imageSize <= dstCapacity) std::memcpy(dst, image, imageSize);
  return imageSize;
}

bool LzsEncoder::FindLongestMatches(const std::uint8_t* data, std::size_t size,
                                    std::uint8_t* lengths, std::uint16_t* distances) {
  constexpr std::uint32_t InputStart = TextLayout::InputStart;
  if (size > MaxEncodeSize - InputStart) return false;
  Buffer<std::uint8_t> text;
  MatchTree tree;
  if (!text.Resize(InputStart + size + TextLayout::SearchPadding) || !tree.Start()) return false;
  std::memset(text.data(), 0, text.size());
  if (size != 0) std::memcpy(text.data() + InputStart, data, size);
  const auto end = static_cast<std::uint32_t>(InputStart + size);
  for (std::uint32_t pos = TextLayout::ZeroStart; pos < end; ++pos) {
    std::uint32_t distance = 0;
    const std::uint32_t length =
        tree.Find(text.data(), pos, std::min(MaxCopy, end - pos), distance);
    if (pos < InputStart) continue;
    lengths[pos - InputStart] = static_cast<std::uint8_t>(length);
    distances[pos - InputStart] = length != 0 ? static_cast<std::uint16_t>(distance) : 0;
  }
  return true;
}

}  // namespace lzs
