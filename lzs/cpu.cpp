// cpuid and xgetbv, through the compiler's <cpuid.h> and one instruction of
// inline assembly: nothing of a C runtime.

#include "lzs/cpu.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace lzs {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Where cpuid tells each feature, in the order of the CpuFeature bits: the
// register (0 to 3: eax, ebx, ecx, edx) times 32 plus the bit, in leaf 1
// for the first three features and in leaf 7 (sub-leaf 0) for the others.
constexpr unsigned char Ebx = 1 * 32;
constexpr unsigned char Ecx = 2 * 32;
constexpr unsigned char CpuidBits[CpuFeatureCount] = {
    Ecx + 9,  Ecx + 19, Ecx + 23,                    // SSSE3, SSE4.1, POPCNT
    Ebx + 3,  Ebx + 8,  Ebx + 5,                     // BMI1, BMI2, AVX2
    Ebx + 16, Ebx + 30, Ebx + 31, Ecx + 1, Ecx + 6,  // AVX-512 F, BW, VL, VBMI, VBMI2
};
constexpr int Leaf1Features = 3;
static_assert(CpuSse41 == 1u << 1 && CpuBmi1 == 1u << Leaf1Features &&
              CpuAvx512Vbmi2 == 1u << (CpuFeatureCount - 1));
// Leaf 1, ecx: the system uses xsave (and xgetbv can be asked), AVX.
constexpr unsigned OsxsaveBit = 1u << 27;
constexpr unsigned AvxBit = 1u << 28;
// XCR0: the system saves the SSE and AVX registers (bits 1, 2), and also
// AVX-512's mask registers and the upper halves and upper sixteen of its
// 512-bit registers (bits 5, 6, 7).
constexpr unsigned long long YmmState = 0x6;
constexpr unsigned long long ZmmState = 0xE6;
constexpr unsigned AvxFeatures =
    CpuAvx2 | CpuAvx512F | CpuAvx512Bw | CpuAvx512Vl | CpuAvx512Vbmi | CpuAvx512Vbmi2;
constexpr unsigned Avx512Features =
    CpuAvx512F | CpuAvx512Bw | CpuAvx512Vl | CpuAvx512Vbmi | CpuAvx512Vbmi2;

unsigned long long ReadXcr0() {
  unsigned low = 0;
  unsigned high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return static_cast<unsigned long long>(high) << 32 | low;
}

// The features k from `first` to `last` - 1 whose bit cpuid gave in regs.
unsigned Collect(const unsigned (&regs)[4], int first, int last) {
  unsigned features = 0;
  for (int k = first; k < last; ++k)
    features |= (regs[CpuidBits[k] / 32] >> CpuidBits[k] % 32 & 1) << k;
  return features;
}

}  // namespace

unsigned ReadCpuFeatures() {
  unsigned regs[4] = {};
  if (__get_cpuid(1, &regs[0], &regs[1], &regs[2], &regs[3]) == 0) return 0;
  unsigned features = Collect(regs, 0, Leaf1Features);
  const unsigned long long saved =
      (regs[2] & OsxsaveBit) != 0 && (regs[2] & AvxBit) != 0 ? ReadXcr0() : 0;
  if (__get_cpuid_count(7, 0, &regs[0], &regs[1], &regs[2], &regs[3]) != 0)
    features |= Collect(regs, Leaf1Features, CpuFeatureCount);
  if ((saved & YmmState) != YmmState) features &= ~AvxFeatures;
  if ((saved & ZmmState) != ZmmState) features &= ~Avx512Features;
  return features;
}

#else

unsigned ReadCpuFeatures() { return 0; }

#endif

}  // namespace lzs
