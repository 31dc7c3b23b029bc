// The decoder's fast loops, one per instruction set, and the choice among
// them: made once per process from what the processor offers, or forced by
// a test or a benchmark.
//
// Each path is a row of one table (decode_paths.cpp): its name, its loop,
// the processor features it needs and its priority; decoding takes the
// available path of highest priority. A path's loop lives in a source file
// of its own, which names its instruction set in the source (so every build
// compiles the same files with one set of flags); the conditions below say
// which builds have it, and the table has a row for each path the build
// has. Adding a path for one of these processors is that file, its line in
// lzs/sources.txt and its row.
#pragma once

#include <cstddef>
#include <cstdint>

// The vector paths, by processor: x86-64, arm64 and WebAssembly, unless
// LZS_SCALAR_ONLY asks for the portable loop alone. The exe's small decoder
// takes the AVX2 path alone of the x86 ones (LZS_AVX2_PATH); every other
// build has them all (LZS_X86_PATHS).
#if !defined(LZS_SCALAR_ONLY) && defined(__x86_64__)
#define LZS_AVX2_PATH
#if !defined(LZS_SMALL_DECODER)
#define LZS_X86_PATHS
#endif
#endif
#if !defined(LZS_SCALAR_ONLY) && defined(__aarch64__) && defined(__ARM_NEON) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define LZS_ARM64_PATHS
#endif
#if !defined(LZS_SCALAR_ONLY) && defined(__wasm_simd128__)
#define LZS_WASM_PATHS
#endif

namespace lzs {

// Runs whole groups from `in` while at least FastInputMargin payload bytes
// remain before inEnd and the output index stays at most outLimit; the
// output index starts at i, at least WindowSize (no source lies before the
// output). Returns the new output index and leaves `in` at the next group.
using FastLoop = std::size_t (*)(const std::uint8_t*& in, const std::uint8_t* inEnd,
                                 std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);

// One decode path.
struct DecodePathRow {
  const char* name;
  FastLoop (*loop)();  // the loop; compiled for the path's instruction set
  unsigned needs;      // CpuFeature bits the processor must have
  int priority;        // the available path of highest priority is taken
};

// The table of the paths this build has: they are numbered by their place
// in it, 0 to DecodePathCount() - 1 (path 0 is the portable loop, always
// available).
const DecodePathRow& DecodePathAt(int path);
int DecodePathCount();

const char* DecodePathName(int path);
// The path of that name, or -1.
int FindDecodePath(const char* name);
// Whether the path is in the table and this processor can run it.
bool DecodePathAvailable(int path);
// The path decoding uses now: the available one of highest priority, unless
// one was forced.
int CurrentDecodePath();
// Makes every later decode in this process take `path` (for tests and
// benchmarks); false, and nothing changed, when it is not available.
bool ForceDecodePath(int path);

// The loop of the current path.
FastLoop CurrentFastLoop();

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
