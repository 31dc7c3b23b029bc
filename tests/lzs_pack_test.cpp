// lzs-pack as a user runs it: the built tool, started in a shell.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lzs/decode.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Result {
  int exitCode;
  std::string output;  // stdout and stderr together
};

Result RunPack(const std::string& arguments) {
  const std::string command = std::string("'") + LZS_PACK_PATH + "' " + arguments + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  Result result{-1, {}};
  if (pipe == nullptr) return result;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                               static_cast<std::streamsize>(data.size()));
}

Bytes Unpack(const Bytes& image) {
  Bytes out(lzs::MaxExpansion * image.size() + 1);
  out.resize(lzs::DecodeLzs(image.data(), static_cast<std::uint32_t>(image.size()), out.data()));
  return out;
}

class LzsPack : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lzs_pack_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (int k = 0; k < 5000; ++k) sample_.push_back(static_cast<std::uint8_t>("packing, packed, pack "[k % 22] + k / 1000));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char* name) const { return "'" + (dir_ / name).string() + "'"; }

  fs::path dir_;
  Bytes sample_;
};

TEST_F(LzsPack, PacksToDefaultName) {
  WriteFile(dir_ / "a.bin", sample_);
  const Result result = RunPack(Path("a.bin"));
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output, "");
  const Bytes image = ReadFile(dir_ / "a.bin.lzs");
  EXPECT_LT(image.size(), sample_.size());
  EXPECT_EQ(Unpack(image), sample_);
}

TEST_F(LzsPack, PacksToNamedOutputAndReportsSizes) {
  WriteFile(dir_ / "a.bin", sample_);
  const Result result = RunPack(Path("a.bin") + " -v -o " + Path("out.lzs"));
  EXPECT_EQ(result.exitCode, 0) << result.output;
  const Bytes image = ReadFile(dir_ / "out.lzs");
  EXPECT_EQ(Unpack(image), sample_);
  EXPECT_FALSE(fs::exists(dir_ / "a.bin.lzs"));
  EXPECT_NE(result.output.find("5000 bytes"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find(std::to_string(image.size()) + " bytes"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find('%'), std::string::npos) << result.output;
}

TEST_F(LzsPack, HelpAndVersion) {
  for (const char* option : {"--help", "-h"}) {
    const Result result = RunPack(option);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output.rfind("Usage: lzs-pack INPUT [-o OUTPUT]", 0), 0u) << result.output;
  }
  const Result version = RunPack("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.rfind("lzs-pack ", 0), 0u) << version.output;
}

TEST_F(LzsPack, RefusesBadCommandLines) {
  WriteFile(dir_ / "a.bin", sample_);
  const struct {
    std::string arguments;
    const char* message;
  } cases[] = {
      {"", "no input file"},
      {Path("a.bin") + " -o", "-o needs a file name"},
      {Path("a.bin") + " --bogus", "unknown option '--bogus'"},
      {Path("a.bin") + " " + Path("b.bin"), "only one input file"},
  };
  for (const auto& c : cases) {
    const Result result = RunPack(c.arguments);
    EXPECT_EQ(result.exitCode, 2) << c.arguments;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
  }
  EXPECT_FALSE(fs::exists(dir_ / "a.bin.lzs"));
}

TEST_F(LzsPack, RefusesWhatItCannotPack) {
  WriteFile(dir_ / "empty.bin", {});
  // Random bytes do not pack: 8 MiB of them give an image above 8 MiB.
  Bytes noise(8u << 20);
  std::uint64_t state = 1;
  for (auto& byte : noise) byte = static_cast<std::uint8_t>((state = state * 6364136223846793005ull + 1) >> 56);
  WriteFile(dir_ / "noise.bin", noise);
  WriteFile(dir_ / "a.bin", sample_);
  fs::create_directory(dir_ / "folder");
  const struct {
    std::string arguments;
    const char* message;
    const char* output;
  } cases[] = {
      {Path("missing.bin"), "cannot open", "missing.bin.lzs"},
      {Path("folder"), "cannot read", "folder.lzs"},
      {Path("empty.bin"), "is empty", "empty.bin.lzs"},
      {Path("noise.bin"), "too large", "noise.bin.lzs"},
      {Path("a.bin") + " -o " + Path("no/such/dir.lzs"), "cannot create", "no"},
      {Path("a.bin") + " -o " + Path("folder"), "cannot create", "folder/a.bin.lzs"},
      {Path("a.bin") + " -o " + Path("./a.bin"), "is the input file itself", "a.bin.lzs"},
  };
  for (const auto& c : cases) {
    const Result result = RunPack(c.arguments);
    EXPECT_EQ(result.exitCode, 1) << c.arguments;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << c.arguments << ": " << result.output;
    EXPECT_FALSE(fs::exists(dir_ / c.output)) << c.output;
  }
  EXPECT_EQ(ReadFile(dir_ / "a.bin"), sample_);
}

TEST_F(LzsPack, ReportsAFailedWrite) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  WriteFile(dir_ / "a.bin", sample_);
  const Result result = RunPack(Path("a.bin") + " -o /dev/full");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("cannot write '/dev/full'"), std::string::npos) << result.output;
  EXPECT_TRUE(fs::exists("/dev/full"));
}

}  // namespace
