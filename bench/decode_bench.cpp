// Output GB/s of the fast decoder on each of its paths this processor runs
// and of the reference decoder, of liblzs's lzs_decode into an exactly
// sized buffer, its streaming decoder and its lzs_decoded_size scan, beside
// memcpy of the same output and LZ4's decompression (LZ4_decompress_safe of
// the same data packed by LZ4_compress_HC at level 9), all in one run; then
// a table of the fastest repetition of each, and their ratios.
//
// The corpora are those of bench/corpora.sh (headers.tar and libs.bin in
// LZS_BENCH_CORPORA, default build/corpora), each packed as lzs -1 packs it
// (greedy-like) and as lzs -9 packs it (the smallest image); where they are
// missing, the make-corpus files (text.bin and binary.bin in LZS_CORPUS_DIR,
// default the build's corpus folder) stand in. lzs_decode and the stream
// take the path the process takes by itself, or the one LZS_SIMD names
// (LZS_SIMD=avx2).
//
//   bench/corpora.sh
//   build/native/bench/decode_bench --benchmark_repetitions=7
//
// (add --benchmark_enable_random_interleaving=true on a busy machine).

#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/decode.hpp"
#include "lzs/decode_paths.hpp"
#include "tests/support/reference.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A file's bytes, or nothing when it cannot be read.
Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Corpus {
  std::string name;
  Bytes original;
  Bytes image;  // LZS image
  Bytes lz4;    // LZ4 block, HC level 9
};

Bytes Pack(const Bytes& data, int level) {
  Bytes image(lzs_encode_bound(data.size()));
  const size_t n = lzs_encode(image.data(), image.size(), data.data(), data.size(), level);
  if (lzs_is_error(n)) {
    std::fprintf(stderr, "decode_bench: lzs_encode: %s\n", lzs_error_name(n));
    std::exit(2);
  }
  image.resize(n);
  return image;
}

Bytes PackLz4(const Bytes& data) {
  Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(data.size()))));
  const int n = LZ4_compress_HC(reinterpret_cast<const char*>(data.data()),
                                reinterpret_cast<char*>(block.data()),
                                static_cast<int>(data.size()), static_cast<int>(block.size()), 9);
  if (n <= 0) std::abort();
  block.resize(static_cast<std::size_t>(n));
  return block;
}

// The four images of the two corpora, or of the make-corpus files.
std::vector<Corpus> LoadCorpora() {
  const char* dir = std::getenv("LZS_BENCH_CORPORA");
  std::string from = dir != nullptr ? dir : LZS_DEFAULT_BENCH_CORPORA;
  std::vector<std::pair<std::string, Bytes>> files;
  for (const char* name : {"headers.tar", "libs.bin"})
    files.emplace_back(std::string(name).substr(0, std::strcspn(name, ".")),
                       ReadFile(from + "/" + name));
  if (files[0].second.empty() || files[1].second.empty()) {
    const char* corpus = std::getenv("LZS_CORPUS_DIR");
    from = corpus != nullptr ? corpus : LZS_DEFAULT_CORPUS_DIR;
    files = {{"text", ReadFile(from + "/text.bin")}, {"binary", ReadFile(from + "/binary.bin")}};
    if (files[0].second.empty() || files[1].second.empty()) {
      std::fprintf(stderr, "decode_bench: no corpus in %s (bench/corpora.sh makes one)\n",
                   from.c_str());
      std::exit(2);
    }
  }
  std::printf("corpora from %s\n", from.c_str());
  std::vector<Corpus> corpora;
  for (const auto& [name, data] : files) {
    const Bytes lz4 = PackLz4(data);
    for (const int level : {LZS_LEVEL_FAST, LZS_LEVEL_OPTIMAL})
      corpora.push_back({name + "-" + std::to_string(level), data, Pack(data, level), lz4});
  }
  return corpora;
}

using Decoder = std::uint32_t (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*);

