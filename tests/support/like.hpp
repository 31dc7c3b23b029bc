// lzs_encode_like as the tests and bench/like_bench call it, and what its
// image keeps of the older one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzs.h"

namespace testdata {

struct Liked {
  std::vector<std::uint8_t> image;  // empty after an error
  unsigned long long reused = 0;
  unsigned long long items = 0;
};

inline Liked Like(const std::vector<std::uint8_t>& data, const std::vector<std::uint8_t>& orig) {
  Liked liked;
  liked.image.resize(lzs_encode_bound(data.size()) + 2);
  const size_t n = lzs_encode_like(liked.image.data(), liked.image.size(), data.data(), data.size(),
                                   orig.data(), orig.size(), &liked.reused, &liked.items);
  liked.image.resize(lzs_is_error(n) ? 0 : n);
  return liked;
}

// The share of orig's bytes from `first` on (0, or LZS_HEADER_SIZE to leave
// out the header, which gives the size) that stand unchanged in a common
// prefix and a common suffix of the two images.
inline double Kept(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& orig,
                   std::size_t first) {
  const std::size_t common = std::min(image.size(), orig.size());
  const auto prefix =
      static_cast<std::size_t>(std::mismatch(image.begin() + static_cast<long>(first),
                                             image.begin() + static_cast<long>(common),
                                             orig.begin() + static_cast<long>(first))
                                   .first -
                               image.begin());
  const auto suffix = static_cast<std::size_t>(
      std::mismatch(image.rbegin(), image.rbegin() + static_cast<long>(common - prefix),
                    orig.rbegin())
          .first -
      image.rbegin());
  return static_cast<double>(prefix - first + suffix) / static_cast<double>(orig.size() - first);
}

}  // namespace testdata
