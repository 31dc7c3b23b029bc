#include "tests/support/greedy_packer.hpp"

#include <cstddef>

#include "lzs/format.hpp"

using namespace lzs;

std::vector<std::uint8_t> PackGreedy(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> image(HeaderSize);
  std::size_t flagsAt = 0;
  int item = 8;  // items in the current group
  // Positions by a hash of their next three bytes, newest first; the search
  // looks at the nearest MaxCandidates of them.
  constexpr int MaxCandidates = 256;
  constexpr int HashBits = 16;
  std::vector<long> head(std::size_t{1} << HashBits, -1);
  std::vector<long> previous(data.size(), -1);
  auto hash = [&](std::size_t i) {
    const std::uint32_t v =
        std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
    return (v * 2654435761u) >> (32 - HashBits);
  };
  auto insert = [&](std::size_t i) {
    if (i + MinCopy > data.size()) return;
    previous[i] = head[hash(i)];
    head[hash(i)] = static_cast<long>(i);
  };
  for (std::size_t i = 0; i < data.size();) {
    if (item == 8) {
      flagsAt = image.size();
      image.push_back(0);
      item = 0;
    }
    std::size_t bestLength = 0;
    std::size_t bestDistance = 0;
    if (i + MinCopy <= data.size()) {
      int depth = MaxCandidates;
      for (long c = head[hash(i)]; c >= 0 && i - static_cast<std::size_t>(c) < WindowSize &&
                                   bestLength < MaxCopy && depth-- > 0;
           c = previous[static_cast<std::size_t>(c)]) {
        std::size_t length = 0;
        while (length < MaxCopy && i + length < data.size() &&
               data[static_cast<std::size_t>(c) + length] == data[i + length]) {
          ++length;
        }
        if (length > bestLength) {
          bestLength = length;
          bestDistance = i - static_cast<std::size_t>(c);
        }
      }
    }
    if (bestLength >= MinCopy) {
      const std::uint32_t position = ItemPositionAt(i, static_cast<std::uint32_t>(bestDistance));
      image.push_back(ItemByte0(position));
      image.push_back(ItemByte1(position, static_cast<std::uint32_t>(bestLength)));
      for (std::size_t k = i; k < i + bestLength; ++k) insert(k);
      i += bestLength;
    } else {
      image[flagsAt] = static_cast<std::uint8_t>(image[flagsAt] | 1u << item);
      image.push_back(data[i]);
      insert(i);
      ++i;
    }
    ++item;
  }
  const auto payload = static_cast<std::uint32_t>(image.size() - HeaderSize);
  for (std::uint32_t k = 0; k < HeaderSize; ++k)
    image[k] = static_cast<std::uint8_t>(payload >> (8 * k));
  return image;
}
