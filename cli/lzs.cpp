// lzs: packs and unpacks many LZS files at once, in the manner of gzip, zstd
// and lz4. Options in options.cpp, one file's work in jobs.cpp, files and
// threads in files_*.cpp; here: the list of files, the workers, and the
// messages in input order.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/files.hpp"
#include "cli/jobs.hpp"
#include "cli/options.hpp"
#include "cli/paths.hpp"

namespace {

using namespace cli;
using Clock = std::chrono::steady_clock;

// Each worker holds a whole file and its output in memory.
constexpr unsigned MaxThreads = 64;
// The progress line shows for more files than this, or after a second.
constexpr std::size_t FewFiles = 4;

// Adds the files under folder, sorted by name, without following links:
// when unpacking only NAME.SUFFIX files, when packing all others. Links and
// special files that would have been taken are skipped with a warning.
bool AddFolder(const std::string& folder, const Options& options, std::vector<std::string>& files) {
  std::vector<FolderEntry> entries;
  std::string error;
  if (!ListFolder(folder, entries, error)) {
    PutText(2, "lzs: " + folder + ": " + error + "\n");
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  bool ok = true;
  for (const FolderEntry& entry : entries) {
    const std::string name = JoinPath(folder, entry.name, FolderSeparators);
    if (entry.kind == EntryKind::Failed) {
      PutText(2, "lzs: " + name + ": " + entry.error + "\n");
      ok = false;
    } else if (entry.kind == EntryKind::Folder) {
      ok = AddFolder(name, options, files) && ok;
    } else if ((options.mode == Mode::Pack) == HasLzsSuffix(name, options.suffix)) {
      continue;  // not this mode's kind of file
    } else if (entry.kind == EntryKind::File) {
      files.push_back(name);
    } else if (options.verbosity > 0) {
      PutText(2,
              "lzs: " + name + ": " +
                  (entry.kind == EntryKind::Link ? "is a symbolic link" : "is not a regular file") +
                  "; skipped\n");
    }
  }
  return ok;
}

// The first failure to write standard output (errno), reported at the end.
int stdoutError = 0;

void PutOut(const std::string& text) {
  if (stdoutError == 0 && (!PutText(1, text) || std::fflush(stdout) != 0)) {
    stdoutError = errno != 0 ? errno : EIO;
  }
}

// Flushes and closes standard output; false, with a message, when anything
// written there was lost.
bool CloseStandardOutput() {
  errno = 0;
  if (stdoutError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)) {
    stdoutError = errno != 0 ? errno : EIO;
  }
  errno = 0;
  if (std::fclose(stdout) != 0 && stdoutError == 0) stdoutError = errno != 0 ? errno : EIO;
  if (stdoutError == 0) return true;
  std::fprintf(stderr, "lzs: (standard output): cannot write: %s\n", std::strerror(stdoutError));
  return false;
}

// Prints each file's outcome as soon as it and all before it are done, from
// whichever thread gets there; the progress line is drawn between them.
class Reporter {
 public:
  Reporter(std::vector<Outcome>& outcomes, bool progress)
      : outcomes_(outcomes), done_(new std::atomic<bool>[outcomes.size()]), progress_(progress) {
    for (std::size_t k = 0; k < outcomes.size(); ++k) done_[k].store(false);
  }

  void Finished(std::size_t k, std::uint64_t bytes) {
    bytesDone_ += bytes;
    ++filesDone_;
    done_[k].store(true);
    Flush(false);
  }
  void Tick() { Flush(true); }
  void End() {
    Flush(false);
    ClearProgress();
  }
  bool AllOk() const { return allOk_; }

