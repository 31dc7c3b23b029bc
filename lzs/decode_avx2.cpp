// The group decoder built for AVX2, whatever the build's flags; run only
// where cpuid finds AVX2 and the system saves its registers.

#include "lzs/decode_paths.hpp"

#ifdef LZS_AVX2_PATH

#include <immintrin.h>

LZS_TARGET_BEGIN("avx2")

#include "lzs/decode_vector.hpp"

namespace lzs {

namespace {

struct Avx2 {
  static ByteLanes Shuffle(ByteLanes bytes, ByteLanes indices) {
    return reinterpret_cast<ByteLanes>(
        _mm_shuffle_epi8(reinterpret_cast<__m128i>(bytes), reinterpret_cast<__m128i>(indices)));
  }
  static std::uint32_t SignMask(ByteLanes bytes) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(bytes)));
  }

  // One 32-byte load and store.
  // Moving 16 bytes an item where it can gains a little on text and loses
  // more on binary data: the 32-byte move costs no more than a 16-byte one.
  static constexpr bool MovesInHalves = false;
  static void MoveWide(std::uint8_t* to, const std::uint8_t* from) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
  }

  // The sixteen addresses in 64-bit lanes: a source is its offset widened,
  // plus `out`, plus (for a literal) the distance from `out` to `items`; an
  // output is its offset plus `out`. They are read back from memory, one
  // load each, rather than taken out of the vector registers. (The
  // constructor fills both arrays with vector stores, which cppcheck does not
  // follow.)
  struct Moves {
    // cppcheck-suppress uninitMemberVar
    Moves(ItemLanes fromLanes, ItemLanes literalLanes, const std::uint8_t* items, std::uint8_t* out,
          ItemLanes outStartLanes) {
      const auto from = reinterpret_cast<__m128i>(fromLanes);
      const auto literal16 = reinterpret_cast<__m128i>(literalLanes);
      const auto outStart = reinterpret_cast<__m128i>(outStartLanes);
      const __m256i base = _mm256_set1_epi64x(reinterpret_cast<long long>(out));
      const __m256i toItems =
          _mm256_set1_epi64x(reinterpret_cast<long long>(items) - reinterpret_cast<long long>(out));
      const __m256i lowLiteral = _mm256_cvtepi16_epi64(literal16);
      const __m256i highLiteral = _mm256_cvtepi16_epi64(_mm_unpackhi_epi64(literal16, literal16));
      const __m256i lowFrom =
          _mm256_add_epi64(_mm256_cvtepi16_epi64(from), _mm256_and_si256(lowLiteral, toItems));
      const __m256i highFrom =
          _mm256_add_epi64(_mm256_cvtepi16_epi64(_mm_unpackhi_epi64(from, from)),
                           _mm256_and_si256(highLiteral, toItems));
      Store(sources, _mm256_add_epi64(base, lowFrom));
      Store(sources + 4, _mm256_add_epi64(base, highFrom));
      Store(outputs, _mm256_add_epi64(base, _mm256_cvtepu16_epi64(outStart)));
      Store(outputs + 4,
            _mm256_add_epi64(base, _mm256_cvtepu16_epi64(_mm_unpackhi_epi64(outStart, outStart))));
      __asm__("" : : "r"(this) : "memory");
    }
    static void Store(void* to, __m256i lanes) {
      _mm256_store_si256(static_cast<__m256i*>(to), lanes);
    }
    const std::uint8_t* From(int item, std::uint32_t /*flags*/) const { return sources[item]; }
    std::uint8_t* To(int item) const { return outputs[item]; }
    alignas(32) const std::uint8_t* sources[8];
    alignas(32) std::uint8_t* outputs[8];
  };
};

}  // namespace

FastLoop Avx2Loop() { return DecodeGroupsWith<VectorGroup<Avx2>>; }

}  // namespace lzs

LZS_TARGET_END

#endif
