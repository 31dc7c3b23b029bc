#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lzs/lzs.hpp"

namespace {

std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> out(9 * image.size() + 1, 0xCC);
  const std::uint32_t n = DecodeLzs(image.data(), static_cast<std::uint32_t>(image.size()), out.data());
  out.resize(n);
  return out;
}

TEST(DecodeLzs, WorkedExample) {
  const std::vector<std::uint8_t> image = {0x06, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3};
  const std::vector<std::uint8_t> expected = {'A', 'B', 'C', 'A', 'B', 'C', 'A', 'B', 'C'};
  EXPECT_EQ(Decode(image), expected);
}

}  // namespace
