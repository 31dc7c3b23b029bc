// The table of the fast decoder's paths and the choice among them: what the
// processor offers (asked here through the compiler's own
// __builtin_cpu_supports, apart from the decoder's cpuid reading), the
// available path of highest priority taken by default, and a forced path
// kept until the next is forced.
//
// LZS_SIMD=<path name> in the environment makes this test binary force that
// path before any test runs, so that every test that does not choose a path
// itself runs on it (CI runs the whole binary once with LZS_SIMD=scalar).

#include "lzs/decode_paths.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lzs/cpu.hpp"

namespace {

#if defined(__x86_64__)
constexpr bool X86 = true;
#else
constexpr bool X86 = false;
#endif
#if defined(__aarch64__)
constexpr bool Arm64 = true;
#else
constexpr bool Arm64 = false;
#endif

// Each feature as the compiler's runtime sees it.
struct FeatureRow {
  unsigned feature;
  bool present;
};

std::vector<FeatureRow> CompilerFeatures() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return {
      {lzs::CpuSsse3, __builtin_cpu_supports("ssse3") != 0},
      {lzs::CpuSse41, __builtin_cpu_supports("sse4.1") != 0},
      {lzs::CpuPopcnt, __builtin_cpu_supports("popcnt") != 0},
      {lzs::CpuBmi1, __builtin_cpu_supports("bmi") != 0},
      {lzs::CpuBmi2, __builtin_cpu_supports("bmi2") != 0},
      {lzs::CpuAvx2, __builtin_cpu_supports("avx2") != 0},
      {lzs::CpuAvx512F, __builtin_cpu_supports("avx512f") != 0},
      {lzs::CpuAvx512Bw, __builtin_cpu_supports("avx512bw") != 0},
      {lzs::CpuAvx512Vl, __builtin_cpu_supports("avx512vl") != 0},
      {lzs::CpuAvx512Vbmi, __builtin_cpu_supports("avx512vbmi") != 0},
      {lzs::CpuAvx512Vbmi2, __builtin_cpu_supports("avx512vbmi2") != 0},
  };
#else
  return {};
#endif
}

// The features of this processor by the compiler's reading.
unsigned ExpectedFeatures() {
  unsigned features = 0;
  for (const FeatureRow& row : CompilerFeatures()) {
    if (row.present) features |= row.feature;
  }
  return features;
}

// The paths this build has, in the table's order: the portable loop
// always; the x86 loops where the vector loops are built for x86-64; the
// NEON loop where they are built for arm64.
std::vector<std::string> ExpectedPaths() {
  std::vector<std::string> paths = {"scalar"};
  if (LZS_VECTOR_PATHS_BUILT && X86) paths.insert(paths.end(), {"avx2", "ssse3", "avx512"});
  if (LZS_VECTOR_PATHS_BUILT && Arm64) paths.emplace_back("neon");
  return paths;
}

bool ExpectAvailable(int path) {
  const unsigned needs = lzs::DecodePathAt(path).needs;
  return (ExpectedFeatures() & needs) == needs;
}

// The path the decoder takes by itself, read before LZS_SIMD can force one.
const int ChosenByItself = lzs::CurrentDecodePath();

// Forces the path LZS_SIMD names, at start-up; an unknown or unavailable
// name ends the binary, since every test would then run on another path
// than the one asked for.
const bool ForcedFromEnvironment = [] {
  const char* wanted = std::getenv("LZS_SIMD");
  if (wanted == nullptr || *wanted == '\0') return false;
  if (lzs::ForceDecodePath(lzs::FindDecodePath(wanted))) return true;
  (void)std::fprintf(stderr, "LZS_SIMD=%s: no such path on this processor\n", wanted);
  std::exit(2);
}();

TEST(DecodePaths, FeaturesAsTheCompilerSeesThem) {
  const unsigned features = lzs::ReadCpuFeatures();
  ASSERT_EQ(CompilerFeatures().size(), X86 ? std::size_t{lzs::CpuFeatureCount} : 0);
  for (const FeatureRow& row : CompilerFeatures()) {
    EXPECT_EQ((features & row.feature) != 0, row.present) << "feature bit " << row.feature;
  }
}

TEST(DecodePaths, NamesAndAvailability) {
  std::vector<std::string> names(static_cast<size_t>(lzs::DecodePathCount()));
  for (size_t path = 0; path < names.size(); ++path) {
    names[path] = lzs::DecodePathName(static_cast<int>(path));
  }
  EXPECT_EQ(names, ExpectedPaths());
  EXPECT_EQ(lzs::DecodePathAt(0).needs, 0u);
  for (int path = 0; path < lzs::DecodePathCount(); ++path) {
    const char* name = lzs::DecodePathName(path);
    EXPECT_EQ(lzs::FindDecodePath(name), path) << name;
    EXPECT_EQ(lzs::DecodePathAvailable(path), ExpectAvailable(path)) << name;
    for (int other = 0; other < path; ++other) {
      EXPECT_NE(lzs::DecodePathAt(other).priority, lzs::DecodePathAt(path).priority) << name;
    }
  }
  for (const char* unknown : {"", "avx", "scalar ", "AVX2", "unknown", "simd128"})
    EXPECT_EQ(lzs::FindDecodePath(unknown), -1) << unknown;
  EXPECT_FALSE(lzs::DecodePathAvailable(-1));
  EXPECT_FALSE(lzs::DecodePathAvailable(lzs::DecodePathCount()));
}

TEST(DecodePaths, TheAvailablePathOfHighestPriorityByDefault) {
  int best = 0;
  for (int path = 0; path < lzs::DecodePathCount(); ++path) {
    if (ExpectAvailable(path) &&
        lzs::DecodePathAt(path).priority > lzs::DecodePathAt(best).priority)
      best = path;
  }
  EXPECT_STREQ(lzs::DecodePathName(ChosenByItself), lzs::DecodePathName(best));
}

TEST(DecodePaths, ForcingKeepsThePathOrRefuses) {
  const int before = lzs::CurrentDecodePath();
  for (int path = -1; path <= lzs::DecodePathCount(); ++path) {
    const int current = lzs::CurrentDecodePath();
    const bool available = path >= 0 && path < lzs::DecodePathCount() && ExpectAvailable(path);
    EXPECT_EQ(lzs::ForceDecodePath(path), available) << path;
    EXPECT_EQ(lzs::CurrentDecodePath(), available ? path : current) << path;
    EXPECT_EQ(lzs::CurrentFastLoop(), lzs::DecodePathAt(lzs::CurrentDecodePath()).loop()) << path;
  }
  lzs::ForceDecodePath(before);
  if (ForcedFromEnvironment) {
    EXPECT_STREQ(lzs::DecodePathName(before), std::getenv("LZS_SIMD"));
  }
}

}  // namespace
