// lzs: packs and unpacks many LZS files at once, in the manner of gzip, zstd
// and lz4; started as lzs-pack, it packs one file by lzs-pack's command
// line. Options in options.cpp, one file's work in jobs.cpp, the rules for
// files in files.cpp, messages in messages.cpp, the standard streams in
// console.cpp, what a batch shows in report.cpp, the workers in
// workers.cpp; here: the list of files and the workers' loop.
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
#include "cli/pack.hpp"
#include "cli/paths.hpp"
#include "cli/report.hpp"
#include "cli/shell.hpp"
#include "cli/workbench.hpp"
#include "cli/workers.hpp"

namespace {

using namespace cli;

// Each worker holds a whole file and its output in memory.
constexpr unsigned long MaxThreads = 64;

// An input as the listing found it: its name, and its stamp when a folder's
// listing gave it (links not followed).
struct Listed {
  std::string name;
  FileStamp stamp;
};

// Adds the files under folder, sorted by name, without following links:
// when unpacking only NAME.SUFFIX files, when packing all others. Links and
// special files that would have been taken are skipped with a warning. lost
// counts what could not be looked at, each said in a line.
void AddFolder(const std::string& folder, const Options& options, std::vector<Listed>& files,
               std::size_t& lost) {
  std::vector<os::Entry> entries;
  Failure failure;
  if (!ListFolder(folder, entries, failure)) {
    PutText(2, Line(folder, failure.reason));
    ++lost;
    return;
  }
  std::sort(entries.begin(), entries.end(),
            [](const os::Entry& a, const os::Entry& b) { return a.name < b.name; });
  for (const os::Entry& entry : entries) {
    const std::string name = JoinPath(folder, entry.name);
    if (entry.error != 0) {
      PutText(2, Line(name, SystemReason("cannot read", entry.error)));
      ++lost;
    } else if (entry.kind == os::Kind::Folder) {
      AddFolder(name, options, files, lost);
    } else if ((options.mode == Mode::Pack) == HasLzsSuffix(name, options.suffix)) {
      continue;  // not this mode's kind of file
    } else if (entry.kind == os::Kind::File) {
      files.push_back({name, entry.stamp});
    } else if (options.verbosity > 0) {
      PutText(2, Line(name, entry.kind == os::Kind::Link ? "is a symbolic link; skipped"
                                                         : "is not a regular file; skipped"));
    }
  }
}

// The inputs with their patterns expanded (on Windows); a pattern that
// matches nothing is reported and counted in lost, and the others are
// still done.
std::vector<std::string> ExpandedInputs(const Options& options, std::size_t& lost) {
  std::vector<std::string> inputs;
  std::vector<std::string> names;
  for (const std::string& input : options.inputs) {
    std::string error;
    const bool standard = input == "-" && options.face == Face::Lzs;
    if (!standard && !ExpandWildcards(input, names, error)) {
      PutText(2, Line(input, error));
      ++lost;
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

int Run(const Options& options) {
  std::size_t lost = 0;  // inputs that failed before they became jobs
  std::vector<Listed> inputs;
  for (const std::string& input : ExpandedInputs(options, lost)) {
    if (options.recursive && input != "-" && IsFolder(input)) {
      AddFolder(input, options, inputs, lost);
    } else {
      inputs.push_back({input, FileStamp{}});
    }
  }

  std::vector<Job> jobs;
  bool toStdout = false;
  bool fromStdin = false;
  bool packsToTerminal = false;
  for (const Listed& input : inputs) {
    Job job;
    job.input = input.name;
    job.listed = input.stamp;
    job.fromStdin = input.name == "-" && options.face == Face::Lzs;
    job.mode = ModeFor(options, input.name);
    const bool writes = job.mode == Mode::Pack || job.mode == Mode::Unpack;
    if (writes && !options.output.empty()) {
      job.output = options.output;
    } else if (writes && !options.toStdout && !job.fromStdin) {
      job.output = DefaultOutputName(options, job.mode, input.name);
    }
    // Looked at before any file is opened: a descriptor open now is one
    // the run was given.
    if (!job.output.empty()) job.outputDescriptor = OutputDescriptor(job.output);
    const int descriptor = job.output.empty() ? 1 : job.outputDescriptor;
    packsToTerminal = packsToTerminal || (writes && job.mode == Mode::Pack && descriptor >= 0 &&
                                          IsTerminal(descriptor));
    toStdout = toStdout || (writes && job.output.empty());
    fromStdin = fromStdin || job.fromStdin;
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
  if (packsToTerminal && !options.force) {
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
  // A single file is packed on the threads asked for, up to a few.
  const auto packThreads = static_cast<unsigned>(
      jobs.size() == 1
          ? std::min(options.threads != 0 ? options.threads : CoreCount(), MaxPackThreads)
          : 1);

  if (options.mode == Mode::List) PutText(1, ListHeader());
  std::atomic<std::size_t> nextJob{0};
  reporter.Tick();  // a large batch shows its progress line at once
  RunWorkers(
      static_cast<unsigned>(std::max(threads, 1ul)),
      [&] {
        Workspace work;
        work.packThreads = packThreads;
        work.progress = reporter.File();
        for (std::size_t k; (k = nextJob++) < jobs.size();) {
          RunJob(options, jobs[k], work, outcomes[k]);
          const Outcome& done = outcomes[k];
          reporter.Finished(k, jobs[k].mode == Mode::Pack ? done.unpackedBytes : done.packedBytes);
        }
      },
      [&] { reporter.Tick(); });
  reporter.End();

  PrintTotals(options, jobs, outcomes, lost);
  return lost == 0 && reporter.AllOk() ? SalvageStatus(outcomes) : 1;
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
  const bool fromExplorer = face == Face::Lzs && StartedFromExplorer();
  if (fromExplorer && OnlyFileNames(argc, argv)) return RunFromExplorer(argc, argv);
  int status = 0;
  switch (ParseOptions(argc, argv, options)) {
    case ParseResult::Exit: return 0;
    case ParseResult::UsageError: status = UsageError(); break;
    case ParseResult::Run:
      status = options.mode == Mode::Inspect || options.mode == Mode::Scan ? RunExamine(options)
                                                                           : Run(options);
      break;
  }
  // A command of Explorer's with options, such as the installer's "Unpack"
  // verb (lzs.exe -d -- FILE): its window closes when the run ends, so a
  // failure's message waits for Enter to be read.
  if (fromExplorer && status != 0) WaitForEnter();
  return status;
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
  const os::Error lost = CloseStandardOutput();
  if (lost == 0) return status;
  Say(std::string(StandardOutputName) + ": " + SystemReason("cannot write", lost));
  return 1;
}
