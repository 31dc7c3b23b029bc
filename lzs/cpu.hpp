// What the processor offers the decoder, read with cpuid (and xgetbv, for
// whether the system saves the vector registers). Needs no C runtime.
#pragma once

namespace lzs {

// The instruction-set extensions a decode path may need, one bit each. A
// vector extension counts only where the system also saves its registers.
enum CpuFeature : unsigned {
  CpuSsse3 = 1u << 0,
  CpuSse41 = 1u << 1,
  CpuPopcnt = 1u << 2,
  CpuBmi1 = 1u << 3,
  CpuBmi2 = 1u << 4,
  CpuAvx2 = 1u << 5,
  CpuAvx512F = 1u << 6,
  CpuAvx512Bw = 1u << 7,
  CpuAvx512Vl = 1u << 8,
  CpuAvx512Vbmi = 1u << 9,
  CpuAvx512Vbmi2 = 1u << 10,
};
inline constexpr int CpuFeatureCount = 11;

// The features of this processor, CpuFeature bits; none on processors other
// than x86-64.
unsigned ReadCpuFeatures();

}  // namespace lzs
