// Output MB/s of the fast and the reference decoder, of memcpy of the same
// output size and of LZ4's decompression of the same original data, all in
// one run, followed by a table of the ratios.
//
//   build/native/bench/decode_bench --benchmark_repetitions=5

#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lzs/lzs.hpp"
#include "lzs/reference.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t CorpusSize = 4 << 20;

// Text-like data: lines of words drawn with a skewed frequency from a
// vocabulary of made-up words, with punctuation and numbers.
Bytes MakeText(std::size_t size) {
  std::mt19937 rng(1);
  const char* syllables[] = {"ka", "lo", "mi", "ne", "tra", "vos", "el", "an", "ost", "ri",
                             "du", "per", "ing", "the", "s", "ul", "or", "ba", "zy", "qu"};
  std::vector<std::string> words;
  for (int n = 0; n < 3000; ++n) {
    std::string word;
    for (unsigned k = 0, count = 1 + rng() % 4; k < count; ++k) word += syllables[rng() % 20];
    words.push_back(word);
  }
  Bytes text;
  std::size_t column = 0;
  while (text.size() < size) {
    // Skewed choice: small indices much more often.
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    const auto index = static_cast<std::size_t>(words.size() * u * u * u);
    std::string word = words[index];
    if (rng() % 40 == 0) word = std::to_string(rng() % 100000);
    if (rng() % 12 == 0) word += ",";
    if (rng() % 15 == 0) word += ".";
    text.insert(text.end(), word.begin(), word.end());
    column += word.size() + 1;
    if (column > 72) {
      text.push_back('\n');
      column = 0;
    } else {
      text.push_back(' ');
    }
  }
  text.resize(size);
  return text;
}

// Binary-like data: fixed-size records with counters, small numbers, a few
// names and zero padding, mixed with stretches of noise and of runs.
Bytes MakeBinary(std::size_t size) {
  std::mt19937 rng(2);
  const char* names[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"};
  Bytes data;
  std::uint32_t id = 1000;
  while (data.size() < size) {
    const unsigned kind = rng() % 16;
    if (kind == 0) {
      for (unsigned n = 0, count = 16 + rng() % 200; n < count; ++n) data.push_back(static_cast<std::uint8_t>(rng()));
    } else if (kind == 1) {
      data.insert(data.end(), 8 + rng() % 100, static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : 0));
    } else {
      std::uint8_t record[32] = {};
      id += 1 + rng() % 3;
      std::memcpy(record, &id, 4);
      const std::uint16_t small = static_cast<std::uint16_t>(rng() % 300);
      std::memcpy(record + 4, &small, 2);
      const float value = static_cast<float>(rng() % 1000) / 8.0f;
      std::memcpy(record + 8, &value, 4);
      const char* name = names[rng() % 6];
      std::memcpy(record + 12, name, std::strlen(name));
      record[28] = static_cast<std::uint8_t>(kind);
      data.insert(data.end(), record, record + sizeof record);
    }
  }
  data.resize(size);
  return data;
}

// A plain greedy parse with a hash of the next three bytes: the longest match
// among the last few positions of that hash, else a literal.
Bytes PackGreedy(const Bytes& data) {
  constexpr std::size_t HashBits = 15;
  constexpr int Candidates = 8;
  std::vector<std::int64_t> head(std::size_t{1} << HashBits, -1);
  std::vector<std::int64_t> previous(data.size(), -1);
  auto hash = [&](std::size_t k) {
    const std::uint32_t v = data[k] | data[k + 1] << 8 | data[k + 2] << 16;
    return (v * 2654435761u) >> (32 - HashBits);
  };
  auto insert = [&](std::size_t k) {
    if (k + 2 >= data.size()) return;
    const auto h = hash(k);
    previous[k] = head[h];
    head[h] = static_cast<std::int64_t>(k);
  };
  Bytes payload;
  std::size_t flagIndex = 0;
  int item = 8;
  std::size_t i = 0;
  while (i < data.size()) {
    if (item == 8) {
      flagIndex = payload.size();
      payload.push_back(0);
      item = 0;
    }
    std::size_t bestLength = 0;
    std::size_t bestDistance = 0;
    if (i + 2 < data.size()) {
      std::int64_t candidate = head[hash(i)];
      for (int n = 0; n < Candidates && candidate >= 0; ++n, candidate = previous[candidate]) {
        const std::size_t distance = i - static_cast<std::size_t>(candidate);
        if (distance >= lzs::WindowSize) break;
        std::size_t length = 0;
        while (length < lzs::MaxCopy && i + length < data.size() &&
               data[candidate + length] == data[i + length]) {
          ++length;
        }
        if (length > bestLength) {
          bestLength = length;
          bestDistance = distance;
        }
      }
    }
    if (bestLength >= lzs::MinCopy) {
      const std::uint32_t position =
          (static_cast<std::uint32_t>(i - bestDistance) - lzs::WindowBias) & lzs::WindowMask;
      payload.push_back(static_cast<std::uint8_t>(position));
      payload.push_back(static_cast<std::uint8_t>((position >> 8) << 4 | (bestLength - lzs::MinCopy)));
      for (std::size_t k = 0; k < bestLength; ++k) insert(i + k);
      i += bestLength;
    } else {
      payload[flagIndex] |= static_cast<std::uint8_t>(1 << item);
      payload.push_back(data[i]);
      insert(i);
      ++i;
    }
    ++item;
  }
  Bytes image(lzs::HeaderSize);
  const auto n = static_cast<std::uint32_t>(payload.size());
  for (std::uint32_t k = 0; k < lzs::HeaderSize; ++k) image[k] = static_cast<std::uint8_t>(n >> (8 * k));
  image.insert(image.end(), payload.begin(), payload.end());
  return image;
}

