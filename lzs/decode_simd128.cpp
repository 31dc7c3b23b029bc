// The group decoder built for WebAssembly's SIMD128 (a module built with
// -msimd128 needs an engine that has it).

#include "lzs/decode_paths.hpp"

#ifdef LZS_WASM_PATHS

#include <wasm_simd128.h>

#include "lzs/decode_vector.hpp"

namespace lzs {

namespace {

struct Simd128 : PairedMoves {
  // One 16-byte move an item where it can: text decodes about two fifths
  // faster, binary data a little slower (for the branch that chooses it).
  static constexpr bool MovesInHalves = true;

  static ByteLanes Shuffle(ByteLanes bytes, ByteLanes indices) {
    return reinterpret_cast<ByteLanes>(
        wasm_i8x16_swizzle(reinterpret_cast<v128_t>(bytes), reinterpret_cast<v128_t>(indices)));
  }
  static std::uint32_t SignMask(ByteLanes bytes) {
    return wasm_i8x16_bitmask(reinterpret_cast<v128_t>(bytes));
  }

  // The sixteen addresses in 32-bit lanes: a source is its offset widened,
  // plus `out`, plus (for a literal) the distance from `out` to `items`; an
  // output is its offset plus `out`. They are read back from memory, one
  // load each, rather than taken out of the vector registers.
  struct Moves {
    Moves(ItemLanes fromLanes, ItemLanes literalLanes, const std::uint8_t* items, std::uint8_t* out,
          ItemLanes outStartLanes) {
      const auto from = reinterpret_cast<v128_t>(fromLanes);
      const auto literal16 = reinterpret_cast<v128_t>(literalLanes);
      const auto outStart = reinterpret_cast<v128_t>(outStartLanes);
      const v128_t base =
          wasm_i32x4_splat(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(out)));
      const v128_t toItems = wasm_i32x4_splat(static_cast<std::int32_t>(items - out));
      wasm_v128_store(
          sources, wasm_i32x4_add(wasm_i32x4_add(base, wasm_i32x4_extend_low_i16x8(from)),
                                  wasm_v128_and(wasm_i32x4_extend_low_i16x8(literal16), toItems)));
      wasm_v128_store(
          sources + 4,
          wasm_i32x4_add(wasm_i32x4_add(base, wasm_i32x4_extend_high_i16x8(from)),
                         wasm_v128_and(wasm_i32x4_extend_high_i16x8(literal16), toItems)));
      wasm_v128_store(outputs, wasm_i32x4_add(base, wasm_u32x4_extend_low_u16x8(outStart)));
      wasm_v128_store(outputs + 4, wasm_i32x4_add(base, wasm_u32x4_extend_high_u16x8(outStart)));
      __asm__("" : : "r"(this) : "memory");
    }
    const std::uint8_t* From(int item, std::uint32_t /*flags*/) const { return sources[item]; }
    std::uint8_t* To(int item) const { return outputs[item]; }
    alignas(16) const std::uint8_t* sources[8];
    alignas(16) std::uint8_t* outputs[8];
  };
};

}  // namespace

FastLoop Simd128Loop() { return DecodeGroupsWith<VectorGroup<Simd128>>; }

}  // namespace lzs

#endif
