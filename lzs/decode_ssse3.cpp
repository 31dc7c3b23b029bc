// The group decoder built for SSSE3, whatever the build's flags; run only
// where cpuid finds SSSE3.

#include "lzs/decode_paths.hpp"

#if LZS_X86_LOOPS && !defined(LZS_SMALL_DECODER)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "lzs/format.hpp"

LZS_TARGET_BEGIN("ssse3")

#include "lzs/decode_groups.hpp"
#include "lzs/decode_vector.hpp"

namespace lzs {

namespace {

struct Ssse3 : PairedMoves {
  // One 16-byte move an item where it can: a third faster on text, a
  // twentieth slower on binary data (for the branch that chooses it).
  static constexpr bool MovesInHalves = true;

  static ByteLanes Shuffle(ByteLanes bytes, ByteLanes indices) {
    return reinterpret_cast<ByteLanes>(
        _mm_shuffle_epi8(reinterpret_cast<__m128i>(bytes), reinterpret_cast<__m128i>(indices)));
  }
  static std::uint32_t SignMask(ByteLanes bytes) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(bytes)));
  }
};

std::size_t DecodeGroupsSsse3(const std::uint8_t*& in, const std::uint8_t* inEnd,
                              std::uint8_t* outputArea, std::size_t i, std::size_t outLimit) {
  VectorGroup<Ssse3> group;
  return RunGroups(group, in, inEnd, outputArea, i, outLimit);
}

}  // namespace
}  // namespace lzs

LZS_TARGET_END

namespace lzs {
FastLoop Ssse3Loop() { return DecodeGroupsSsse3; }
}  // namespace lzs

#else

namespace lzs {
FastLoop Ssse3Loop() { return nullptr; }
}  // namespace lzs

#endif
