#include "cli/jobs.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <new>
#include <unordered_map>

#include "cli/console.hpp"
#include "cli/messages.hpp"
#include "cli/pack.hpp"
#include "cli/paths.hpp"
#include "cli/workbench.hpp"

namespace cli {
namespace {

// Images above this size, and those whose whole read cannot have its
// memory, are unpacked and tested in pieces, in constant memory: a whole
// read holds the image and its output, up to about 9 times its size.
constexpr std::uint64_t WholeReadLimit = std::uint64_t{4} << 20;

struct DstreamFree {
  void operator()(lzs_dstream* ds) const { lzs_dstream_free(ds); }
};

// Room for lzs_decode_alloc's output in the worker's buffer (opaque), kept
// for the next file; NULL when it cannot be had. Nothing is thrown through
// the library.
void* GrowOutput(void* opaque, std::size_t size) noexcept {
  try {
    Bytes& output = *static_cast<Bytes*>(opaque);
    output.resize(size);
    return output.data();
  } catch (...) {
    return nullptr;
  }
}

// Data on standard output; false, with the reason, when it was not all
// written.
bool ToStandardOutput(const std::uint8_t* data, std::size_t size, Failure& failure) {
  const os::Error error = WriteStandardOutput(data, size);
  if (error != 0) failure.reason = SystemReason("cannot write", error);
  return error == 0;
}

// A piece of output: to the file, or to standard output where there is
// none; false, with the reason in why, when it was not all written.
bool WritePiece(OutputFile* file, const std::uint8_t* data, std::size_t size, std::string& why) {
  Failure failed;
  const bool ok =
      file != nullptr ? file->Write(data, size, failed) : ToStandardOutput(data, size, failed);
  if (!ok) why = failed.reason;
  return ok;
}

// One file's work, from its input to what it says.
class FileJob {
 public:
  FileJob(const Options& options, const Job& job, Workspace& work, Outcome& outcome)
      : options_(options),
        job_(job),
        work_(work),
        outcome_(outcome),
        name_(job.fromStdin ? StandardInputName : job.input),
        toFile_(Writes() && !job.output.empty()) {}

  void Run();

 private:
  bool Writes() const { return job_.mode == Mode::Pack || job_.mode == Mode::Unpack; }
  // Whether the input goes once its output is in place: not for standard
  // input, nor for an output written through a descriptor, which, as
  // standard output, is never in place.
  bool Removes() const {
    return options_.removeInput && !job_.fromStdin && job_.outputDescriptor == os::NoDescriptor;
  }
  // What the output is given: the input's permission bits, owner and times.
  FileStamp OutputStamp() const { return job_.fromStdin ? FileStamp{} : input_.Stamp(); }
  void Fail(const std::string& subject, const std::string& reason) {
    outcome_.messages += Line(subject, reason);
    outcome_.ok = false;
  }
  void FailInput(const Failure& failure) { Fail(name_, Said(failure)); }
  std::string Said(const Failure& failure) const;
  void Warn(const std::string& text) {
    if (options_.verbosity > 0) outcome_.messages += Line(name_, text);
  }
  void ReadFailed(const Failure& failure);
  bool LeftEmpty() const { return toFile_ && !job_.fromStdin && options_.output.empty(); }
  void PackStreamed();
  bool CopyOut(ScratchFile& scratch, const std::uint8_t* header, Failure& failure);
  void Pack(const Bytes& data);
  void PackLikeOrig(const Bytes& data);
  void Decode(const Bytes& data);
  void Salvaged(const Bytes& data);
  void Deliver(const Bytes& result);
  void Finished();
  void Stream();
  bool StreamImage(std::string& blamed, Failure& failure);

