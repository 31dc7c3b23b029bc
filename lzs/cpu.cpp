// cpuid and xgetbv, through the compiler's <cpuid.h> and one instruction of
// inline assembly: nothing of a C runtime.

#include "lzs/cpu.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace lzs {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// cpuid leaf 1, ecx.
constexpr unsigned Ssse3Bit = 1u << 9;
constexpr unsigned OsxsaveBit = 1u << 27;
constexpr unsigned AvxBit = 1u << 28;
// cpuid leaf 7 sub-leaf 0, ebx.
constexpr unsigned Avx2Bit = 1u << 5;
// XCR0: the system saves the SSE (bit 1) and the AVX (bit 2) registers.
constexpr unsigned long long XmmYmmState = 0x6;

unsigned long long ReadXcr0() {
  unsigned low = 0;
  unsigned high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return static_cast<unsigned long long>(high) << 32 | low;
}

}  // namespace

CpuFeatures ReadCpuFeatures() {
  CpuFeatures features;
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return features;
  features.ssse3 = (ecx & Ssse3Bit) != 0;
  const bool avxSaved =
      (ecx & OsxsaveBit) != 0 && (ecx & AvxBit) != 0 && (ReadXcr0() & XmmYmmState) == XmmYmmState;
  if (avxSaved && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0)
    features.avx2 = (ebx & Avx2Bit) != 0;
  return features;
}

#else

CpuFeatures ReadCpuFeatures() { return {}; }

#endif

}  // namespace lzs
