// make-corpus as the tests and benchmarks use it: same files on every run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lzs/encode.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(MakeCorpus, WritesTheSameFilesOfTheGivenSize) {
  const fs::path dir =
      fs::temp_directory_path() / ("make_corpus_test_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  for (const char* run : {"a", "b"}) {
    fs::create_directories(dir / run);
    const std::string command =
        std::string(MAKE_CORPUS_PATH) + " '" + (dir / run).string() + "' 300000";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  for (const char* name : {"text.bin", "binary.bin"}) {
    const Bytes first = ReadFile(dir / "a" / name);
    EXPECT_EQ(first.size(), 300000u) << name;
    EXPECT_EQ(first, ReadFile(dir / "b" / name)) << name;
  }
  const Bytes text = ReadFile(dir / "a" / "text.bin");
  EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                          [](std::uint8_t c) { return c == '\n' || (c >= ' ' && c < 127); }));
  // Both pack, unlike noise, and the text less well than the records.
  const double textRatio =
      static_cast<double>(lzs::EncodeLzs(text.data(), text.size()).size()) / text.size();
  const Bytes binary = ReadFile(dir / "a" / "binary.bin");
  const double binaryRatio =
      static_cast<double>(lzs::EncodeLzs(binary.data(), binary.size()).size()) / binary.size();
  EXPECT_LT(textRatio, 0.7);
  EXPECT_LT(binaryRatio, textRatio);
  fs::remove_all(dir);
}

TEST(MakeCorpus, RefusesABadSize) {
  const std::string command = std::string(MAKE_CORPUS_PATH) + " /tmp 12x 2>/dev/null";
  EXPECT_NE(std::system(command.c_str()), 0);
}

}  // namespace