  const Options& options_;
  const Job& job_;
  Workspace& work_;
  Outcome& outcome_;
  const std::string name_;
  const bool toFile_;
  Input input_;
};

// The reason for a failure, with what the user can do about it: a folder
// for lzs (not lzs-pack) is gone into with -r; an existing output is
// overwritten with -f, which files dropped on lzs.exe cannot be given.
std::string FileJob::Said(const Failure& failure) const {
  const bool dropped = options_.mode == Mode::Dropped;
  if (failure.fault == Fault::Folder && options_.face == Face::Lzs) {
    return failure.reason +
           (dropped ? " (open it and drop the files in it)" : " (use -r to go into folders)");
  }
  if (failure.fault == Fault::Exists) {
    return failure.reason +
           (dropped ? " (move or rename it, then drop again)" : " (use -f to overwrite)");
  }
  return failure.reason;
}

void FileJob::Run() {
  if (job_.skipped) {
    if (options_.verbosity > 1) outcome_.messages += Line(name_, "already packed; skipped");
    return;
  }
  if (!job_.refusal.empty()) return Fail(name_, job_.refusal);
  Failure failure;
  const bool opened =
      job_.fromStdin ? input_.OpenStandardInput(failure) : input_.Open(job_.input, failure);
  if (toFile_ && opened && input_.Is(job_.output)) {
    return Fail(job_.output, "is the input file itself");
  }
  // A descriptor's name exists, and is written through without -f.
  if (toFile_ && job_.outputDescriptor == os::NoDescriptor && PathExists(job_.output)) {
    // An empty file is left as it is (below), whatever its output's name
    // holds, since nothing would be written; should it have grown
    // meanwhile, the output is still not put over an existing one.
    const bool mayBeEmpty = job_.mode == Mode::Pack && !job_.fromStdin && options_.output.empty() &&
                            (!opened || input_.Size() == 0);
    if (!options_.force && !mayBeEmpty) {
      return Fail(job_.output, Said(Failure{Fault::Exists, ExistsReason}));
    }
  }
  if (!opened) return FailInput(failure);
  if (work_.progress != nullptr) work_.progress->total = input_.Size();
  if (job_.mode == Mode::Pack && options_.like.empty()) return PackStreamed();

  // In pieces: -l always, -d and -t for standard input and a large file.
  const bool inPieces =
      job_.mode == Mode::List ||
      (job_.mode != Mode::Pack && (job_.fromStdin || input_.Size() > WholeReadLimit));
  if (inPieces) return Stream();
  // A damaged image is read to be salvaged, not refused for its header.
  const ReadRule rule = job_.mode == Mode::Pack ? ReadRule{LZS_ENCODE_SIZE_MAX, false}
                                                : ReadRule{LZS_IMAGE_SIZE_MAX, !options_.salvage};
  if (!input_.ReadWhole(rule, work_.input, failure)) return ReadFailed(failure);
  if (job_.mode == Mode::Pack) return Pack(work_.input);
  Decode(work_.input);
}

// A whole read that could not have its memory: unpacked or tested in
// pieces instead (nothing is written before that memory is had); a file to
// pack fails alone.
void FileJob::ReadFailed(const Failure& failure) {
  if (failure.fault != Fault::OutOfMemory) return FailInput(failure);
  Bytes().swap(work_.input);
  Bytes().swap(work_.output);
  if (job_.mode == Mode::Pack) return FailInput(failure);
  Failure rewound;
  if (!input_.Rewind(rewound)) return FailInput(rewound);
  Stream();
}

// Packs in pieces, in bounded memory: into the output file, whose header
// is written at its start once the image is complete, or, for an output
// that cannot be written at any offset (standard output, a descriptor),
// into a scratch file, which is then copied there after the header.
void FileJob::PackStreamed() {
  // An empty file stays as it is, not packed: no image holds zero bytes.
  // Standard output or -o would get no image at all: that fails below.
  if (input_.Regular() && input_.Size() == 0 && LeftEmpty()) {
    return Warn("empty: left as it is, not packed");
  }
  const std::string outputName = toFile_ ? job_.output : StandardOutputName;
  if (work_.stream == nullptr) work_.stream = lzs_cstream_create();
  if (work_.stream == nullptr) return Fail(name_, "out of memory");
  const bool direct = toFile_ && job_.outputDescriptor == os::NoDescriptor;
  // Standard output on a file takes the image where it stands.
  std::uint64_t start = 0;
  const bool inPlace = !toFile_ && StandardOutputWritesAt(start);
  OutputFile file;
  ScratchFile scratch;
  Failure failure;
  if (direct ? !file.Open(job_.output, job_.outputDescriptor, OutputStamp(), failure)
             : !inPlace && !scratch.Open(failure)) {
    return Fail(outputName, failure.reason);
  }
  const TakePiece put = [&](const std::uint8_t* data, std::size_t size, std::string& why) {
    if (direct || inPlace) return WritePiece(direct ? &file : nullptr, data, size, why);
    Failure failed;
    const bool ok = scratch.Write(data, size, failed);
    if (!ok) why = failed.reason;
    return ok;
  };
  const int level = options_.fast ? LZS_LEVEL_FAST : LZS_LEVEL_OPTIMAL;
  const PackSetting setting{work_.stream, level, work_.packThreads,
                            work_.progress != nullptr ? &work_.progress->bytes : nullptr};
  Packed packed;
  if (!PackInput(input_, setting, put, packed, failure)) {
    if (packed.code != 0) return Fail(name_, StreamPackFailure(packed.code));
    return packed.outputFailed ? Fail(outputName, failure.reason) : FailInput(failure);
  }
  const os::Error headed =
      inPlace ? WriteStandardOutputAt(start, packed.header, LZS_HEADER_SIZE) : 0;
  if (headed != 0) failure.reason = SystemReason("cannot write", headed);
  const bool delivered = direct ? file.WriteAt(0, packed.header, LZS_HEADER_SIZE, failure) &&
                                      file.Commit(OutputStamp(), options_.force, failure)
                         : inPlace ? headed == 0
                                   : CopyOut(scratch, packed.header, failure);
  if (!delivered) return Fail(outputName, Said(failure));
  if (toFile_ && Removes() && !input_.Remove(job_.input, failure)) {
    return Fail(name_, failure.reason);
  }
  outcome_.unpackedBytes = packed.unpacked;
  outcome_.packedBytes = packed.image;
  if (options_.verbosity > 0) {
    outcome_.messages += PackWarnings(name_, packed.unpacked, packed.image);
  }
  Finished();
}

// The header, then the rest of the scratch file's image, to standard
// output or through the output's descriptor.
bool FileJob::CopyOut(ScratchFile& scratch, const std::uint8_t* header, Failure& failure) {
  OutputFile file;
  const TakePiece put = [&](const std::uint8_t* data, std::size_t size, std::string& why) {
    return WritePiece(toFile_ ? &file : nullptr, data, size, why);
  };
  if (toFile_ && !file.Open(job_.output, job_.outputDescriptor, OutputStamp(), failure)) {
    return false;
  }
  return put(header, LZS_HEADER_SIZE, failure.reason) &&
         scratch.CopyFrom(LZS_HEADER_SIZE, put, failure) &&
         (!toFile_ || file.Commit(OutputStamp(), options_.force, failure));
}

// With --like, the whole input, read already.
void FileJob::Pack(const Bytes& data) {
  if (data.empty() && LeftEmpty()) return Warn("empty: left as it is, not packed");
  PackLikeOrig(data);
}

// --like: packed as the image named was, reusing its items; -v tells how
// many.
void FileJob::PackLikeOrig(const Bytes& data) {
  unsigned long long reused = 0;
  unsigned long long items = 0;
  std::string why;
  Bytes& result = work_.output;
  const std::size_t n = PackLike(options_, data, result, reused, items, why);
  if (n == 0) return Fail(name_, why);
  outcome_.unpackedBytes = data.size();
  outcome_.packedBytes = n;
  if (options_.verbosity > 0) outcome_.messages += PackWarnings(name_, data.size(), n);
  if (options_.verbosity > 1) {
    outcome_.messages += Line(name_, Grouped(reused) + " of the " + Count(items, "item") + " of " +
                                         options_.like + " reused");
  }
  Deliver(result);
}

// --salvage: what a damaged image holds is kept, with a warning and exit
// status 2; a whole image is unpacked as ever.
void FileJob::Salvaged(const Bytes& data) {
  lzs_info info{};
  const std::size_t n = Salvage(data.data(), data.size(), work_.output, info);
  if (lzs_is_error(n)) return Fail(name_, Described(n, info));
  outcome_.packedBytes = data.size();
  outcome_.unpackedBytes = n;
  if ((info.flags & LZS_INFO_SALVAGED) != 0) {
    outcome_.salvaged = true;
    if (options_.verbosity > 0) outcome_.messages += Line(name_, SalvageWarning(info, false));
  }
  if (job_.mode == Mode::Test) {
    outcome_.messages +=
        TestReport(options_.verbosity, name_, n, info.lastItemCut != 0 && !outcome_.salvaged);
    outcome_.done = true;
    return;
  }
  Deliver(work_.output);
}

void FileJob::Decode(const Bytes& data) {
  if (options_.salvage) return Salvaged(data);
  // The library chooses how, and takes the room from the worker's buffer.
  lzs_info info{};
  void* room = nullptr;
  const size_t n =
      lzs_decode_alloc(&room, data.data(), data.size(), SIZE_MAX, GrowOutput, &work_.output, &info);
  if (lzs_get_error(n) == LZS_ERROR_OUT_OF_MEMORY) {
    return ReadFailed(Failure{Fault::OutOfMemory, "out of memory"});
  }
  if (lzs_is_error(n)) return Fail(name_, Described(n, info));
  Bytes& result = work_.output;
  result.resize(n);
  outcome_.packedBytes = data.size();
  outcome_.unpackedBytes = n;
  if (job_.mode == Mode::Test) {
    outcome_.messages += TestReport(options_.verbosity, name_, n, info.lastItemCut != 0);
    outcome_.done = true;
    return;
  }
  Deliver(result);
}

// Puts a result out: on standard output, or in place as the output file;
// then removes the input when asked.
void FileJob::Deliver(const Bytes& result) {
  Failure failure;
  if (!toFile_) {
    if (!ToStandardOutput(result.data(), result.size(), failure)) {
      return Fail(StandardOutputName, failure.reason);
    }
  } else {
    OutputFile file;
    if (!file.Open(job_.output, job_.outputDescriptor, OutputStamp(), failure) ||
        !file.Write(result.data(), result.size(), failure) ||
        !file.Commit(OutputStamp(), options_.force, failure)) {
      return Fail(job_.output, Said(failure));
    }
    if (Removes() && !input_.Remove(job_.input, failure)) return Fail(name_, failure.reason);
  }
  Finished();
}

// Counts the file as done, and says so with -v.
void FileJob::Finished() {
  outcome_.done = true;
  if (options_.verbosity < 2) return;
  const std::string to = toFile_ ? job_.output : StandardOutputName;
  if (options_.face == Face::Pack) {
    outcome_.out = PackedLine(name_, outcome_.unpackedBytes, to, outcome_.packedBytes);
  } else {
    outcome_.messages +=
        DoneLine(name_, job_.mode == Mode::Pack, outcome_.packedBytes, outcome_.unpackedBytes, to);
  }
}

void FileJob::Stream() {
  Bytes().swap(work_.input);
  Bytes().swap(work_.output);
  std::string blamed;
  Failure failure;
  if (!StreamImage(blamed, failure)) {
    Fail(blamed, Said(failure));
  }
}

// Unpacks, tests or lists an image that arrives in pieces, in constant
// memory: the decoded bytes go to the output as they come, a file output
// through a temporary that is put in place only once the image is complete
// and sound. Standard output may already have taken part of the output of
// an image found bad at its end. Returns whether it worked; on failure,
// blamed is the name at fault (the input's or the output's).
bool FileJob::StreamImage(std::string& blamed, Failure& failure) {
  const bool writes = job_.mode == Mode::Unpack;
  const bool toFile = writes && !job_.output.empty();
  const std::string outputName = toFile ? job_.output : StandardOutputName;
  std::unique_ptr<lzs_dstream, DstreamFree> ds(lzs_dstream_create());
  blamed = name_;
  if (ds == nullptr) {
    failure.reason = "out of memory";
    return false;
  }
  Bytes room(lzs_dstream_out_size());
  std::size_t used = 0;
  std::uint64_t taken = 0;
  std::uint64_t made = 0;
  OutputFile file;
  bool opened = false;
  bool outputFailed = false;
  bool imageFailed = false;
  auto flush = [&](std::string& why) {
    made += used;
    const bool ok =
        !writes || used == 0 || WritePiece(toFile ? &file : nullptr, room.data(), used, why);
    used = 0;
    outputFailed = !ok;
    return ok;
  };
  const TakePiece take = [&](const std::uint8_t* data, std::size_t size, std::string& why) {
    if (toFile && !opened) {
      Failure failed;
      if (!file.Open(job_.output, job_.outputDescriptor, OutputStamp(), failed)) {
        why = failed.reason;
        outputFailed = true;
        return false;
      }
      opened = true;
    }
    taken += size;
    if (work_.progress != nullptr) work_.progress->bytes += size;
    std::size_t pos = 0;
    for (;;) {
      const size_t result =
          lzs_decode_stream(ds.get(), room.data(), room.size(), &used, data, size, &pos);
      if (lzs_is_error(result)) {
        imageFailed = true;  // said below, with the sizes
        return false;
      }
      if (used == room.size()) {
        if (!flush(why)) return false;
        continue;
      }
      if (pos == size) return true;
    }
  };
  bool ok = input_.ReadInPieces(ReadRule{LZS_IMAGE_SIZE_MAX, !options_.salvage},
                                lzs_dstream_in_size(), take, failure);
  // The input has ended, or the image failed: the library's verdict on
  // it, the one lzs_decode gives for the same bytes. Bytes after the end of
  // the image stop the read: a file's size is known, but of a pipe only
  // what was read so far.
  lzs_info info{};
  const size_t verdict = ok || imageFailed ? lzs_dstream_end(ds.get(), &info) : 0;
  if (lzs_is_error(verdict)) {
    const bool trailing = lzs_get_error(verdict) == LZS_ERROR_TRAILING_DATA;
    if (trailing) {
      info.inputSize = input_.Regular() ? input_.Size() : taken;
      if (!input_.Regular()) info.flags |= LZS_INFO_INPUT_PARTIAL;
    }
    if (options_.salvage && (trailing || lzs_get_error(verdict) == LZS_ERROR_TRUNCATED)) {
      // --salvage: the output given so far is what the image holds.
      outcome_.salvaged = true;
      if (options_.verbosity > 0) {
        outcome_.messages += Line(name_, SalvageWarning(info, trailing && !input_.Regular()));
      }
      failure = Failure{};
      imageFailed = false;
      ok = true;
    } else {
      imageFailed = true;
      failure = Failure{Fault::Other, Described(verdict, info)};
      ok = false;
    }
  }
  if (ok && !flush(failure.reason)) ok = false;
  if (ok && toFile && !file.Commit(OutputStamp(), options_.force, failure)) {
    outputFailed = true;
    ok = false;
  }
  if (!ok) {
    if (outputFailed && !imageFailed) blamed = outputName;
    return false;
  }
  if (writes && Removes() && !input_.Remove(job_.input, failure)) return false;
  outcome_.packedBytes = taken;
  outcome_.unpackedBytes = made;
  if (job_.mode == Mode::List) {
    outcome_.out = ListRow(taken, made, name_);
    return true;
  }
  outcome_.done = true;
  if (job_.mode == Mode::Test) {
    outcome_.messages +=
        TestReport(options_.verbosity, name_, made, info.lastItemCut != 0 && !outcome_.salvaged);
  } else if (options_.verbosity > 1) {
    outcome_.messages += DoneLine(name_, false, taken, made, outputName);
  }
  return true;
}

}  // namespace

bool HasLzsSuffix(const std::string& name, const std::string& suffix) {
  if (name.size() <= suffix.size()) return false;
  const std::size_t start = name.size() - suffix.size();
  const char before = name[start - 1];
  if (before == '/' || before == '\\') return false;
  for (std::size_t k = 0; k < suffix.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(name[start + k])) !=
        std::tolower(static_cast<unsigned char>(suffix[k]))) {
      return false;
    }
  }
  return true;
}

