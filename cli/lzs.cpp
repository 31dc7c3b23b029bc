// lzs: packs and unpacks many LZS files at once, in the manner of gzip, zstd
// and lz4; started as lzs-pack, it packs one file by lzs-pack's command
// line. Options in options.cpp, one file's work in jobs.cpp, the rules for
// files in files.cpp, messages in messages.cpp and console.cpp, the workers
// in workers.cpp; here: the list of files, the workers' loop, the totals.
#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "cli/console.hpp"
#include "cli/files.hpp"
#include "cli/jobs.hpp"
#include "cli/messages.hpp"
#include "cli/options.hpp"
#include "cli/paths.hpp"
#include "cli/shell.hpp"
#include "cli/workbench.hpp"
#include "cli/workers.hpp"

namespace {

using namespace cli;

// Each worker holds a whole file and its output in memory.
constexpr unsigned long MaxThreads = 64;

// Adds the files under folder, sorted by name, without following links:
// when unpacking only NAME.SUFFIX files, when packing all others. Links and
// special files that would have been taken are skipped with a warning.
bool AddFolder(const std::string& folder, const Options& options, std::vector<std::string>& files) {
  std::vector<os::Entry> entries;
  Failure failure;
  if (!ListFolder(folder, entries, failure)) {
    PutText(2, Line(folder, failure.reason));
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const os::Entry& a, const os::Entry& b) { return a.name < b.name; });
  bool ok = true;
  for (const os::Entry& entry : entries) {
    const std::string name = JoinPath(folder, entry.name);
    if (entry.error != 0) {
      PutText(2, Line(name, SystemReason("cannot read", entry.error)));
      ok = false;
    } else if (entry.kind == os::Kind::Folder) {
      ok = AddFolder(name, options, files) && ok;
    } else if ((options.mode == Mode::Pack) == HasLzsSuffix(name, options.suffix)) {
      continue;  // not this mode's kind of file
    } else if (entry.kind == os::Kind::File) {
      files.push_back(name);
    } else if (options.verbosity > 0) {
      PutText(2, Line(name, entry.kind == os::Kind::Link ? "is a symbolic link; skipped"
                                                         : "is not a regular file; skipped"));
    }
  }
  return ok;
}

// The inputs with their patterns expanded (on Windows); a pattern that
// matches nothing is reported and clears ok, and the others are still done.
std::vector<std::string> ExpandedInputs(const Options& options, bool& ok) {
  std::vector<std::string> inputs;
  std::vector<std::string> names;
  for (const std::string& input : options.inputs) {
    std::string error;
    const bool standard = input == "-" && options.face == Face::Lzs;
    if (!standard && !ExpandWildcards(input, names, error)) {
      PutText(2, Line(input, error));
      ok = false;
      continue;
    }
    if (standard) names.assign(1, input);
    inputs.insert(inputs.end(), names.begin(), names.end());
  }
  return inputs;
}

int UsageError() {
  PutText(2, "Try '" + ProgramName() + " --help' for more information.\n");
  return 2;
}

// For more than one file of a mode (files dropped on lzs.exe are unpacked
// and packed): -l's total line of the files listed, -v's total of the files
// done; nothing when no file was.
void PrintTotals(const std::vector<Job>& jobs, const std::vector<Outcome>& outcomes) {
  for (const Mode mode : {Mode::Unpack, Mode::Pack, Mode::Test, Mode::List}) {
    std::uint64_t packed = 0;
    std::uint64_t unpacked = 0;
    std::size_t given = 0;
    std::size_t files = 0;
    for (std::size_t k = 0; k < jobs.size(); ++k) {
      const Outcome& outcome = outcomes[k];
      if (jobs[k].mode != mode) continue;
      ++given;
      if (!(mode == Mode::List ? outcome.ok : outcome.done)) continue;
      packed += outcome.packedBytes;
      unpacked += outcome.unpackedBytes;
      ++files;
    }
    if (given < 2 || files == 0) continue;
    if (mode == Mode::List) {
      PutText(1, ListRow(packed, unpacked, "(total, " + Count(files, "file") + ")"));
    } else {
      const char* done = mode == Mode::Pack     ? "packed"
                         : mode == Mode::Unpack ? "unpacked"
                                                : "tested";
      PutText(2, Summary(files, done, mode == Mode::Pack, packed, unpacked));
    }
  }
}

