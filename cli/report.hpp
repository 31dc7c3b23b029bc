// What the user sees of a batch while it runs and when it ends: each
// file's messages, in the order of the command line, as soon as it and all
// before it are done, with a progress line between them; then the totals.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "cli/jobs.hpp"
#include "cli/options.hpp"

namespace cli {

// Prints each file's outcome as soon as it and all before it are done, from
// whichever thread gets there; the progress line is drawn between them.
class Reporter {
 public:
  Reporter(std::vector<Outcome>& outcomes, bool progress);
  // Where the jobs tell how far a single file is: its progress line shows
  // bytes, not files.
  FileProgress* File() { return progress_ && outcomes_.size() == 1 ? &file_ : nullptr; }
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
  FileProgress file_;
  std::size_t shown_ = 0;  // length of the progress line on screen
  bool allOk_ = true;
};

// The totals, for each mode of which more than one file was given (files
// dropped on lzs.exe are unpacked and packed): -l's total line of the files
// listed; and on standard error, with -v or when any file failed, the total
// of the files done and how many failed. lost counts the files of the run's
// mode that failed before they became jobs (a folder -r could not read).
// -q leaves out the line on standard error.
void PrintTotals(const Options& options, const std::vector<Job>& jobs,
                 const std::vector<Outcome>& outcomes, std::size_t lost);

}  // namespace cli
