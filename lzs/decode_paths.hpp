// The decoder's fast loops, one per instruction set, and the choice among
// them: made once per process from what the processor offers, or forced by
// a test or a benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lzs {

// Runs whole groups from `in` while at least FastInputMargin payload bytes
// remain before inEnd and the output index stays at most outLimit; the
// output index starts at i, at least WindowSize (no source lies before the
// output). Returns the new output index and leaves `in` at the next group.
using FastLoop = std::size_t (*)(const std::uint8_t*& in, const std::uint8_t* inEnd,
                                 std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);

enum class DecodePath : int {
  Scalar,  // the portable loop, one item after another
  Ssse3,   // a group's eight items unpacked together with one shuffle
  Avx2,    // the same, with one 32-byte move per item
};
inline constexpr int DecodePathCount = 3;

// "scalar", "ssse3" or "avx2".
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

// The loops themselves; the vector ones exist only in builds for x86-64
// with LZS_SIMD on.
std::size_t DecodeGroupsScalar(const std::uint8_t*& in, const std::uint8_t* inEnd,
                               std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);
std::size_t DecodeGroupsSsse3(const std::uint8_t*& in, const std::uint8_t* inEnd,
                              std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);
std::size_t DecodeGroupsAvx2(const std::uint8_t*& in, const std::uint8_t* inEnd,
                             std::uint8_t* outputArea, std::size_t i, std::size_t outLimit);

}  // namespace lzs