int Run(const Options& options) {
  bool ok = true;
  std::vector<std::string> inputs;
  for (const std::string& input : ExpandedInputs(options, ok)) {
    if (options.recursive && input != "-" && IsFolder(input)) {
      ok = AddFolder(input, options, inputs) && ok;
    } else {
      inputs.push_back(input);
    }
  }

  std::vector<Job> jobs;
  bool toStdout = false;
  bool fromStdin = false;
  bool packs = false;
  for (const std::string& input : inputs) {
    Job job;
    job.input = input;
    job.fromStdin = input == "-" && options.face == Face::Lzs;
    job.mode = ModeFor(options, input);
    const bool writes = job.mode == Mode::Pack || job.mode == Mode::Unpack;
    if (writes && !options.output.empty()) {
      job.output = options.output;
    } else if (writes && !options.toStdout && !job.fromStdin) {
      job.output = DefaultOutputName(options, job.mode, input);
    }
    toStdout = toStdout || (writes && job.output.empty());
    fromStdin = fromStdin || job.fromStdin;
    packs = packs || job.mode == Mode::Pack;
    jobs.push_back(job);
  }
  if (!options.output.empty() && jobs.size() != 1) {
    Say("-o takes exactly one input file");
    return UsageError();
  }
  if (options.mode == Mode::Pack && toStdout && jobs.size() > 1) {
    Say("only one input can be packed to standard output: LZS images cannot be joined");
    return UsageError();
  }
  if (toStdout && options.mode == Mode::Pack && !options.force && IsTerminal(1)) {
    Say("will not write packed data to a terminal (use -f to force)");
    return 1;
  }
  if (fromStdin && options.mode != Mode::Pack && IsTerminal(0)) {
    Say("will not read packed data from a terminal");
    return 1;
  }

  DecideJobs(options, jobs);

  std::vector<Outcome> outcomes(jobs.size());
  Reporter reporter(outcomes, options.verbosity > 0 && options.progress && IsTerminal(2));
  if (options.threads > MaxThreads && options.verbosity > 0) {
    Say("warning: -T " + std::to_string(options.threads) + ": at most " +
        std::to_string(MaxThreads) + " files are worked on at once");
  }
  unsigned long threads = options.threads != 0 ? options.threads : CoreCount();
  // Standard output takes the files' bytes one after another.
  if (toStdout || fromStdin) threads = 1;
  threads = std::min<std::uint64_t>({threads, MaxThreads, jobs.size()});

  if (options.mode == Mode::List) PutText(1, ListHeader());
  std::atomic<std::size_t> nextJob{0};
  reporter.Tick();  // a large batch shows its progress line at once
  RunWorkers(
      static_cast<unsigned>(std::max(threads, 1ul)),
      [&] {
        Workspace work;
        if (packs) work.encoder = lzs_encoder_create();
        for (std::size_t k; (k = nextJob++) < jobs.size();) {
          RunJob(options, jobs[k], work, outcomes[k]);
          const Outcome& done = outcomes[k];
          reporter.Finished(k, jobs[k].mode == Mode::Pack ? done.unpackedBytes : done.packedBytes);
        }
      },
      [&] { reporter.Tick(); });
  reporter.End();

  if (options.mode == Mode::List || options.verbosity > 1) PrintTotals(jobs, outcomes);
  return ok && reporter.AllOk() ? SalvageStatus(outcomes) : 1;
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
// every other file packed, in the order given, with a line for each,
// existing outputs kept; with no file (a double-click), the help. Then the
// window waits for Enter, so that it can be read before it closes.
int RunFromExplorer(int argc, char** argv) {
  Options dropped;
  dropped.mode = Mode::Dropped;
  dropped.verbosity = 2;
  for (int k = 1; k < argc; ++k) dropped.inputs.emplace_back(argv[k]);
  int status = 0;
  if (dropped.inputs.empty()) {
    ShowHelp(Face::Lzs);
  } else {
    status = Run(dropped);
  }
  WaitForEnter();
  return status;
}

int Main(int argc, char** argv) {
  Options options;
  const Face face = FaceForName(argc > 0 ? argv[0] : nullptr, options);
  if (face == Face::Pack) SetProgramName("lzs-pack");
  PrepareFiles();
  if (face == Face::Lzs && StartedFromExplorer() && OnlyFileNames(argc, argv)) {
    return RunFromExplorer(argc, argv);
  }
  switch (ParseOptions(argc, argv, options)) {
    case ParseResult::Exit: return 0;
    case ParseResult::UsageError: return UsageError();
    case ParseResult::Run: break;
  }
  if (options.mode == Mode::Inspect || options.mode == Mode::Scan) return RunExamine(options);
  return Run(options);
}

}  // namespace

int main(int argc, char** argv) {
  int status = 1;
  try {
    status = Main(argc, argv);
  } catch (const std::bad_alloc&) {
    Say("out of memory");
  } catch (...) {
    Say("failed (unexpected error)");
  }
  return CloseStandardOutput() ? status : 1;
}
