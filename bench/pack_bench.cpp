// Packing speed of EncodeLzs (and of the greedy and fast parses, for comparison) on
// 8 MiB inputs: the corpus files that make-corpus wrote into the build folder
// (or into the folder that LZS_CORPUS_DIR names), and degenerate inputs made here (all zeros, a
// repeated short pattern, random bytes, a counter). Bytes/s is input bytes packed per second;
// workspace_per_byte is the encoder's working memory per input byte.
// BM_Level packs through liblzs's lzs_encode_with at each level;
// vs_optimal is its image size over the optimal level's. BM_FastLimits packs
// with the fast parse under other search limits (depth, lookahead below,
// lookahead depth), to show what its speed costs in image size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lzs.h"
#include "lzs/encode.hpp"

namespace {

constexpr std::size_t InputSize = 8u << 20;

std::vector<std::uint8_t> ReadCorpusFile(const char* name) {
  const char* dir = std::getenv("LZS_CORPUS_DIR");
  if (dir == nullptr) dir = LZS_DEFAULT_CORPUS_DIR;
  std::vector<std::uint8_t> data;
  std::FILE* file = std::fopen((std::string(dir) + "/" + name).c_str(), "rb");
  if (file == nullptr) return data;
  data.resize(InputSize);
  data.resize(std::fread(data.data(), 1, data.size(), file));
  std::fclose(file);
  return data;
}

enum class Input { Text, Binary, Zeros, Pattern, Random, Counter };

std::vector<std::uint8_t> MakeInput(Input kind) {
  if (kind == Input::Text) return ReadCorpusFile("text.bin");
  if (kind == Input::Binary) return ReadCorpusFile("binary.bin");
  std::vector<std::uint8_t> data(InputSize, 0);
  if (kind == Input::Pattern) {
    const char pattern[] = "abcab";
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<std::uint8_t>(pattern[i % 5]);
  } else if (kind == Input::Counter) {
    // 32-bit little-endian counter: many short matches, few long ones.
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<std::uint8_t>((i / 4) >> (8 * (i % 4)));
  } else if (kind == Input::Random) {
    std::uint64_t state = 12345;
    for (auto& byte : data) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      byte = static_cast<std::uint8_t>(state >> 56);
    }
  }
  return data;
}

// Each input is made once.
const std::vector<std::uint8_t>& TheInput(Input kind) {
  static std::vector<std::uint8_t> inputs[6];
  std::vector<std::uint8_t>& data = inputs[static_cast<int>(kind)];
  if (data.empty()) data = MakeInput(kind);
  return data;
}

// Argument 0: optimal parse, 1: greedy parse, 2: fast parse.
void BM_Pack(benchmark::State& state, Input kind) {
  const std::vector<std::uint8_t>& data = TheInput(kind);
  const auto parse = static_cast<lzs::Parse>(state.range(0));
  if (data.empty()) {
    state.SkipWithError("no corpus file (build the corpus target, or set LZS_CORPUS_DIR)");
    return;
  }
  lzs::LzsEncoder encoder;
  std::size_t imageSize = 0;
  for (auto _ : state) {
    const std::vector<std::uint8_t> image = encoder.Encode(data.data(), data.size(), parse);
    imageSize = image.size();
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["image_bytes"] = static_cast<double>(imageSize);
  state.counters["workspace_per_byte"] =
      static_cast<double>(encoder.WorkspaceBytes()) / static_cast<double>(data.size());
}

// The optimal image size of each input, found once.
std::size_t OptimalSize(Input kind) {
  static std::size_t sizes[6];
  std::size_t& size = sizes[static_cast<int>(kind)];
  const std::vector<std::uint8_t>& data = TheInput(kind);
  if (size == 0)
    size = lzs::LzsEncoder().Encode(data.data(), data.size(), lzs::Parse::Optimal).size();
  return size;
}

// Argument: the level (LZS_LEVEL_OPTIMAL, LZS_LEVEL_FAST).
void BM_Level(benchmark::State& state, Input kind) {
  const std::vector<std::uint8_t>& data = TheInput(kind);
  if (data.empty()) {
    state.SkipWithError("no corpus file (build the corpus target, or set LZS_CORPUS_DIR)");
    return;
  }
  std::vector<std::uint8_t> image(lzs_encode_bound(data.size()));
  lzs_encoder* encoder = lzs_encoder_create();
  size_t n = 0;
  for (auto _ : state) {
    n = lzs_encode_with(encoder, image.data(), image.size(), data.data(), data.size(),
                        static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(image.data());
  }
  lzs_encoder_free(encoder);
  if (lzs_is_error(n)) {
    state.SkipWithError(lzs_error_name(n));
    return;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["image_bytes"] = static_cast<double>(n);
  state.counters["vs_optimal"] = static_cast<double>(n) / static_cast<double>(OptimalSize(kind));
}

// Arguments: depth, lookahead below, lookahead depth.
void BM_FastLimits(benchmark::State& state, Input kind) {
  const std::vector<std::uint8_t>& data = TheInput(kind);
  if (data.empty()) {
    state.SkipWithError("no corpus file (build the corpus target, or set LZS_CORPUS_DIR)");
    return;
  }
  lzs::LzsEncoder encoder;
  encoder.SetFastLimits({static_cast<int>(state.range(0)),
                         static_cast<std::uint32_t>(state.range(1)),
                         static_cast<int>(state.range(2))});
  std::vector<std::uint8_t> image(lzs_encode_bound(data.size()));
  std::size_t n = 0;
  for (auto _ : state) {
    n = encoder.Encode(data.data(), data.size(), lzs::Parse::Fast, image.data(), image.size());
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["vs_optimal"] = static_cast<double>(n) / static_cast<double>(OptimalSize(kind));
}

void FastLimitsGrid(benchmark::internal::Benchmark* b) {
  b->ArgNames({"depth", "lazy_below", "lazy_depth"})->Unit(benchmark::kMillisecond);
  for (const int depth : {1, 2, 4, 8, 16, 32}) {
    b->Args({depth, 0, 1});
    b->Args({depth, 5, std::max(depth / 4, 1)});
  }
}

BENCHMARK_CAPTURE(BM_FastLimits, text, Input::Text)->Apply(FastLimitsGrid);
BENCHMARK_CAPTURE(BM_FastLimits, binary, Input::Binary)->Apply(FastLimitsGrid);
BENCHMARK_CAPTURE(BM_Level, text, Input::Text)
    ->Arg(LZS_LEVEL_OPTIMAL)
    ->Arg(LZS_LEVEL_FAST)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Level, binary, Input::Binary)
    ->Arg(LZS_LEVEL_OPTIMAL)
    ->Arg(LZS_LEVEL_FAST)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, text, Input::Text)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, binary, Input::Binary)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, zeros, Input::Zeros)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, pattern, Input::Pattern)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, random, Input::Random)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, counter, Input::Counter)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