struct Corpus {
  std::string name;
  Bytes original;
  Bytes image;  // LZS image
  Bytes lz4;    // LZ4 block, HC level 9
};

using Decoder = std::uint32_t (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*);

void BenchDecode(benchmark::State& state, const Corpus* corpus, Decoder decode) {
  Bytes area(lzs::MaxExpansion * (corpus->image.size() - lzs::HeaderSize));
  for (auto _ : state) {
    const std::uint32_t n = decode(corpus->image.data(), static_cast<std::uint32_t>(corpus->image.size()), area.data());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (std::memcmp(area.data(), corpus->original.data(), corpus->original.size()) != 0) {
    state.SkipWithError("decoded bytes differ from the original");
  }
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
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(corpus->lz4.data()),
                                      reinterpret_cast<char*>(to.data()), static_cast<int>(corpus->lz4.size()),
                                      static_cast<int>(to.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (to != corpus->original) state.SkipWithError("LZ4 output differs from the original");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->original.size()));
}

Bytes PackLz4(const Bytes& data) {
  Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(data.size()))));
  const int n = LZ4_compress_HC(reinterpret_cast<const char*>(data.data()), reinterpret_cast<char*>(block.data()),
                                static_cast<int>(data.size()), static_cast<int>(block.size()), 9);
  if (n <= 0) std::abort();
  block.resize(static_cast<std::size_t>(n));
  return block;
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
      if (median || !medians_.count(name)) rates_[name] = it->second.value / 1e6;
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
  std::vector<Corpus> corpora;
  const Bytes text = MakeText(CorpusSize);
  const Bytes binary = MakeBinary(CorpusSize);
  corpora.push_back({"text-greedy", text, PackGreedy(text), PackLz4(text)});
  corpora.push_back({"binary-greedy", binary, PackGreedy(binary), PackLz4(binary)});

  for (const Corpus& corpus : corpora) {
    const Corpus* c = &corpus;
    benchmark::RegisterBenchmark(("fast/" + c->name).c_str(), BenchDecode, c, &DecodeLzs);
    benchmark::RegisterBenchmark(("reference/" + c->name).c_str(), BenchDecode, c, &DecodeLzsReference);
    benchmark::RegisterBenchmark(("memcpy/" + c->name).c_str(), BenchMemcpy, c);
    benchmark::RegisterBenchmark(("lz4/" + c->name).c_str(), BenchLz4, c);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-16s %9s %9s %9s %9s %9s %8s %8s %8s\n", "corpus", "ratio", "fast", "reference", "lz4",
              "memcpy", "fast/ref", "fast/lz4", "lz4ratio");
  for (const Corpus& c : corpora) {
    const double fast = reporter.Rate("fast/" + c.name);
    const double reference = reporter.Rate("reference/" + c.name);
    const double lz4 = reporter.Rate("lz4/" + c.name);
    const double copy = reporter.Rate("memcpy/" + c.name);
    std::printf("%-16s %9.3f %9.0f %9.0f %9.0f %9.0f %8.2f %8.2f %8.3f\n", c.name.c_str(),
                static_cast<double>(c.image.size()) / c.original.size(), fast, reference, lz4, copy,
                reference > 0 ? fast / reference : 0, lz4 > 0 ? fast / lz4 : 0,
                static_cast<double>(c.lz4.size()) / c.original.size());
  }
  std::printf("(MB/s of output, 1 MB = 10^6 bytes; ratio = packed size / original size)\n");
  return 0;
}
