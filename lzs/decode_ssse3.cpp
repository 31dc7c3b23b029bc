// The group decoder built for SSSE3 (compiled with -mssse3).

#include <immintrin.h>

#include "lzs/decode_paths.hpp"
#include "lzs/decode_vector.hpp"

namespace lzs {

namespace {

struct Ssse3 {
  // Two 16-byte moves, both loaded before either is stored.
  static void MoveWide(std::uint8_t* to, const std::uint8_t* from) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), high);
  }

  // The offsets as they are; each address is taken from its base when the
  // item is moved.
  struct Moves {
    Moves(__m128i from, __m128i /*literal16*/, const std::uint8_t* itemsBase, std::uint8_t* outBase,
          __m128i outStart)
        : items(itemsBase), out(outBase) {
      _mm_store_si128(reinterpret_cast<__m128i*>(sourceOffsets), from);
      _mm_store_si128(reinterpret_cast<__m128i*>(outOffsets), outStart);
    }
    const std::uint8_t* From(int item, std::uint32_t flags) const {
      return ((flags >> item & 1) != 0 ? items : out) + sourceOffsets[item];
    }
    std::uint8_t* To(int item) const { return out + outOffsets[item]; }
    alignas(16) std::int16_t sourceOffsets[8];
    alignas(16) std::uint16_t outOffsets[8];
    const std::uint8_t* items;
    std::uint8_t* out;
  };
};

}  // namespace

std::size_t DecodeGroupsSsse3(const std::uint8_t*& in, const std::uint8_t* inEnd,
                              std::uint8_t* outputArea, std::size_t i, std::size_t outLimit) {
  return DecodeGroupsVector<Ssse3>(in, inEnd, outputArea, i, outLimit);
}

}  // namespace lzs
