// lzs_encode_like on 1 MiB of each corpus of bench/corpora.sh (headers.tar,
// text; libs.bin, shared libraries), whose image orig is made by each
// packer: our two levels and the tests' greedy packer. For each, the time
// of one call and, as counters, what the edits leave of orig:
//  - same: src is what orig decodes to (1 when the image is orig's bytes);
//  - 100 bytes changed in place (from elsewhere in the corpus), at 20
//    places over the file, one at a time: kept_min and kept_mean, the least
//    and the mean share of orig's bytes that stand in a common prefix and
//    suffix of the two images; payload_min and payload_mean, the same with
//    the 4-byte header left out (an image that grows or shrinks changes its
//    header, which gives its size); same_size, how many of the 20 kept
//    orig's size;
//  - 100 bytes inserted or removed, 20 places each: over_fast, how many
//    images were larger than lzs_encode at LZS_LEVEL_FAST makes (it must be
//    0), and reused, the least share of orig's items the image took.
//
//   build/native/bench/like_bench [--benchmark_filter=...]
//
// The corpora are read from the folder LZS_BENCH_CORPORA names (default
// build/corpora, made by bench/corpora.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"
#include "tests/support/greedy_packer.hpp"
#include "tests/support/like.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testdata::Kept;
using testdata::Like;
using testdata::Liked;
constexpr std::size_t Size = 1 << 20;
constexpr int Places = 20;

Bytes ReadCorpus(const char* name) {
  const char* dir = std::getenv("LZS_BENCH_CORPORA");
  if (dir == nullptr) dir = LZS_DEFAULT_CORPORA_DIR;
  Bytes data(Size);
  std::FILE* file = std::fopen((std::string(dir) + "/" + name).c_str(), "rb");
  if (file == nullptr) return {};
  data.resize(std::fread(data.data(), 1, data.size(), file));
  std::fclose(file);
  return data;
}

Bytes Pack(const Bytes& data, int level) {
  Bytes image(lzs_encode_bound(data.size()));
  image.resize(lzs_encode(image.data(), image.size(), data.data(), data.size(), level));
  return image;
}

void LikeEdits(benchmark::State& state, const char* corpus, int packer) {
  const Bytes data = ReadCorpus(corpus);
  if (data.size() < Size) {
    state.SkipWithError("corpus missing: run bench/corpora.sh");
    return;
  }
  const Bytes orig = packer == 2 ? PackGreedy(data) : Pack(data, packer == 0 ? 9 : 1);
  double kept = 1;
  double keptPayload = 1;
  double keptSum = 0;
  double payloadSum = 0;
  double reused = 1;
  int sameSize = 0;
  int overFast = 0;
  std::mt19937 rng(3);
  for (int place = 0; place < Places; ++place) {
    const std::size_t at =
        100 + (Size - 300) * static_cast<std::size_t>(place) / Places + rng() % 100;
    Bytes edited = data;
    const std::size_t from = rng() % (Size - 100);
    std::copy(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(from + 100),
              edited.begin() + static_cast<long>(at));
    const Liked liked = Like(edited, orig);
    const double whole = Kept(liked.image, orig, 0);
    const double payload = Kept(liked.image, orig, LZS_HEADER_SIZE);
    kept = std::min(kept, whole);
    keptPayload = std::min(keptPayload, payload);
    keptSum += whole;
    payloadSum += payload;
    sameSize += liked.image.size() == orig.size() ? 1 : 0;
    for (const bool insert : {true, false}) {
      Bytes changed = data;
      if (insert) {
        changed.insert(changed.begin() + static_cast<long>(at), 100, 'x');
      } else {
        changed.erase(changed.begin() + static_cast<long>(at),
                      changed.begin() + static_cast<long>(at + 100));
      }
      const Liked moved = Like(changed, orig);
      overFast += moved.image.size() > Pack(changed, LZS_LEVEL_FAST).size() ? 1 : 0;
      reused =
          std::min(reused, static_cast<double>(moved.reused) / static_cast<double>(moved.items));
    }
  }
  const Liked same = Like(data, orig);
  for (auto _ : state) {
    Bytes edited = data;
    edited[Size / 2] ^= 1;
    benchmark::DoNotOptimize(Like(edited, orig).image.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
  state.counters["same"] = same.image == orig ? 1 : 0;
  state.counters["kept_min"] = kept;
  state.counters["kept_mean"] = keptSum / Places;
  state.counters["payload_min"] = keptPayload;
  state.counters["payload_mean"] = payloadSum / Places;
  state.counters["same_size"] = sameSize;
  state.counters["over_fast"] = overFast;
  state.counters["reused"] = reused;
}

}  // namespace

int main(int argc, char** argv) {
  const char* const packers[] = {"optimal", "fast", "greedy"};
  for (const char* corpus : {"headers.tar", "libs.bin"}) {
    for (int packer = 0; packer < 3; ++packer) {
      benchmark::RegisterBenchmark(("like/" + std::string(corpus) + "/" + packers[packer]).c_str(),
                                   LikeEdits, corpus, packer)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(3);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