Mode ModeFor(const Options& options, const std::string& input) {
  if (options.mode != Mode::Dropped) return options.mode;
  return HasLzsSuffix(input, options.suffix) ? Mode::Unpack : Mode::Pack;
}

std::string DefaultOutputName(const Options& options, Mode mode, const std::string& input) {
  std::string name;
  if (mode == Mode::Pack) {
    name = input + options.suffix;
  } else if (HasLzsSuffix(input, options.suffix)) {
    name = input.substr(0, input.size() - options.suffix.size());
  } else {
    name = input + ".DeLZS";
  }
  if (options.outputDir.empty()) return name;
  return JoinPath(options.outputDir, BaseName(name));
}

void RunJob(const Options& options, const Job& job, Workspace& work, Outcome& outcome) noexcept {
  bool outOfMemory = false;
  try {
    FileJob(options, job, work, outcome).Run();
    return;
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  } catch (...) {
  }
  // What was kept for the next file may be what ran out: start it afresh.
  Bytes().swap(work.input);
  Bytes().swap(work.output);
  outcome.ok = false;
  try {
    outcome.messages += Line(job.fromStdin ? std::string(StandardInputName) : job.input,
                             outOfMemory ? "out of memory" : "failed (unexpected error)");
  } catch (...) {
  }
}