// DecodeLzs (or the reference decoder) on one path of the fast decoder.
void BenchDecode(benchmark::State& state, const Corpus* corpus, Decoder decode, int path) {
  lzs::ForceDecodePath(path);
  Bytes area(lzs::MaxExpansion * (corpus->image.size() - lzs::HeaderSize));
  for (auto _ : state) {
    const std::uint32_t n =
        decode(corpus->image.data(), static_cast<std::uint32_t>(corpus->image.size()), area.data());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (std::memcmp(area.data(), corpus->original.data(), corpus->original.size()) != 0) {
    state.SkipWithError("decoded bytes differ from the original");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

// The path a process takes by itself, or the one LZS_SIMD names.
int Widest() {
  static const int widest = [] {
    const char* wanted = std::getenv("LZS_SIMD");
    if (wanted == nullptr || *wanted == '\0') return lzs::CurrentDecodePath();
    const int path = lzs::FindDecodePath(wanted);
    if (!lzs::DecodePathAvailable(path)) {
      std::fprintf(stderr, "decode_bench: LZS_SIMD=%s: no such path on this processor\n", wanted);
      std::exit(2);
    }
    return path;
  }();
  return widest;
}

// lzs_decode into a buffer of exactly the decoded size.
void BenchLibDecode(benchmark::State& state, const Corpus* corpus) {
  lzs::ForceDecodePath(Widest());
  Bytes to(corpus->original.size());
  for (auto _ : state) {
    const size_t n = lzs_decode(to.data(), to.size(), corpus->image.data(), corpus->image.size());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (to != corpus->original) state.SkipWithError("lzs_decode output differs from the original");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

// lzs_decode_stream over the whole image in pieces of lzs_dstream_in_size()
// bytes into lzs_dstream_out_size() bytes of output room at a time, as a
// program reading a file or pipe would call it; sink(output, size) takes
// each filled room. Returns lzs_dstream_end's verdict.
template <typename Sink>
size_t StreamDecode(lzs_dstream* ds, const Bytes& image, std::uint8_t* room, Sink sink) {
  const size_t pieceSize = lzs_dstream_in_size();
  const size_t roomSize = lzs_dstream_out_size();
  lzs_dstream_reset(ds);
  size_t r = 1;
  size_t taken = 0;
  size_t dstPos = roomSize;
  // Until an error, or all input taken and no output left waiting.
  while (!lzs_is_error(r) && (taken < image.size() || (r != 0 && dstPos == roomSize))) {
    const size_t size = std::min(pieceSize, image.size() - taken);
    size_t srcPos = 0;
    dstPos = 0;
    r = lzs_decode_stream(ds, room, roomSize, &dstPos, image.data() + taken, size, &srcPos);
    sink(room, dstPos);
    taken += srcPos;
  }
  return lzs_dstream_end(ds, nullptr);
}

void BenchStream(benchmark::State& state, const Corpus* corpus) {
  lzs::ForceDecodePath(Widest());
  lzs_dstream* ds = lzs_dstream_create();
  std::vector<std::uint8_t> room(lzs_dstream_out_size());
  Bytes all;
  const size_t check =
      StreamDecode(ds, corpus->image, room.data(),
                   [&](const std::uint8_t* p, size_t n) { all.insert(all.end(), p, p + n); });
  if (check != corpus->original.size() || all != corpus->original)
    state.SkipWithError("lzs_decode_stream output differs from the original");
  for (auto _ : state) {
    size_t total = 0;
    const size_t r = StreamDecode(ds, corpus->image, room.data(),
                                  [&](const std::uint8_t*, size_t n) { total += n; });
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  lzs_dstream_free(ds);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

// lzs_decoded_size, counted in output bytes like the decoders.
void BenchDecodedSize(benchmark::State& state, const Corpus* corpus) {
  size_t n = 0;
  for (auto _ : state) {
    n = lzs_decoded_size(corpus->image.data(), corpus->image.size());
    benchmark::DoNotOptimize(n);
  }
  if (n != corpus->original.size())
    state.SkipWithError("lzs_decoded_size differs from the original size");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

void BenchMemcpy(benchmark::State& state, const Corpus* corpus) {
  Bytes to(corpus->original.size());
  for (auto _ : state) {
    std::memcpy(to.data(), corpus->original.data(), to.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

void BenchLz4(benchmark::State& state, const Corpus* corpus) {
  Bytes to(corpus->original.size());
  for (auto _ : state) {
    const int n = LZ4_decompress_safe(
        reinterpret_cast<const char*>(corpus->lz4.data()), reinterpret_cast<char*>(to.data()),
        static_cast<int>(corpus->lz4.size()), static_cast<int>(to.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (to != corpus->original) state.SkipWithError("LZ4 output differs from the original");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

// lzs_decode_alloc's two ways, as its caller meets them (malloc, page
// faults and free included): "onepass" decodes into room for the most the
// image can yield, "scanfirst" scans for the exact size first. The
// library's OnePassRoomMax chooses between them by the size of that room.
struct AllocCase {
  std::string name;
  Bytes original;
  Bytes image;
};

void BenchAlloc(benchmark::State& state, const AllocCase* c, size_t onePassRoomMax) {
  for (auto _ : state) {
    void* output = nullptr;
    const size_t n = lzs::DecodeAllocating(&output, c->image.data(), c->image.size(), SIZE_MAX,
                                           nullptr, nullptr, nullptr, onePassRoomMax);
    benchmark::DoNotOptimize(output);
    if (n != c->original.size() || std::memcmp(output, c->original.data(), n) != 0) {
      state.SkipWithError("lzs_decode_alloc output differs from the original");
    }
    std::free(output);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c->original.size()));
}

// Images of each corpus's first bytes, from 64 KiB to 8 MiB, and of the
// first corpus four times over (rooms of 12 to 32 MiB and past), packed as
// lzs -1 packs them.
std::vector<AllocCase> AllocCases(const std::vector<Corpus>& corpora) {
  std::vector<AllocCase> cases;
  const Bytes& first = corpora.front().original;
  Bytes timesFour;
  for (int k = 0; k < 4; ++k) timesFour.insert(timesFour.end(), first.begin(), first.end());
  const std::string firstName = corpora.front().name.substr(0, corpora.front().name.find('-'));
  const std::string lastName = corpora.back().name.substr(0, corpora.back().name.find('-'));
  for (const auto& [name, data] : {std::pair<std::string, const Bytes*>{firstName, &first},
                                   {lastName, &corpora.back().original},
                                   {firstName + "*4", &timesFour}}) {
    const bool large = name.back() == '4';
    const std::vector<size_t> sizes =
        large ? std::vector<size_t>{size_t{12} << 20, size_t{16} << 20, size_t{20} << 20,
                                    size_t{24} << 20, size_t{32} << 20}
              : std::vector<size_t>{size_t{64} << 10, size_t{256} << 10, size_t{1} << 20,
                                    size_t{4} << 20, size_t{8} << 20};
    for (const size_t size : sizes) {
      if (size > data->size()) continue;
      Bytes original(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(size));
      Bytes image = Pack(original, LZS_LEVEL_FAST);
      cases.push_back(
          {name + "-" + std::to_string(size >> 10) + "K", std::move(original), std::move(image)});
    }
  }
  return cases;
}

// Keeps the fastest repetition of every benchmark, in GB/s of output, for
// the table of ratios (on a shared machine the fastest run is the one least
// disturbed); where only aggregates are reported, their median.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
      const auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      double& rate = (median ? medians_ : fastest_)[run.run_name.function_name];
      rate = std::max(rate, it->second.value / 1e9);
    }
  }
  double Rate(const std::string& name) const {
    for (const auto* rates : {&fastest_, &medians_}) {
      const auto it = rates->find(name);
      if (it != rates->end()) return it->second;
    }
    return 0;
  }

 private:
  std::map<std::string, double> fastest_;
  std::map<std::string, double> medians_;
};

// The processor's name as the system gives it.
std::string CpuName() {
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown processor";
}

}  // namespace

int main(int argc, char** argv) {
  Widest();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::vector<Corpus> corpora = LoadCorpora();
  std::vector<int> paths;
  for (int path = 0; path < lzs::DecodePathCount(); ++path) {
    if (lzs::DecodePathAvailable(path)) paths.push_back(path);
  }
  for (const Corpus& corpus : corpora) {
    const Corpus* c = &corpus;
    for (const int path : paths) {
      benchmark::RegisterBenchmark((std::string(lzs::DecodePathName(path)) + "/" + c->name).c_str(),
                                   BenchDecode, c, &lzs::DecodeLzs, path);
    }
    benchmark::RegisterBenchmark(("reference/" + c->name).c_str(), BenchDecode, c,
                                 &DecodeLzsReference, 0);
    benchmark::RegisterBenchmark(("lib/" + c->name).c_str(), BenchLibDecode, c);
    benchmark::RegisterBenchmark(("stream/" + c->name).c_str(), BenchStream, c);
    benchmark::RegisterBenchmark(("size/" + c->name).c_str(), BenchDecodedSize, c);
    benchmark::RegisterBenchmark(("memcpy/" + c->name).c_str(), BenchMemcpy, c);
    benchmark::RegisterBenchmark(("lz4/" + c->name).c_str(), BenchLz4, c);
  }
  const std::vector<AllocCase> allocCases = AllocCases(corpora);
  for (const AllocCase& c : allocCases) {
    benchmark::RegisterBenchmark(("onepass/" + c.name).c_str(), BenchAlloc, &c, SIZE_MAX);
    benchmark::RegisterBenchmark(("scanfirst/" + c.name).c_str(), BenchAlloc, &c, 0);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const std::string widest = lzs::DecodePathName(Widest());
  auto rate = [&](const std::string& what, const Corpus& c) {
    return reporter.Rate(what + "/" + c.name);
  };
  auto share = [](double a, double b) { return b > 0 ? a / b : 0; };
  std::printf("\n%s; lib and stream on the path %s\n", CpuName().c_str(), widest.c_str());
  std::printf("\nGB/s of output, the fastest repetition of each\n%-12s %6s", "image", "ratio");
  for (const int path : paths) std::printf(" %7s", lzs::DecodePathName(path));
  std::printf(" %7s %7s %7s %7s %7s %7s\n", "ref", "lib", "stream", "size", "lz4", "memcpy");
  for (const Corpus& c : corpora) {
    std::printf("%-12s %6.3f", c.name.c_str(),
                static_cast<double>(c.image.size()) / c.original.size());
    for (const int path : paths) std::printf(" %7.2f", rate(lzs::DecodePathName(path), c));
    std::printf(" %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f\n", rate("reference", c), rate("lib", c),
                rate("stream", c), rate("size", c), rate("lz4", c), rate("memcpy", c));
  }
  std::printf(
      "\nRatios: each path and lib to LZ4; stream to lib; the size scan in GB/s of image\n%-12s",
      "image");
  for (const int path : paths) std::printf(" %7s", lzs::DecodePathName(path));
  std::printf(" %7s %10s %10s\n", "lib", "stream/lib", "size GB/s");
  for (const Corpus& c : corpora) {
    std::printf("%-12s", c.name.c_str());
    for (const int path : paths)
      std::printf(" %7.2f", share(rate(lzs::DecodePathName(path), c), rate("lz4", c)));
    const double imageShare = static_cast<double>(c.image.size()) / c.original.size();
    std::printf(" %7.2f %10.2f %10.2f\n", share(rate("lib", c), rate("lz4", c)),
                share(rate("stream", c), rate("lib", c)), rate("size", c) * imageShare);
  }
  std::printf(
      "(1 GB = 10^9 bytes; ratio = packed size / original size; -1 and -9: packed as lzs -1 and\n"
      " lzs -9 pack; one column per path this processor runs, DecodeLzs on it; ref = the "
      "reference\n"
      " decoder; lib = lzs_decode on the path named above into an exactly sized buffer;\n"
      " stream = lzs_decode_stream with pieces of lzs_dstream_in_size() bytes and\n"
      " lzs_dstream_out_size() bytes of output room; size = lzs_decoded_size; lz4 =\n"
      " LZ4_decompress_safe of LZ4_compress_HC level 9)\n");
  std::printf("\n%-16s %10s %10s %9s %9s %10s\n", "image", "size", "room", "onepass", "scanfirst",
              "onepass/sf");
  for (const AllocCase& c : allocCases) {
    const double onePass = reporter.Rate("onepass/" + c.name);
    const double scanFirst = reporter.Rate("scanfirst/" + c.name);
    std::printf("%-16s %10zu %10zu %9.2f %9.2f %10.2f\n", c.name.c_str(), c.image.size(),
                lzs_decode_bound(c.image.size()), onePass, scanFirst, share(onePass, scanFirst));
  }
  std::printf(
      "(GB/s of output; onepass, scanfirst = lzs_decode_alloc's two ways, malloc and free\n"
      " included; room = lzs_decode_bound, which lzs_decode_alloc's choice compares with\n"
      " lzs::OnePassRoomMax)\n");
  return 0;
}
