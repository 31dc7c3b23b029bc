// Output MB/s of the fast and the reference decoder, of liblzs's bounded
// lzs_decode into an exactly sized buffer and its lzs_decoded_size scan, of memcpy of the same
// output size and of LZ4's decompression (HC level 9) of the same original
// data, all in one run, followed by a table of the ratios. The data are the
// make-corpus files, packed by the optimal parse of lzs-pack ("text",
// "binary") and by a greedy parse ("-greedy").
//
//   build/native/bench/decode_bench --benchmark_repetitions=5

#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/decode.hpp"
#include "lzs/decode_paths.hpp"
#include "lzs/encode.hpp"
#include "tests/support/reference.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The corpus files written by make-corpus: from LZS_CORPUS_DIR if set, else
// from the folder the build filled.
Bytes ReadCorpusFile(const std::string& name) {
  const char* dir = std::getenv("LZS_CORPUS_DIR");
  const std::string path = std::string(dir != nullptr ? dir : LZS_DEFAULT_CORPUS_DIR) + "/" + name;
  Bytes data;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(2);
  }
  std::uint8_t chunk[1 << 16];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    data.insert(data.end(), chunk, chunk + n);
  std::fclose(file);
  return data;
}

struct Corpus {
  std::string name;
  Bytes original;
  Bytes image;  // LZS image
  Bytes lz4;    // LZ4 block, HC level 9
};

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

// The path a process takes by itself.
int Widest() {
  static const int widest = lzs::CurrentDecodePath();
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

Bytes PackLz4(const Bytes& data) {
  Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(data.size()))));
  const int n = LZ4_compress_HC(reinterpret_cast<const char*>(data.data()),
                                reinterpret_cast<char*>(block.data()),
                                static_cast<int>(data.size()), static_cast<int>(block.size()), 9);
  if (n <= 0) std::abort();
  block.resize(static_cast<std::size_t>(n));
  return block;
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

// Images of the corpus's first bytes, from 64 KiB up, and of the text four
// times over, packed by the fast parse.
std::vector<AllocCase> AllocCases(const Bytes& text, const Bytes& binary) {
  std::vector<AllocCase> cases;
  Bytes textTimesFour;
  for (int k = 0; k < 4; ++k) textTimesFour.insert(textTimesFour.end(), text.begin(), text.end());
  lzs::LzsEncoder encoder;
  for (const auto& [name, data] : {std::pair<std::string, const Bytes*>{"text", &text},
                                   {"binary", &binary},
                                   {"text*4", &textTimesFour}}) {
    const std::vector<size_t> sizes =
        name == "text*4" ? std::vector<size_t>{size_t{12} << 20, size_t{16} << 20, size_t{20} << 20,
                                               size_t{24} << 20, size_t{32} << 20}
                         : std::vector<size_t>{size_t{64} << 10, size_t{256} << 10, size_t{1} << 20,
                                               size_t{4} << 20, size_t{8} << 20};
    for (const size_t size : sizes) {
      Bytes original(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(size));
      Bytes image = encoder.Encode(original.data(), original.size(), lzs::Parse::Fast);
      cases.push_back(
          {name + "-" + std::to_string(size >> 10) + "K", std::move(original), std::move(image)});
    }
  }
  return cases;
}

