// The choice of the fast decoder's path: what the processor offers (asked
// here through the compiler's own __builtin_cpu_supports, apart from the
// decoder's cpuid reading), the widest of it taken by default, and a forced
// path kept until the next is forced.
//
// LZS_SIMD=<path name> in the environment makes this test binary force that
// path before any test runs, so that every test that does not choose a path
// itself runs on it (CI runs the whole binary once with LZS_SIMD=scalar).

#include "lzs/decode_paths.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct PathRow {
  const char* name;
  lzs::DecodePath path;
  bool built;
  bool supported;  // by this processor
};

#if defined(__x86_64__)
constexpr bool X86 = true;
#else
constexpr bool X86 = false;
#endif

bool CpuHas(const char* feature) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (std::strcmp(feature, "ssse3") == 0) return __builtin_cpu_supports("ssse3") != 0;
  if (std::strcmp(feature, "avx2") == 0) return __builtin_cpu_supports("avx2") != 0;
#endif
  (void)feature;
  return false;
}

const PathRow Rows[] = {
    {"scalar", lzs::DecodePath::Scalar, true, true},
    {"ssse3", lzs::DecodePath::Ssse3, LZS_VECTOR_PATHS_BUILT&& X86, CpuHas("ssse3")},
    {"avx2", lzs::DecodePath::Avx2, LZS_VECTOR_PATHS_BUILT&& X86, CpuHas("avx2")},
    {"simd128", lzs::DecodePath::Simd128, false, false},  // WebAssembly only
};

// The path the decoder takes by itself, read before LZS_SIMD can force one.
const lzs::DecodePath ChosenByItself = lzs::CurrentDecodePath();

// Forces the path LZS_SIMD names, at start-up; an unknown or unavailable
// name ends the binary, since every test would then run on another path
// than the one asked for.
const bool ForcedFromEnvironment = [] {
  const char* wanted = std::getenv("LZS_SIMD");
  if (wanted == nullptr || *wanted == '\0') return false;
  for (const PathRow& row : Rows) {
    if (std::strcmp(wanted, row.name) == 0 && lzs::ForceDecodePath(row.path)) return true;
  }
  (void)std::fprintf(stderr, "LZS_SIMD=%s: no such path on this processor\n", wanted);
  std::exit(2);
}();

TEST(DecodePaths, NamesAndAvailability) {
  ASSERT_EQ(std::size(Rows), static_cast<std::size_t>(lzs::DecodePathCount));
  for (const PathRow& row : Rows) {
    EXPECT_STREQ(lzs::DecodePathName(row.path), row.name);
    EXPECT_EQ(lzs::DecodePathAvailable(row.path), row.built && row.supported) << row.name;
  }
}

TEST(DecodePaths, TheWidestAvailableByDefault) {
  lzs::DecodePath widest = lzs::DecodePath::Scalar;
  for (const PathRow& row : Rows) {
    if (row.built && row.supported) widest = row.path;
  }
  EXPECT_STREQ(lzs::DecodePathName(ChosenByItself), lzs::DecodePathName(widest));
}

TEST(DecodePaths, ForcingKeepsThePathOrRefuses) {
  const lzs::DecodePath before = lzs::CurrentDecodePath();
  for (const PathRow& row : Rows) {
    const lzs::DecodePath current = lzs::CurrentDecodePath();
    const bool available = row.built && row.supported;
    EXPECT_EQ(lzs::ForceDecodePath(row.path), available) << row.name;
    EXPECT_STREQ(lzs::DecodePathName(lzs::CurrentDecodePath()),
                 lzs::DecodePathName(available ? row.path : current))
        << row.name;
    EXPECT_EQ(lzs::CurrentFastLoop() == lzs::DecodeGroupsScalar,
              lzs::CurrentDecodePath() == lzs::DecodePath::Scalar)
        << row.name;
  }
  lzs::ForceDecodePath(before);
  if (ForcedFromEnvironment) {
    EXPECT_STREQ(lzs::DecodePathName(before), std::getenv("LZS_SIMD"));
  }
}

}  // namespace
