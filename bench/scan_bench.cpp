// The speed of lzs_scan_next on one core, and what it finds where no image
// was put: 10 MiB of random bytes, the two corpora of this machine's files
// that bench/corpora.sh makes (headers.tar, text; libs.bin, shared
// libraries), and libs.bin with images of pieces of the corpora put in at
// random offsets (every one of at least LZS_SCAN_HIGH_IMAGE bytes must be
// found). Bytes/s is the bytes scanned per second; high and low count the
// findings of each confidence, placed the images of that size put in, and
// found those found high at their offset.
//
//   build/native/bench/scan_bench [--benchmark_filter=...]
//
// The corpora are read from the folder LZS_BENCH_CORPORA names (default
// build/corpora, made by bench/corpora.sh); a missing one is skipped.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadCorpus(const char* name) {
  const char* dir = std::getenv("LZS_BENCH_CORPORA");
  if (dir == nullptr) dir = LZS_DEFAULT_CORPORA_DIR;
  Bytes data;
  std::FILE* file = std::fopen((std::string(dir) + "/" + name).c_str(), "rb");
  if (file == nullptr) return data;
  Bytes piece(1 << 20);
  for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), file)) > 0;) {
    data.insert(data.end(), piece.begin(), piece.begin() + static_cast<long>(n));
  }
  std::fclose(file);
  return data;
}

Bytes RandomBytes(std::size_t size) {
  std::mt19937_64 rng(1);
  Bytes data(size);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(rng());
  return data;
}

// libs.bin with 200 images of pieces of itself and of headers.tar (1 to 65
// KiB, packed at both levels) written over it at random offsets; the
// offsets of those of LZS_SCAN_HIGH_IMAGE bytes or more, which the scan
// must find.
struct Container {
  Bytes data;
  std::vector<std::uint64_t> offsets;
};
Container WithImages(const Bytes& libs, const Bytes& text) {
  Container container{libs, {}};
  if (libs.empty() || text.empty()) return container;
  std::mt19937 rng(7);
  std::size_t at = 0;
  for (int n = 0; n < 200; ++n) {
    const Bytes& source = n % 2 == 0 ? libs : text;
    const std::size_t size = 1024 + rng() % (64 << 10);
    const std::size_t from = rng() % (source.size() - size);
    Bytes image(lzs_encode_bound(size));
    image.resize(lzs_encode(image.data(), image.size(), source.data() + from, size,
                            n % 4 < 2 ? LZS_LEVEL_OPTIMAL : LZS_LEVEL_FAST));
    at += rng() % (container.data.size() / 200);
    if (at + image.size() > container.data.size()) break;
    std::copy(image.begin(), image.end(), container.data.begin() + static_cast<long>(at));
    if (image.size() >= LZS_SCAN_HIGH_IMAGE) container.offsets.push_back(at);
    at += image.size();
  }
  return container;
}

void Scan(benchmark::State& state, const Bytes* data, const std::vector<std::uint64_t>* placed) {
  if (data->empty()) {
    state.SkipWithError("corpus missing: run bench/corpora.sh");
    return;
  }
  std::size_t high = 0;
  std::size_t low = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    high = low = found = 0;
    std::size_t pos = 0;
    std::size_t next = 0;  // the next image put in, by offset
    lzs_finding finding;
    while (lzs_scan_next(data->data(), data->size(), &pos, &finding) == 1) {
      if (finding.confidence != LZS_CONFIDENCE_HIGH) {
        ++low;
        continue;
      }
      ++high;
      while (next < placed->size() && (*placed)[next] < finding.offset) ++next;
      if (next < placed->size() && (*placed)[next] == finding.offset) ++found;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data->size()));
  state.counters["high"] = static_cast<double>(high);
  state.counters["low"] = static_cast<double>(low);
  if (!placed->empty()) {
    state.counters["found"] = static_cast<double>(found);
    state.counters["placed"] = static_cast<double>(placed->size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const Bytes random = RandomBytes(10 << 20);
  static const Bytes headers = ReadCorpus("headers.tar");
  static const Bytes libs = ReadCorpus("libs.bin");
  static const Container container = WithImages(libs, headers);
  static const std::vector<std::uint64_t> none;
  benchmark::RegisterBenchmark("scan/random", Scan, &random, &none)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("scan/headers", Scan, &headers, &none)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("scan/libs", Scan, &libs, &none)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("scan/libs_with_images", Scan, &container.data, &container.offsets)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