// Keeps every result's bytes per second (the median when repeated) for the
// table of ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      if (run.error_occurred) continue;
      const auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      const std::string name = run.run_name.function_name;
      if (median || !medians_.contains(name)) rates_[name] = it->second.value / 1e6;
      if (median) medians_[name] = true;
    }
  }
  double Rate(const std::string& name) const {
    const auto it = rates_.find(name);
    return it == rates_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> rates_;
  std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  Widest();
  std::vector<Corpus> corpora;
  const Bytes text = ReadCorpusFile("text.bin");
  const Bytes binary = ReadCorpusFile("binary.bin");
  corpora.push_back({"text", text, lzs::EncodeLzs(text.data(), text.size()), PackLz4(text)});
  corpora.push_back(
      {"binary", binary, lzs::EncodeLzs(binary.data(), binary.size()), PackLz4(binary)});
  corpora.push_back(
      {"text-greedy", text, lzs::EncodeLzsGreedy(text.data(), text.size()), PackLz4(text)});
  corpora.push_back({"binary-greedy", binary, lzs::EncodeLzsGreedy(binary.data(), binary.size()),
                     PackLz4(binary)});

  for (const Corpus& corpus : corpora) {
    const Corpus* c = &corpus;
    for (int path = 0; path < lzs::DecodePathCount(); ++path) {
      if (!lzs::DecodePathAvailable(path)) continue;
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
  const std::vector<AllocCase> allocCases = AllocCases(text, binary);
  for (const AllocCase& c : allocCases) {
    benchmark::RegisterBenchmark(("onepass/" + c.name).c_str(), BenchAlloc, &c, SIZE_MAX);
    benchmark::RegisterBenchmark(("scanfirst/" + c.name).c_str(), BenchAlloc, &c, 0);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // One column per path this processor runs, then the rest.
  std::vector<int> paths;
  for (int path = 0; path < lzs::DecodePathCount(); ++path) {
    if (lzs::DecodePathAvailable(path)) paths.push_back(path);
  }
  std::printf("\n%-16s %6s", "corpus", "ratio");
  for (const int path : paths) std::printf(" %7s", lzs::DecodePathName(path));
  std::printf(" %7s %7s %7s %7s %7s %7s %8s %8s %8s %8s\n", "lib", "size", "lz4", "memcpy", "ref",
              "path", "path/sc", "path/lz4", "lib/lz4", "size/lib");
  std::vector<std::string> streamLines;
  auto share = [](double a, double b) { return b > 0 ? a / b : 0; };
  const std::string widest = lzs::DecodePathName(Widest());
  for (const Corpus& c : corpora) {
    const double scalar = reporter.Rate(std::string(lzs::DecodePathName(0)) + "/" + c.name);
    const double path = reporter.Rate(widest + "/" + c.name);
    const double lib = reporter.Rate("lib/" + c.name);
    const double size = reporter.Rate("size/" + c.name);
    const double lz4 = reporter.Rate("lz4/" + c.name);
    std::printf("%-16s %6.3f", c.name.c_str(),
                static_cast<double>(c.image.size()) / c.original.size());
    for (const int p : paths)
      std::printf(" %7.0f", reporter.Rate(std::string(lzs::DecodePathName(p)) + "/" + c.name));
    std::printf(" %7.0f %7.0f %7.0f %7.0f %7.0f %7s %8.2f %8.2f %8.2f %8.2f\n", lib, size, lz4,
                reporter.Rate("memcpy/" + c.name), reporter.Rate("reference/" + c.name),
                widest.c_str(), share(path, scalar), share(path, lz4), share(lib, lz4),
                share(size, lib));
    const double stream = reporter.Rate("stream/" + c.name);
    char line[160];
    std::snprintf(line, sizeof line, "%-16s %9.0f %9.0f %12.2f\n", c.name.c_str(), stream, lib,
                  share(stream, lib));
    streamLines.emplace_back(line);
  }
  std::printf("\n%-16s %9s %9s %12s\n", "corpus", "stream", "lib", "stream/lib");
  for (const std::string& line : streamLines) std::fputs(line.c_str(), stdout);
  std::printf("\n%-16s %10s %10s %9s %9s %10s\n", "image", "size", "room", "onepass", "scanfirst",
              "onepass/sf");
  for (const AllocCase& c : allocCases) {
    const double onePass = reporter.Rate("onepass/" + c.name);
    const double scanFirst = reporter.Rate("scanfirst/" + c.name);
    std::printf("%-16s %10zu %10zu %9.0f %9.0f %10.2f\n", c.name.c_str(), c.image.size(),
                lzs_decode_bound(c.image.size()), onePass, scanFirst, share(onePass, scanFirst));
  }
  std::printf(
      "(MB/s of output, 1 MB = 10^6 bytes; ratio = packed size / original size; one column per\n"
      " path this processor runs, DecodeLzs on it; path = the one a process takes by itself,\n"
      " ref = the reference decoder, lib = lzs_decode on that path into\n"
      " an exactly sized buffer, size = lzs_decoded_size, stream = lzs_decode_stream with pieces\n"
      " of lzs_dstream_in_size() bytes and lzs_dstream_out_size() bytes of output room;\n"
      " onepass, scanfirst = lzs_decode_alloc's two ways, malloc and free included; room =\n"
      " lzs_decode_bound, which lzs_decode_alloc's choice compares with "
      "lzs::OnePassRoomMax)\n");
  return 0;
}