 private:
  // Whoever holds busy_ prints; one that finds it held leaves its outcome to
  // the holder, which looks again after letting go.
  void Flush(bool redraw) {
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

  void Print(Outcome& outcome) {
    ClearProgress();
    if (!outcome.listRow.empty()) PutOut(outcome.listRow);
    PutText(2, outcome.messages);
    allOk_ = allOk_ && outcome.ok;
    outcome.messages = std::string();
    outcome.listRow = std::string();
  }

  void DrawProgress() {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (outcomes_.size() <= FewFiles && seconds < 1.0) return;
    const double mib = static_cast<double>(bytesDone_.load()) / (1 << 20);
    char line[160];
    const int length =
        std::snprintf(line, sizeof line, "lzs: %zu of %zu files, %.1f MiB, %.1f MiB/s",
                      filesDone_.load(), outcomes_.size(), mib, seconds > 0 ? mib / seconds : 0.0);
    PutText(2, "\r" + std::string(line) + std::string(std::max(0, shown_ - length), ' '));
    shown_ = length;
  }

  void ClearProgress() {
    if (shown_ == 0) return;
    PutText(2, "\r" + std::string(shown_, ' ') + "\r");
    shown_ = 0;
  }

  std::vector<Outcome>& outcomes_;
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> busy_{false};
  std::atomic<std::size_t> filesDone_{0};
  std::atomic<std::uint64_t> bytesDone_{0};
  const bool progress_;
  const Clock::time_point start_ = Clock::now();
  int shown_ = 0;  // length of the progress line on screen
  bool allOk_ = true;
};

// 37510112 as "37,510,112".
std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

// With -v and more than one file: "12 files packed: 37,510,112 -> 14,070,221
// bytes (37.51 %)", the sizes of the files done, the output's to the input's.
void PrintSummary(const Options& options, const std::vector<Outcome>& outcomes) {
  std::uint64_t in = 0;
  std::uint64_t out = 0;
  std::size_t files = 0;
  const bool pack = options.mode == Mode::Pack;
  for (const Outcome& outcome : outcomes) {
    if (!outcome.done) continue;
    in += pack ? outcome.unpackedBytes : outcome.packedBytes;
    out += pack ? outcome.packedBytes : outcome.unpackedBytes;
    ++files;
  }
  const char* done = pack ? "packed" : options.mode == Mode::Unpack ? "unpacked" : "tested";
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.2f %%",
                in == 0 ? 0.0 : 100.0 * static_cast<double>(out) / static_cast<double>(in));
  PutText(2, "lzs: " + std::to_string(files) + (files == 1 ? " file " : " files ") + done + ": " +
                 Grouped(in) + " -> " + Grouped(out) + " bytes (" + ratio + ")\n");
}

// The inputs with their patterns expanded (on Windows); a pattern that
// matches nothing is reported and clears ok, and the others are still done.
std::vector<std::string> ExpandedInputs(const std::vector<std::string>& given, bool& ok) {
  std::vector<std::string> inputs;
  std::vector<std::string> names;
  for (const std::string& input : given) {
    std::string error;
    if (input != "-" && !ExpandWildcards(input, names, error)) {
      std::string message = "lzs: ";
      message.append(input).append(": ").append(error).append("\n");
      PutText(2, message);
      ok = false;
      continue;
    }
    if (input == "-") names.assign(1, input);
    inputs.insert(inputs.end(), names.begin(), names.end());
  }
  return inputs;
}

int UsageError(const char* message) {
  if (message != nullptr) PutText(2, std::string("lzs: ") + message + "\n");
  PutText(2, "Try 'lzs --help' for more information.\n");
  return 2;
}

int Run(const Options& options) {
  const bool writes = options.mode == Mode::Pack || options.mode == Mode::Unpack;
  PrepareFiles(writes);

  bool ok = true;
  std::vector<std::string> inputs;
  for (const std::string& input : ExpandedInputs(options.inputs, ok)) {
    if (options.recursive && input != "-" && IsFolder(input)) {
      ok = AddFolder(input, options, inputs) && ok;
    } else {
      inputs.push_back(input);
    }
  }

  std::vector<Job> jobs;
  bool toStdout = false;
  bool fromStdin = false;
  for (const std::string& input : inputs) {
    Job job{input, {}, {}};
    if (writes && !options.output.empty()) {
      job.output = options.output;
    } else if (writes && !options.toStdout && input != "-") {
      job.output = DefaultOutputName(options, input);
    }
    toStdout = toStdout || (writes && job.output.empty());
    fromStdin = fromStdin || input == "-";
    jobs.push_back(job);
  }
  if (!options.output.empty() && jobs.size() != 1)
    return UsageError("-o takes exactly one input file");
  if (options.mode == Mode::Pack && toStdout && jobs.size() > 1) {
    return UsageError(
        "only one input can be packed to standard output: LZS images cannot be joined");
  }
  if (toStdout && options.mode == Mode::Pack && !options.force && IsTerminal(1)) {
    PutText(2, "lzs: will not write packed data to a terminal (use -f to force)\n");
    return 1;
  }
  if (fromStdin && options.mode != Mode::Pack && IsTerminal(0)) {
    PutText(2, "lzs: will not read packed data from a terminal\n");
    return 1;
  }

  RefuseClashes(jobs);

  std::vector<Outcome> outcomes(jobs.size());
  Reporter reporter(outcomes, options.verbosity > 0 && options.progress && IsTerminal(2));
  if (options.threads > MaxThreads && options.verbosity > 0) {
    PutText(2, "lzs: warning: -T " + std::to_string(options.threads) + ": at most " +
                   std::to_string(MaxThreads) + " files are worked on at once\n");
  }
  unsigned threads = options.threads != 0 ? options.threads : CoreCount();
  // Standard output takes the files' bytes one after another.
  if (toStdout || fromStdin) threads = 1;
  threads = static_cast<unsigned>(std::min<std::size_t>({threads, MaxThreads, jobs.size()}));

  if (options.mode == Mode::List) PutOut(ListHeader());
  std::atomic<std::size_t> nextJob{0};
  reporter.Tick();  // a large batch shows its progress line at once
  RunWorkers(
      std::max(threads, 1u),
      [&] {
        Workspace work;
        if (options.mode == Mode::Pack) work.encoder = lzs_encoder_create();
        for (std::size_t k; (k = nextJob++) < jobs.size();) {
          RunJob(options, jobs[k], work, outcomes[k]);
          const Outcome& done = outcomes[k];
          reporter.Finished(k, options.mode == Mode::Pack ? done.unpackedBytes : done.packedBytes);
        }
      },
      [&] { reporter.Tick(); });
  reporter.End();

  if (options.mode == Mode::List && jobs.size() > 1) {
    std::uint64_t packed = 0;
    std::uint64_t unpacked = 0;
    std::size_t listed = 0;
    for (const Outcome& outcome : outcomes) {
      if (!outcome.ok) continue;
      packed += outcome.packedBytes;
      unpacked += outcome.unpackedBytes;
      ++listed;
    }
    PutOut(ListRow(packed, unpacked, "(total, " + std::to_string(listed) + " files)"));
  } else if (options.verbosity > 1 && jobs.size() > 1) {
    PrintSummary(options, outcomes);
  }
  return ok && reporter.AllOk() ? 0 : 1;
}

// Whether the command line holds file names only: what Explorer passes for
// files dropped on the program.
bool OnlyFileNames(int argc, char** argv) {
  for (int k = 1; k < argc; ++k) {
    if (argv[k][0] == '-' || IsHelpSwitch(argv[k])) return false;
  }
  return true;
}

// Started from Explorer with file names only: each NAME.lzs is unpacked and
// every other file packed, with a line for each, existing outputs kept; with
// no file (a double-click), the help. Then the window waits for Enter, so
// that it can be read before it closes.
int RunFromExplorer(int argc, char** argv) {
  Options unpack;
  unpack.mode = Mode::Unpack;
  unpack.verbosity = 2;
  Options pack = unpack;
  pack.mode = Mode::Pack;
  for (int k = 1; k < argc; ++k) {
    (HasLzsSuffix(argv[k], unpack.suffix) ? unpack : pack).inputs.emplace_back(argv[k]);
  }
  int status = 0;
  if (unpack.inputs.empty() && pack.inputs.empty()) {
    ShowHelp();
  } else {
    for (const Options* options : {&unpack, &pack}) {
      if (!options->inputs.empty()) status = std::max(status, Run(*options));
    }
  }
  WaitForEnter();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  try {
    if (StartedFromExplorer() && OnlyFileNames(argc, argv)) {
      status = RunFromExplorer(argc, argv);
      return CloseStandardOutput() ? status : 1;
    }
    Options options;
    SetDefaultsForName(argc > 0 ? argv[0] : nullptr, options);
    switch (ParseOptions(argc, argv, options)) {
      case ParseResult::Exit: break;
      case ParseResult::UsageError: return UsageError(nullptr);
      case ParseResult::Run: status = Run(options); break;
    }
  } catch (const std::bad_alloc&) {
    std::fputs("lzs: out of memory\n", stderr);
    status = 1;
  } catch (...) {
    std::fputs("lzs: failed (unexpected error)\n", stderr);
    status = 1;
  }
  return CloseStandardOutput() ? status : 1;
}
