// make-corpus OUTDIR [SIZE]: writes two deterministic sample files of SIZE
// bytes (default 8 MiB) for the tests and benchmarks, the same bytes on every
// run and every machine (the generator is ours, seeded with constants).
// OUTDIR is created when it does not exist.
//
// text.bin   English-like prose: words drawn with Zipf-like frequencies from
//            a fixed list of common words plus made-up rarer words, sentences
//            with capitals, commas and full stops, lines wrapped at 72
//            columns with LF, blank lines between paragraphs, and now and
//            then a number or a year.
// binary.bin The kind of data found in game and application files, in
//            sections of a few KiB each: tables of 32-byte little-endian
//            records (rising ids, small type codes, coordinates that drift,
//            names from a short list padded with zeros), arrays of small
//            16- and 32-bit integers, palette-indexed pixel rows with runs,
//            zero padding, and blocks of random bytes (about 5% of the file).
#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// splitmix64: small, fast, and the same everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number from 0 to bound - 1.
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

 private:
  std::uint64_t state_;
};

constexpr const char* CommonWords[] = {
    "the",     "of",    "and",     "to",      "a",      "in",      "is",      "it",       "that",
    "was",     "for",   "on",      "are",     "with",   "as",      "he",      "be",       "at",
    "by",      "this",  "had",     "not",     "but",    "from",    "or",      "have",     "an",
    "they",    "which", "one",     "you",     "were",   "her",     "all",     "she",      "there",
    "would",   "their", "we",      "him",     "been",   "has",     "when",    "who",      "will",
    "more",    "no",    "if",      "out",     "so",     "said",    "what",    "up",       "its",
    "about",   "into",  "than",    "them",    "can",    "only",    "other",   "new",      "some",
    "could",   "time",  "these",   "two",     "may",    "then",    "do",      "first",    "any",
    "my",      "now",   "such",    "like",    "our",    "over",    "man",     "me",       "even",
    "most",    "made",  "after",   "also",    "did",    "many",    "before",  "must",     "through",
    "back",    "years", "where",   "much",    "your",   "way",     "well",    "down",     "should",
    "because", "each",  "just",    "those",   "people", "how",     "too",     "little",   "state",
    "good",    "very",  "make",    "world",   "still",  "own",     "see",     "men",      "work",
    "long",    "get",   "here",    "between", "both",   "life",    "being",   "under",    "never",
    "day",     "same",  "another", "know",    "while",  "last",    "might",   "us",       "great",
    "old",     "year",  "off",     "come",    "since",  "against", "go",      "came",     "right",
    "used",    "take",  "three",   "house",   "water",  "file",    "window",  "river",    "road",
    "light",   "stone", "village", "letter",  "number", "morning", "evening", "question", "answer",
    "country", "city",  "garden",  "machine"};

const char* const Syllables[] = {"ka",  "ther", "lo",  "min", "ar",  "vel", "tis",
                                 "on",  "dra",  "pe",  "rus", "ent", "mo",  "sil",
                                 "qua", "bri",  "dor", "ec",  "fa",  "gun"};