void DecideJobs(const Options& options, std::vector<Job>& jobs) {
  // lzs-pack packs whatever it is given.
  for (Job& job : jobs) {
    const bool packed = job.mode == Mode::Pack && options.face == Face::Lzs && !job.fromStdin &&
                        HasLzsSuffix(job.input, options.suffix);
    if (packed && options.excludeCompressed) {
      job.skipped = true;
    } else if (packed && !options.force) {
      job.refusal = "already has the " + options.suffix +
                    " suffix; not packed again (use -f to pack it anyway)";
    }
  }
  // How many of the jobs left read or write each file; a job's own keys
  // count once.
  std::vector<std::vector<std::string>> outputKeys(jobs.size());
  std::unordered_map<std::string, std::size_t> users;
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    if (jobs[k].skipped || !jobs[k].refusal.empty()) continue;
    std::vector<std::string> keys;
    if (!jobs[k].fromStdin) keys = FileKeys(jobs[k].input, jobs[k].listed);
    if (!jobs[k].output.empty()) {
      outputKeys[k] = FileKeys(jobs[k].output);
      keys.insert(keys.end(), outputKeys[k].begin(), outputKeys[k].end());
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (const std::string& key : keys) ++users[key];
  }
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    for (const std::string& key : outputKeys[k]) {
      if (users[key] < 2) continue;
      jobs[k].refusal = "not done: its output " + jobs[k].output +
                        " is also the input or the output of another file in this run";
      break;
    }
  }
}

}  // namespace cli
