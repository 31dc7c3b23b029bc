// The group decoder built for SSSE3, whatever the build's flags; run only
// where cpuid finds SSSE3.

#include "lzs/decode_paths.hpp"

#ifdef LZS_X86_PATHS

#include <immintrin.h>

LZS_TARGET_BEGIN("ssse3")

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

}  // namespace

FastLoop Ssse3Loop() { return DecodeGroupsWith<VectorGroup<Ssse3>>; }

}  // namespace lzs

LZS_TARGET_END

#endif
