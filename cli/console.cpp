#include "cli/console.hpp"

#include "cli/messages.hpp"

namespace cli {
namespace {

// The progress line shows for more files than this, or after a second.
constexpr std::size_t FewFiles = 4;

// The first failure to write standard output, told at the end.
os::Error stdoutError = 0;

}  // namespace

bool PutText(int stream, const std::string& text) {
  const os::Error error = os::WriteText(stream, text);
  if (error != 0 && stream == 1 && stdoutError == 0) stdoutError = error;
  return error == 0;
}

bool WriteStandardOutput(const std::uint8_t* data, std::size_t size, Failure& failure) {
  const os::Error error = os::Write(os::StandardOutput(), data, size);
  if (error != 0) failure.reason = SystemReason("cannot write", error);
  return error == 0;
}

bool CloseStandardOutput() {
  const os::Error closed = os::CloseStandardOutput();
  if (stdoutError == 0) stdoutError = closed;
  if (stdoutError == 0) return true;
  Say("(standard output): " + SystemReason("cannot write", stdoutError));
  return false;
}

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
      ProgressLine(filesDone_.load(), outcomes_.size(), bytesDone_.load(), seconds);
  PutText(2, "\r" + line + std::string(shown_ > line.size() ? shown_ - line.size() : 0, ' '));
  shown_ = line.size();
}

void Reporter::ClearProgress() {
  if (shown_ == 0) return;
  PutText(2, "\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

}  // namespace cli
