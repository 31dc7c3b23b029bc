// The group decoder built for arm64's Advanced SIMD (NEON), which every
// arm64 processor has: no target region and no feature to ask for.

#include "lzs/decode_paths.hpp"

#ifdef LZS_ARM64_PATHS

#include <arm_neon.h>

#include "lzs/decode_vector.hpp"

namespace lzs {

namespace {

struct Neon : PairedMoves {
  // One 16-byte move an item where it can, as on SSSE3.
  static constexpr bool MovesInHalves = true;

  static ByteLanes Shuffle(ByteLanes bytes, ByteLanes indices) {
    return reinterpret_cast<ByteLanes>(
        vqtbl1q_u8(reinterpret_cast<uint8x16_t>(bytes), reinterpret_cast<uint8x16_t>(indices)));
  }
  // NEON has no byte sign mask: each byte's top bit is shifted down to bit
  // 0, then up to its place within its half (bit k of byte k, counting in
  // each half of eight bytes), and each half is summed across.
  static std::uint32_t SignMask(ByteLanes bytes) {
    static constexpr std::int8_t Places[16] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7};
    const uint8x16_t bits =
        vshlq_u8(vshrq_n_u8(reinterpret_cast<uint8x16_t>(bytes), 7), vld1q_s8(Places));
    return static_cast<std::uint32_t>(vaddv_u8(vget_low_u8(bits))) |
           static_cast<std::uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8;
  }
};

}  // namespace

FastLoop NeonLoop() { return DecodeGroupsWith<VectorGroup<Neon>>; }

}  // namespace lzs

#endif