std::vector<std::uint8_t> MakeText(std::size_t size) {
  Random random(0x7E47C0DE);
  // The vocabulary: the common words, then 3000 made-up ones.
  std::vector<std::string> words(std::begin(CommonWords), std::end(CommonWords));
  while (words.size() < 3000) {
    std::string word;
    for (std::uint32_t n = 1 + random.Below(3); n > 0; --n) word += Syllables[random.Below(20)];
    words.push_back(word);
  }
  // Zipf-like weights: rank r has weight 1 / (r + 1).
  std::vector<double> cumulative;
  double total = 0;
  for (std::size_t r = 0; r < words.size(); ++r)
    cumulative.push_back(total += 1.0 / static_cast<double>(r + 1));

  std::string out;
  std::size_t column = 0;
  bool sentenceStart = true;
  std::uint32_t wordsInParagraph = 0;
  while (out.size() < size) {
    std::string word;
    const std::uint32_t kind = random.Below(100);
    if (kind < 2) {
      word = std::to_string(1800 + random.Below(225));
    } else if (kind < 4) {
      word = std::to_string(random.Below(1000));
    } else {
      const double pick = static_cast<double>(random.Next() >> 11) / 9007199254740992.0 * total;
      std::size_t lo = 0;
      std::size_t hi = cumulative.size() - 1;
      while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (cumulative[mid] < pick) lo = mid + 1;
        else hi = mid;
      }
      word = words[lo];
    }
    if (sentenceStart && word[0] >= 'a' && word[0] <= 'z')
      word[0] = static_cast<char>(word[0] - 'a' + 'A');
    sentenceStart = false;
    const std::uint32_t end = random.Below(100);
    if (end < 8) {
      word += '.';
      sentenceStart = true;
    } else if (end < 14) {
      word += ',';
    }
    if (column > 0 && column + 1 + word.size() > 72) {
      out += '\n';
      column = 0;
    } else if (column > 0) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    if (sentenceStart && ++wordsInParagraph > 40 + random.Below(80)) {
      out += "\n\n";
      column = 0;
      wordsInParagraph = 0;
    }
  }
  out.resize(size);
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::vector<std::uint8_t> MakeBinary(std::size_t size) {
  Random random(0xB1A7B1A7);
  constexpr const char* Names[] = {"door", "torch", "guard", "chest",
                                   "key",  "wall",  "lamp",  "ogre"};
  std::vector<std::uint8_t> out;
  std::uint32_t nextId = 1000;
  while (out.size() < size) {
    const std::uint32_t section = random.Below(100);
    if (section < 35) {
      // A table of 32-byte records.
      std::int32_t x = static_cast<std::int32_t>(random.Below(4096));
      std::int32_t y = static_cast<std::int32_t>(random.Below(4096));
      for (std::uint32_t n = 20 + random.Below(200); n > 0; --n) {
        Put32(out, nextId++);
        Put16(out, random.Below(12));                              // type
        Put16(out, random.Below(4) == 0 ? random.Below(256) : 0);  // flags
        x += static_cast<std::int32_t>(random.Below(33)) - 16;
        y += static_cast<std::int32_t>(random.Below(33)) - 16;
        Put32(out, static_cast<std::uint32_t>(x));
        Put32(out, static_cast<std::uint32_t>(y));
        Put32(out, 100 * random.Below(20));  // hit points
        const std::string name = Names[random.Below(8)];
        for (std::size_t k = 0; k < 12; ++k)
          out.push_back(static_cast<std::uint8_t>(k < name.size() ? name[k] : 0));
      }
    } else if (section < 55) {
      // Small 16-bit integers, slowly changing.
      std::uint32_t v = random.Below(64);
      for (std::uint32_t n = 200 + random.Below(1500); n > 0; --n) {
        if (random.Below(4) == 0) v = (v + random.Below(7) + 61) % 64;
        Put16(out, v);
      }
    } else if (section < 70) {
      // Small 32-bit integers: counts and offsets.
      std::uint32_t offset = random.Below(65536);
      for (std::uint32_t n = 100 + random.Below(700); n > 0; --n) {
        if (random.Below(2) == 0) {
          Put32(out, random.Below(16));
        } else {
          offset += 4 * random.Below(64);
          Put32(out, offset);
        }
      }
    } else if (section < 88) {
      // Pixel rows of palette indices: runs of a few colours.
      const std::uint32_t width = 64u << random.Below(3);
      const std::uint8_t base = static_cast<std::uint8_t>(16 * random.Below(16));
      for (std::uint32_t row = 8 + random.Below(24); row > 0; --row) {
        for (std::uint32_t x = 0; x < width;) {
          const std::uint32_t run = 1 + random.Below(12);
          const auto colour = static_cast<std::uint8_t>(base + random.Below(6));
          for (std::uint32_t k = 0; k < run && x < width; ++k, ++x) out.push_back(colour);
        }
      }
    } else if (section < 94) {
      // Zero padding up to a 512-byte boundary, or a bit more.
      const std::size_t end = (out.size() / 512 + 1 + random.Below(2)) * 512;
      out.resize(end, 0);
    } else {
      // Noise: compressed or encrypted data.
      for (std::uint32_t n = 256 + random.Below(2048); n > 0; --n)
        out.push_back(static_cast<std::uint8_t>(random.Next() >> 56));
    }
  }
  out.resize(size);
  return out;
}

bool WriteFile(const std::string& name, const std::vector<std::uint8_t>& data) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) {
    std::perror(name.c_str());
    return false;
  }
  const bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  if (std::fclose(file) != 0 || !ok) {
    std::perror(name.c_str());
    return false;
  }
  return true;
}

}  // namespace

constexpr const char* Usage = "Usage: make-corpus [--help] OUTDIR [SIZE]\n";
constexpr const char* Help =
    "Writes OUTDIR/text.bin (English-like prose) and OUTDIR/binary.bin (records,\n"
    "integers, pixel rows, padding and noise), SIZE bytes each (default 8388608),\n"
    "the same bytes on every run. OUTDIR is created if need be.\n"
    "\n"
    "  -h, --help  show this help and exit\n";

int main(int argc, char** argv) {
  static const option LongOptions[] = {{"help", no_argument, nullptr, 'h'}, {}};
  for (int c; (c = getopt_long(argc, argv, "h", LongOptions, nullptr)) != -1;) {
    if (c == 'h') {
      std::fputs(Usage, stdout);
      std::fputs(Help, stdout);
      return 0;
    }
    std::fputs(Usage, stderr);  // getopt_long has said what was wrong
    return 2;
  }
  const int operands = argc - optind;
  if (operands < 1 || operands > 2) {
    std::fputs(Usage, stderr);
    std::fputs(Help, stderr);
    return 2;
  }
  std::size_t size = 8u << 20;
  if (operands == 2) {
    const char* text = argv[optind + 1];
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != 0 || value > (1ull << 32)) {
      std::fprintf(stderr, "make-corpus: bad size '%s'\n", text);
      return 2;
    }
    size = static_cast<std::size_t>(value);
  }
  const std::string dir = argv[optind];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "make-corpus: %s: %s\n", dir.c_str(), error.message().c_str());
    return 1;
  }
  if (!WriteFile(dir + "/text.bin", MakeText(size))) return 1;
  if (!WriteFile(dir + "/binary.bin", MakeBinary(size))) return 1;
  return 0;
}
