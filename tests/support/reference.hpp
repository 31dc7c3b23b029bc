// The plain, byte-by-byte decoder that reads like the format description.
// Kept beside the fast DecodeLzs as the reference that tests, fuzzers and
// benchmarks compare it with; same contract, same results.
#pragma once

#include <cstdint>
#include <vector>

std::uint32_t DecodeLzsReference(const std::uint8_t* image, std::uint32_t imageLength,
                                 std::uint8_t* outputArea);

// What the reference decoder makes of a whole image: empty when it refuses
// it or it yields no byte.
inline std::vector<std::uint8_t> ReferenceDecoded(const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> out(9 * image.size() + 1);
  out.resize(
      DecodeLzsReference(image.data(), static_cast<std::uint32_t>(image.size()), out.data()));
  return out;
}
