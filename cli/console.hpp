// Text on the standard streams, and the order it comes in: messages on
// standard error, listings and help on standard output, each file's in the
// order of the command line, with a progress line between them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/files.hpp"
#include "cli/jobs.hpp"

namespace cli {

// Writes text (UTF-8; on Windows text in the process code page) on standard
// output (1) or standard error (2); false when it was not all written. The
// first failure on standard output is kept for CloseStandardOutput.
bool PutText(int stream, const std::string& text);
// Data on standard output.
bool WriteStandardOutput(const std::uint8_t* data, std::size_t size, Failure& failure);
inline bool IsTerminal(int stream) { return os::IsTerminal(stream); }
// Closes standard output; false, with a message, when anything written
// there was lost.
bool CloseStandardOutput();

// Prints each file's outcome as soon as it and all before it are done, from
// whichever thread gets there; the progress line is drawn between them.
class Reporter {
 public:
  Reporter(std::vector<Outcome>& outcomes, bool progress);
  void Finished(std::size_t k, std::uint64_t bytes);
  void Tick() { Flush(true); }
  void End();
  // Whether every file was done, and done well.
  bool AllOk() const { return allOk_ && filesDone_.load() == outcomes_.size(); }

 private:
  void Flush(bool redraw);
  void Print(Outcome& outcome);
  void DrawProgress();
  void ClearProgress();

  std::vector<Outcome>& outcomes_;
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> busy_{false};
  std::atomic<std::size_t> filesDone_{0};
  std::atomic<std::uint64_t> bytesDone_{0};
  const bool progress_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::size_t shown_ = 0;  // length of the progress line on screen
  bool allOk_ = true;
};

}  // namespace cli
