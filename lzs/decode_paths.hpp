// The decoder's fast loops, one per instruction set, and the choice among
// them: made once per process from what the processor offers, or forced by
// a test or a benchmark.
//
// Every build compiles the same sources with one set of flags: each vector
// loop names its instruction set in its own source file, which compiles to
// nothing where the set does not apply. The loops a build has:
//  - the portable loop, always;
//  - on x86-64, the SSSE3 and the AVX2 loop (the exe's small decoder the
//    AVX2 one alone), run only where cpuid finds the set;
//  - in WebAssembly built with SIMD128 (-msimd128), the SIMD128 loop;
// and the portable one alone when LZS_SCALAR_ONLY is defined.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(LZS_SCALAR_ONLY) && defined(__x86_64__)
#define LZS_AVX2_LOOP 1
#if !defined(LZS_SMALL_DECODER)
#define LZS_SSSE3_LOOP 1
#endif
#endif
#if !defined(LZS_SCALAR_ONLY) && defined(__wasm_simd128__)
#define LZS_SIMD128_LOOP 1
#endif

namespace lzs {

// Runs whole groups from `in` while at least FastInputMargin payload bytes
// remain before inEnd and the output index stays at most outLimit; the
// output index starts at i, at least WindowSize (no source lies before the
// output). Returns the new output index and leaves `in` at the next group.
using FastLoop = std::size_t (*)(const std::uint8_t*& in, const std::uint8_t* inEnd,
                                 std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);

enum class DecodePath : int {
  Scalar,   // the portable loop, one item after another
  Ssse3,    // a group's eight items unpacked together with one shuffle
  Avx2,     // the same, with one 32-byte move per item
  Simd128,  // the same in WebAssembly, with two 16-byte moves per item
};
inline constexpr int DecodePathCount = 4;

// "scalar", "ssse3", "avx2" or "simd128".
const char* DecodePathName(DecodePath path);
// Whether this build has the path and this processor can run it.
bool DecodePathAvailable(DecodePath path);
// The path decoding uses now: the widest available one, unless one was forced.
DecodePath CurrentDecodePath();
// Makes every later decode in this process take `path` (for tests and
// benchmarks); false, and nothing changed, when it is not available.
bool ForceDecodePath(DecodePath path);

// The loop of the current path.
FastLoop CurrentFastLoop();

// The loops themselves; the vector ones exist only in the builds named above.
std::size_t DecodeGroupsScalar(const std::uint8_t*& in, const std::uint8_t* inEnd,
                               std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);
std::size_t DecodeGroupsSsse3(const std::uint8_t*& in, const std::uint8_t* inEnd,
                              std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);
std::size_t DecodeGroupsAvx2(const std::uint8_t*& in, const std::uint8_t* inEnd,
                             std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);
std::size_t DecodeGroupsSimd128(const std::uint8_t*& in, const std::uint8_t* inEnd,
                                std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);

}  // namespace lzs

// A region of functions compiled for one instruction set, whatever the
// flags of the build: LZS_TARGET_BEGIN("avx2") ... LZS_TARGET_END, around
// code of internal linkage alone (an inline function of external linkage
// compiled there could stand in for the one other files call).
#define LZS_PRAGMA_TEXT(text) #text
#if defined(__clang__)
#define LZS_TARGET_BEGIN(isa) \
  _Pragma(LZS_PRAGMA_TEXT(clang attribute push(__attribute__((target(isa))), apply_to = function)))
#define LZS_TARGET_END _Pragma("clang attribute pop")
#else
#define LZS_TARGET_BEGIN(isa) _Pragma("GCC push_options") _Pragma(LZS_PRAGMA_TEXT(GCC target(isa)))
#define LZS_TARGET_END _Pragma("GCC pop_options")
#endif
