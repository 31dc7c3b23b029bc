// Packing speed of EncodeLzs (and of the greedy and fast parses, for comparison) on
// 8 MiB inputs: the corpus files that make-corpus wrote into the build folder
// (or into the folder that LZS_CORPUS_DIR names), and degenerate inputs made here (all zeros, a
// repeated short pattern, random bytes, a counter). Bytes/s is input bytes packed per second;
// workspace_per_byte is the encoder's working memory per input byte.
// BM_Level packs through liblzs's lzs_encode_with at each level;
// vs_optimal is its image size over the optimal level's. BM_FastLimits packs
// with the fast parse under other search limits (depth, lookahead below,
// lookahead depth), to show what its speed costs in image size.
//
// Beside LZ4, on this machine's corpora (bench/corpora.sh: headers.tar,
// libs.bin and large.bin in build/corpora, or the folder LZS_CORPORA_DIR
// names): BM_Lz4 (LZ4_compress_default, and LZ4_compress_HC at level 12),
// BM_Lzs (lzs_encode_with at each level), BM_Stream (lzs_encode_stream in
// pieces of the recommended sizes) and BM_Threads (one input on 1 thread, or
// on N threads through segments). bench/pack_compare.sh runs them
// interleaved and prints the ratios.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lzs.h"
#include "lzs/encode.hpp"
#include "tests/support/stream_encode.hpp"

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

// A file of this machine's corpora, whole; empty when missing.
std::vector<std::uint8_t> ReadCorporaFile(const char* name) {
  const char* dir = std::getenv("LZS_CORPORA_DIR");
  const std::string path = std::string(dir != nullptr ? dir : LZS_DEFAULT_CORPORA_DIR) + "/" + name;
  std::vector<std::uint8_t> data;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return data;
  std::vector<std::uint8_t> piece(1 << 20);
  for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), file)) > 0;)
    data.insert(data.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
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

// Packs data with lzs_encode_with at the level of argument 0; the image size
// (0 after an error, which it reports).
size_t PackLevel(benchmark::State& state, const std::vector<std::uint8_t>& data) {
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
    return 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["image_bytes"] = static_cast<double>(n);
  return n;
}

// Argument: the level (LZS_LEVEL_OPTIMAL, LZS_LEVEL_FAST).
void BM_Level(benchmark::State& state, Input kind) {
  const std::vector<std::uint8_t>& data = TheInput(kind);
  if (data.empty()) {
    state.SkipWithError("no corpus file (build the corpus target, or set LZS_CORPUS_DIR)");
    return;
  }
  const size_t n = PackLevel(state, data);
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

// Each corpora file is read once.
const std::vector<std::uint8_t>& Corpora(const std::string& name) {
  static std::vector<std::uint8_t> files[3];
  static const char* const names[3] = {"headers.tar", "libs.bin", "large.bin"};
  for (int k = 0; k < 3; ++k) {
    if (name != names[k]) continue;
    if (files[k].empty()) files[k] = ReadCorporaFile(names[k]);
    return files[k];
  }
  std::abort();
}

bool NoCorpora(benchmark::State& state, const std::vector<std::uint8_t>& data) {
  if (!data.empty()) return false;
  state.SkipWithError("no corpora file (run bench/corpora.sh, or set LZS_CORPORA_DIR)");
  return true;
}

// Argument: 1 for LZ4_compress_default, or the level of LZ4_compress_HC.
void BM_Lz4(benchmark::State& state, const std::string& name) {
  const std::vector<std::uint8_t>& data = Corpora(name);
  if (NoCorpora(state, data)) return;
  const int level = static_cast<int>(state.range(0));
  const auto size = static_cast<int>(data.size());
  std::vector<char> out(static_cast<std::size_t>(LZ4_compressBound(size)));
  const auto* src = reinterpret_cast<const char*>(data.data());
  int n = 0;
  for (auto _ : state) {
    n = level == 1 ? LZ4_compress_default(src, out.data(), size, static_cast<int>(out.size()))
                   : LZ4_compress_HC(src, out.data(), size, static_cast<int>(out.size()), level);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["image_bytes"] = n;
}

// Argument: the level.
void BM_Lzs(benchmark::State& state, const std::string& name) {
  const std::vector<std::uint8_t>& data = Corpora(name);
  if (!NoCorpora(state, data)) PackLevel(state, data);
}

// The image of data through lzs_encode_stream, in pieces of the recommended
// sizes; what one thread does.
std::vector<std::uint8_t> PackStream(lzs_cstream* cs, const std::vector<std::uint8_t>& data,
                                     int level) {
  std::vector<size_t> cuts;
  for (size_t at = lzs_cstream_in_size(); at < data.size(); at += lzs_cstream_in_size()) {
    cuts.push_back(at);
  }
  testdata::Packed packed = testdata::PackInPieces(cs, data, level, cuts, lzs_cstream_out_size());
  if (packed.result != 0) packed.image.clear();
  return packed.image;
}

// The image of data on `threads` threads: they parse chunks of
// ChunkSegments segments into a ring of slots, and this thread takes them
// in order into one stream (as a program's worker threads would).
std::vector<std::uint8_t> PackThreads(lzs_cstream* cs, const std::vector<std::uint8_t>& data,
                                      int level, std::size_t threads) {
  constexpr std::size_t Chunk = 4 * LZS_SEGMENT_SIZE;
  const std::size_t chunks = (data.size() + Chunk - 1) / Chunk;
  const std::size_t slots = 2 * threads + 2;
  std::vector<lzs_segment*> segments(slots);
  for (auto& segment : segments) segment = lzs_segment_create();
  std::vector<std::size_t> parsed(slots, ~std::size_t{0});  // the chunk a slot holds
  std::size_t taken = 0;                                    // chunks taken so far
  std::size_t next = 0;                                     // the next chunk to parse
  bool failed = false;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      std::unique_lock lock(mutex);
      while (next < chunks) {
        const std::size_t c = next++;
        changed.wait(lock, [&] { return c < taken + slots; });  // its slot is free
        lock.unlock();
        const std::size_t offset = c * Chunk;
        const std::size_t size = std::min(Chunk, data.size() - offset);
        const size_t result = lzs_segment_parse(segments[c % slots], level, data.data() + offset,
                                                size, offset, offset + size == data.size());
        lock.lock();
        failed = failed || result != 0;
        parsed[c % slots] = c;
        changed.notify_all();
      }
    });
  }
  std::vector<std::uint8_t> image;
  std::vector<std::uint8_t> out(lzs_cstream_out_size());
  lzs_cstream_reset(cs, level);
  for (std::size_t c = 0; c < chunks && !failed; ++c) {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return parsed[c % slots] == c || failed; });
    }
    const size_t result = testdata::TakeSegment(cs, segments[c % slots], out, image);
    std::lock_guard lock(mutex);
    failed = failed || result != 0;
    taken = c + 1;
    changed.notify_all();
  }
  for (auto& worker : workers) worker.join();
  for (auto* segment : segments) lzs_segment_free(segment);
  if (failed || testdata::EndImage(cs, out, image) != 0) return {};
  return image;
}

