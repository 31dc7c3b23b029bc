// The table of decode paths, and the choice among them.

#include "lzs/decode_paths.hpp"

#include "lzs/cpu.hpp"

namespace lzs {

// Each path's loop, from its own source file where this build has it. A
// loop compiled for an instruction set is asked for only where the
// processor has that set.
FastLoop ScalarLoop();
FastLoop Ssse3Loop();
FastLoop Avx2Loop();
FastLoop Avx512Loop();
FastLoop Simd128Loop();
FastLoop NeonLoop();

namespace {

constexpr DecodePathRow Paths[] = {
    // name     loop         needs                  priority
    {"scalar", ScalarLoop, 0, 0},
#ifdef LZS_AVX2_PATH
    {"avx2", Avx2Loop, CpuAvx2, 20},
#endif
#ifdef LZS_X86_PATHS
    {"ssse3", Ssse3Loop, CpuSsse3, 10},
    {"avx512", Avx512Loop, CpuAvx2 | CpuBmi2 | CpuAvx512F | CpuAvx512Bw | CpuAvx512Vl, 25},
#endif
#ifdef LZS_WASM_PATHS
    {"simd128", Simd128Loop, 0, 30},  // the module would not load without it
#endif
#ifdef LZS_ARM64_PATHS
    {"neon", NeonLoop, 0, 40},  // every arm64 processor has Advanced SIMD
#endif
};
constexpr int PathCount = sizeof Paths / sizeof Paths[0];

// The path decoding takes; -1 until the first decode (or a forced path)
// sets it. Threads that race to set it all store the same number.
int currentPath = -1;

}  // namespace

const DecodePathRow& DecodePathAt(int path) { return Paths[path]; }
int DecodePathCount() { return PathCount; }

const char* DecodePathName(int path) {
  return path >= 0 && path < PathCount ? Paths[path].name : "unknown";
}

int FindDecodePath(const char* name) {
  for (int path = 0; path < PathCount; ++path) {
    const char* a = Paths[path].name;
    const char* b = name;
    while (*a != '\0' && *a == *b) ++a, ++b;
    if (*a == *b) return path;
  }
  return -1;
}

bool DecodePathAvailable(int path) {
  if (path < 0 || path >= PathCount) return false;
  return (ReadCpuFeatures() & Paths[path].needs) == Paths[path].needs;
}

int CurrentDecodePath() {
  int path = __atomic_load_n(&currentPath, __ATOMIC_RELAXED);
  if (path < 0) {
    path = 0;
    for (int other = 1; other < PathCount; ++other) {
      if (Paths[other].priority > Paths[path].priority && DecodePathAvailable(other)) path = other;
    }
    __atomic_store_n(&currentPath, path, __ATOMIC_RELAXED);
  }
  return path;
}

bool ForceDecodePath(int path) {
  if (!DecodePathAvailable(path)) return false;
  __atomic_store_n(&currentPath, path, __ATOMIC_RELAXED);
  return true;
}

FastLoop CurrentFastLoop() { return Paths[CurrentDecodePath()].loop(); }

}  // namespace lzs
