// What the processor offers the decoder, read with cpuid (and xgetbv, for
// whether the system saves the AVX registers). Needs no C runtime.
#pragma once

namespace lzs {

struct CpuFeatures {
  bool ssse3 = false;
  bool avx2 = false;  // and the system saves the 256-bit registers
};

// All false on processors other than x86-64.
CpuFeatures ReadCpuFeatures();

}  // namespace lzs
