// Test data for the codec's tests: images built from payloads, and
// deterministic inputs to pack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lzs/format.hpp"

namespace testdata {

using Bytes = std::vector<std::uint8_t>;

// The payload behind a header that gives its length: a well-formed image.
inline Bytes WithHeader(const Bytes& payload) {
  const auto n = static_cast<std::uint32_t>(payload.size());
  Bytes image;
  for (std::uint32_t k = 0; k < lzs::HeaderSize; ++k)
    image.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
  image.insert(image.end(), payload.begin(), payload.end());
  return image;
}

// The worked example: a flag byte 07 (three literals, then a
// back-reference), the literals ABC, and EE F3: window position FEE, where
// the first literal went, for 3 + 3 bytes. It decodes to ABCABCABC.
inline const Bytes WorkedExample = {0x06, 0, 0, 0, 0x07, 'A', 'B', 'C', 0xEE, 0xF3};
inline const std::string WorkedExampleDecoded = "ABCABCABC";

// size bytes of text-like input: words drawn at random from a short list.
inline Bytes Words(std::size_t size, std::uint32_t seed) {
  static const char* const words[] = {"the ",    "LZS ",   "window ", "of ",    "and ",
                                      "packed ", "file, ", "a ",      "byte. ", "\n"};
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < size) {
    const char* word = words[random() % 10];
    out.insert(out.end(), word, word + std::char_traits<char>::length(word));
  }
  out.resize(size);
  return out;
}

}  // namespace testdata
