// make-corpus as the tests and benchmarks use it: same files on every run.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "lzs/encode.hpp"
#include "tests/case_names.hpp"

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

// The command line: each row runs make-corpus inside a fresh folder and
// checks its exit code, the start of its standard output, and the folder
// (relative to that one) where it wrote its files, if any.
struct CommandCase {
  const char* name;
  const char* arguments;
  int exitCode;
  const char* outputStart;
  const char* writes;  // nullptr: no files written
};

const CommandCase CommandCases[] = {
    {"a missing folder is created", "new/deeper 1000", 0, "", "new/deeper"},
    {"an existing folder", ". 1000", 0, "", "."},
    {"--help shows the help", "--help", 0, "Usage: make-corpus", nullptr},
    {"-h shows the help", "-h more", 0, "Usage: make-corpus", nullptr},
    {"a folder named --help after --", "-- --help 1000", 0, "", "--help"},
    {"an unknown long option", "--bogus x", 2, "", nullptr},
    {"an unknown short option", "-x x", 2, "", nullptr},
    {"no folder", "", 2, "", nullptr},
    {"one operand too many", "x 1000 1", 2, "", nullptr},
    {"a bad size", "x 12x", 2, "", nullptr},
    {"a file where the folder goes", "file/x 1000", 1, "", nullptr},
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.name; }

class MakeCorpusCommandTest : public testing::TestWithParam<CommandCase> {};

TEST_P(MakeCorpusCommandTest, EndsAndWritesAsExpected) {
  const CommandCase& c = GetParam();
  const fs::path dir =
      fs::temp_directory_path() / ("make_corpus_command_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "file") << "in the way";
  const std::string command =
      "cd '" + dir.string() + "' && " + MAKE_CORPUS_PATH + " " + c.arguments + " 2>/dev/null";
  std::string output;
  int status = -1;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      output.append(buffer, n);
    status = ::pclose(pipe);
  }
  ASSERT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << command;
  EXPECT_EQ(output.substr(0, std::string(c.outputStart).size()), c.outputStart);
  if (c.writes != nullptr) {
    EXPECT_EQ(fs::file_size(dir / c.writes / "text.bin"), 1000u);
    EXPECT_EQ(fs::file_size(dir / c.writes / "binary.bin"), 1000u);
  }
  // Nothing written anywhere else: only the file put there, and what the row
  // expects.
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) files += entry.is_regular_file();
  EXPECT_EQ(files, c.writes != nullptr ? 3u : 1u);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, MakeCorpusCommandTest, testing::ValuesIn(CommandCases),
                         CaseName());

}  // namespace
