#include "cli/report.hpp"

#include "cli/console.hpp"
#include "cli/messages.hpp"

namespace cli {
namespace {

// The progress line shows for more files than this, or after a second.
constexpr std::size_t FewFiles = 4;

}  // namespace

Reporter::Reporter(std::vector<Outcome>& outcomes, bool progress)
    : outcomes_(outcomes), done_(new std::atomic<bool>[outcomes.size()]), progress_(progress) {
  for (std::size_t k = 0; k < outcomes.size(); ++k) done_[k].store(false);
}

void Reporter::Finished(std::size_t k, std::uint64_t bytes) {
  bytesDone_ += bytes;
  ++filesDone_;
  done_[k].store(true);
  Flush(false);
}

void Reporter::End() {
  Flush(false);
  ClearProgress();
}

// Whoever holds busy_ prints; one that finds it held leaves its outcome to
// the holder, which looks again after letting go.
void Reporter::Flush(bool redraw) {
  for (;;) {
    if (busy_.exchange(true)) return;
    std::size_t next = next_.load();
    while (next < outcomes_.size() && done_[next].load()) Print(outcomes_[next++]);
    next_.store(next);
    if (redraw && progress_) DrawProgress();
    busy_.store(false);
    if (next == outcomes_.size() || !done_[next].load()) return;
    redraw = false;
  }
}

void Reporter::Print(Outcome& outcome) {
  ClearProgress();
  if (!outcome.out.empty()) PutText(1, outcome.out);
  PutText(2, outcome.messages);
  allOk_ = allOk_ && outcome.ok;
  outcome.messages = std::string();
  outcome.out = std::string();
}

void Reporter::DrawProgress() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (outcomes_.size() <= FewFiles && seconds < 1.0) return;
  const std::string line =
      outcomes_.size() == 1
          ? FileProgressLine(file_.bytes.load(), file_.total.load(), seconds)
          : ProgressLine(filesDone_.load(), outcomes_.size(), bytesDone_.load(), seconds);
  PutText(2, "\r" + line + std::string(shown_ > line.size() ? shown_ - line.size() : 0, ' '));
  shown_ = line.size();
}

void Reporter::ClearProgress() {
  if (shown_ == 0) return;
  PutText(2, "\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

void PrintTotals(const Options& options, const std::vector<Job>& jobs,
                 const std::vector<Outcome>& outcomes, std::size_t lost) {
  for (const Mode mode : {Mode::Unpack, Mode::Pack, Mode::Test, Mode::List}) {
    std::uint64_t packed = 0;
    std::uint64_t unpacked = 0;
    const bool runMode = mode == options.mode;
    std::size_t given = runMode ? lost : 0;
    std::size_t failed = runMode ? lost : 0;
    std::size_t files = 0;
    for (std::size_t k = 0; k < jobs.size(); ++k) {
      const Outcome& outcome = outcomes[k];
      if (jobs[k].mode != mode) continue;
      ++given;
      if (!outcome.ok) ++failed;
      if (!(mode == Mode::List ? outcome.ok : outcome.done)) continue;
      packed += outcome.packedBytes;
      unpacked += outcome.unpackedBytes;
      ++files;
    }
    if (given < 2) continue;
    if (mode == Mode::List && files > 0) {
      PutText(1, ListTotal(packed, unpacked, files, failed));
    } else if (options.verbosity > 0 && (failed > 0 || (options.verbosity > 1 && files > 0))) {
      const char* done = mode == Mode::Pack     ? "packed"
                         : mode == Mode::Unpack ? "unpacked"
                         : mode == Mode::Test   ? "tested"
                                                : "listed";
      PutText(2, Summary(files, done, mode == Mode::Pack, packed, unpacked, failed));
    }
  }
}

}  // namespace cli
