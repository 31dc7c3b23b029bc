// One file's work: read it, pack, unpack, test or list it, write the result.
// What the job has to say is kept in its Outcome, so that the messages of
// files worked on at once still come out whole and in input order.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/files.hpp"
#include "cli/options.hpp"
#include "lzs.h"

namespace cli {

struct Job {
  std::string input;       // a name, or "-" for standard input
  FileStamp listed;        // the input as its folder's listing saw it (-r), else unknown
  bool fromStdin = false;  // the input is standard input
  Mode mode = Mode::Pack;  // what is done with it: never Mode::Dropped
  std::string output;      // empty: standard output (or nothing, for -t and -l)
  // What output leads to (OutputDescriptor): a descriptor it is written
  // through, as standard output is, or os::NoDescriptor.
  int outputDescriptor = os::NoDescriptor;
  std::string refusal;   // when set, why the job is not done
  bool skipped = false;  // left alone, not read: an image --exclude-compressed excludes
};

struct Outcome {
  bool ok = true;
  std::string messages;  // for standard error
  std::string out;       // for standard output: a row of -l, the line of lzs-pack -v
  bool done = false;     // packed, unpacked or tested: counted in the total
  std::uint64_t packedBytes = 0;
  std::uint64_t unpackedBytes = 0;
  bool salvaged = false;  // a damaged image's output was kept (--salvage)
};

// NAME.SUFFIX (.lzs unless -S), in any case, with something before the
// suffix.
bool HasLzsSuffix(const std::string& name, const std::string& suffix);
// What is done with input: the run's mode, or for dropped files unpacking
// for NAME.SUFFIX and packing for any other name.
Mode ModeFor(const Options& options, const std::string& input);
// FILE.SUFFIX when packing; NAME for NAME.SUFFIX and NAME.DeLZS for any
// other name when unpacking; with --output-dir-flat, that name's base name
// in the folder given. lzs's naming rules, with HasLzsSuffix and the refusal
// to pack NAME.SUFFIX again (DecideJobs): tests/naming.tsv holds the cases
// that every face's names are tested against.
std::string DefaultOutputName(const Options& options, Mode mode, const std::string& input);

// How far the file being worked on is: its input bytes read so far, of
// total (0: not known), for the progress line of a single file.
struct FileProgress {
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::uint64_t> total{0};
};

// What a worker keeps from one file to the next, so that a batch does not
// allocate its buffers anew for every file.
struct Workspace {
  Workspace() = default;
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace() { lzs_cstream_free(stream); }

  Bytes input;
  Bytes output;
  lzs_cstream* stream = nullptr;     // for packing: made at the first file packed
  unsigned packThreads = 1;          // the threads each file is packed on
  FileProgress* progress = nullptr;  // of the file worked on, when shown
};

// Never throws: a failed allocation is "out of memory" for this file only.
void RunJob(const Options& options, const Job& job, Workspace& work, Outcome& outcome) noexcept;

// Decides, before any file is read, which jobs are not done: an image that
// --exclude-compressed skips, an image not packed again without -f, and
// then, among the jobs left, every job whose output is another one's input
// or output, by name or by what file it is.
void DecideJobs(const Options& options, std::vector<Job>& jobs);

}  // namespace cli
