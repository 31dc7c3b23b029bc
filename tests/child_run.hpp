// Runs the program in a forked child and collects what it did: the exit
// status, the platform calls in order, and the notices it wrote to stderr.
// RunDecompression ends the process, so each run needs a process of its own;
// the child starts from a zeroed runState, whatever the tests run before in
// this process left in it.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/run.hpp"
#include "app/run_state.hpp"
#include "tests/support/fault_injection.hpp"
#include "tests/support/images.hpp"

namespace testrun {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;  // -1: the child did not end through _exit
  std::vector<std::string> calls;
  std::string notices;  // everything written to stderr
};

inline std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return text;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// In the child, inside dir: a zeroed run state, a clean fault plan and no
// last-error code (as in a fresh process), then setUp (the plan, the command line), then the run.
inline Outcome RunInChild(const fs::path& dir, const std::function<void()>& setUp) {
  int calls[2];
  int notices[2];
  if (pipe(calls) != 0 || pipe(notices) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork failed";
    return {};
  }
  if (child == 0) {
    close(calls[0]);
    close(notices[0]);
    if (dup2(notices[1], STDERR_FILENO) < 0 || chdir(dir.c_str()) != 0) _exit(127);
    runState = RunState{};
    fault::Reset();
    SetLastError(NO_ERROR);
    setUp();
    fault::SendCallsAtExit(calls[1]);
    RunDecompression();
  }
  close(calls[1]);
  close(notices[1]);
  Outcome outcome;
  // The notices are far smaller than a pipe's buffer, so reading the calls
  // (sent at the very end) first cannot stall the child.
  outcome.calls = Lines(ReadAll(calls[0]));
  outcome.notices = ReadAll(notices[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  return outcome;
}

inline std::optional<std::string> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void PutFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// The 4-byte little-endian payload length, then the payload.
inline std::string WithHeader(const std::string& payload) {
  const auto n = static_cast<std::uint32_t>(payload.size());
  std::string image;
  for (int shift = 0; shift < 32; shift += 8) image += static_cast<char>(n >> shift & 0xFF);
  return image + payload;
}

// data as groups of literals only: a flag byte of all ones before every
// eight bytes (bits past the end of the payload are ignored).
inline std::string LiteralPayload(const std::string& data) {
  std::string payload;
  for (std::size_t k = 0; k < data.size(); ++k) {
    if (k % 8 == 0) payload += '\xFF';
    payload += data[k];
  }
  return payload;
}

// The worked example as file contents.
inline const std::string WorkedExample(testdata::WorkedExample.begin(),
                                       testdata::WorkedExample.end());
inline const std::string WorkedExampleOutput = testdata::WorkedExampleDecoded;

// A fresh, empty folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::path(::testing::TempDir()) / "lzs-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

}  // namespace testrun