// Argument: the level.
void BM_Stream(benchmark::State& state, const std::string& name) {
  const std::vector<std::uint8_t>& data = Corpora(name);
  if (NoCorpora(state, data)) return;
  lzs_cstream* cs = lzs_cstream_create();
  std::size_t n = 0;
  for (auto _ : state) n = PackStream(cs, data, static_cast<int>(state.range(0))).size();
  lzs_cstream_free(cs);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["image_bytes"] = static_cast<double>(n);
}

// Arguments: the level, the threads (1: lzs_encode_stream alone). Fails
// when the image differs from the one of one thread. Besides the time,
// process_cpu_s is the processor time of all threads, and the CPU time the
// one of this thread, which takes the segments: on a machine busy with other
// work, the time that N idle cores would take is about the larger of
// process_cpu_s / N and that.
void BM_Threads(benchmark::State& state, const std::string& name) {
  const std::vector<std::uint8_t>& data = Corpora(name);
  if (NoCorpora(state, data)) return;
  const int level = static_cast<int>(state.range(0));
  const auto threads = static_cast<std::size_t>(state.range(1));
  lzs_cstream* cs = lzs_cstream_create();
  static std::vector<std::uint8_t> oneThread[10];
  std::vector<std::uint8_t>& expected = oneThread[level];
  if (expected.empty()) expected = PackStream(cs, data, level);
  std::vector<std::uint8_t> image;
  const std::clock_t start = std::clock();  // processor time of all threads
  for (auto _ : state) {
    image = threads == 1 ? PackStream(cs, data, level) : PackThreads(cs, data, level, threads);
  }
  state.counters["process_cpu_s"] =
      benchmark::Counter(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC /
                         static_cast<double>(state.iterations()));
  lzs_cstream_free(cs);
  if (image.empty() || image != expected) {
    state.SkipWithError("the image differs from the one of one thread");
    return;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["image_bytes"] = static_cast<double>(image.size());
}

void CorporaBenchmarks() {
  for (const char* name : {"headers.tar", "libs.bin"}) {
    const std::string file = name;
    benchmark::RegisterBenchmark(("BM_Lz4/" + file).c_str(), BM_Lz4, file)
        ->Arg(1)
        ->Arg(12)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Lzs/" + file).c_str(), BM_Lzs, file)
        ->Arg(LZS_LEVEL_FAST)
        ->Arg(LZS_LEVEL_OPTIMAL)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Stream/" + file).c_str(), BM_Stream, file)
        ->Arg(LZS_LEVEL_FAST)
        ->Arg(LZS_LEVEL_OPTIMAL)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_Threads/large.bin", BM_Threads, std::string("large.bin"))
      ->ArgNames({"level", "threads"})
      ->ArgsProduct({{LZS_LEVEL_FAST, LZS_LEVEL_OPTIMAL}, {1, 2}})
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
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

int main(int argc, char** argv) {
  CorporaBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
