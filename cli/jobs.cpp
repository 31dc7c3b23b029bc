#include "cli/jobs.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "cli/files.hpp"
#include "cli/paths.hpp"

namespace cli {
namespace {

// Images up to this size are decoded without the size scan.
constexpr std::size_t DirectDecodeLimit = std::size_t{32} << 20;
// Images above this size, and those whose whole read cannot have its
// memory, are unpacked and tested in pieces, in constant memory.
constexpr std::uint64_t WholeReadLimit = std::uint64_t{256} << 20;
// Output room of the decoder in pieces: what it writes out at a time.
constexpr std::size_t StreamRoom = std::size_t{256} << 10;
constexpr const char* StandardInput = "(standard input)";
constexpr const char* StandardOutput = "(standard output)";

std::string PackFailure(size_t code) {
  switch (lzs_get_error(code)) {
    case LZS_ERROR_EMPTY_INPUT: return "is empty; no LZS image holds zero bytes";
    case LZS_ERROR_INPUT_TOO_LARGE:
      return "is too large to pack: more than " + std::to_string(LZS_ENCODE_SIZE_MAX) + " bytes";
    default: return std::string("cannot pack: ") + lzs_error_name(code);
  }
}

// Why an image is refused, from the library's error: an image whose size
// is not what its header says is refused as the read of a file refuses it.
std::string NotLzsReason(size_t code) {
  switch (lzs_get_error(code)) {
    case LZS_ERROR_TRUNCATED:
    case LZS_ERROR_TRAILING_DATA: return HeaderReason;
    default: return std::string("not LZS: ") + lzs_error_name(code);
  }
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%",
                whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
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

std::string DefaultOutputName(const Options& options, const std::string& input) {
  std::string name;
  if (options.mode == Mode::Pack) {
    name = input + options.suffix;
  } else if (HasLzsSuffix(input, options.suffix)) {
    name = input.substr(0, input.size() - options.suffix.size());
  } else {
    name = input + ".DeLZS";
  }
  if (options.outputDir.empty()) return name;
  const std::size_t slash = name.find_last_of(FolderSeparators);
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return JoinPath(options.outputDir, name, FolderSeparators);
}

// What -t says of an image that passed: with -v, whether its last
// back-reference is cut off; with -vv, that it is OK and what was checked.
std::string TestReport(const Options& options, const std::string& name, std::uint64_t made,
                       bool lastItemCut) {
  std::string report;
  if (options.verbosity > 0 && lastItemCut) {
    report += "lzs: " + name +
              ": warning: the last back-reference is cut off by the end of the "
              "image; its one byte is ignored\n";
  }
  if (options.verbosity > 1) {
    report += "lzs: " + name + ": OK, " + std::to_string(made) +
              " bytes (structure and size; the format has no checksum)\n";
  }
  return report;
}

// The -vv line of an image unpacked to `to`.
std::string UnpackedLine(const std::string& name, std::uint64_t taken, std::uint64_t made,
                         const std::string& to) {
  return "lzs: " + name + ": " + std::to_string(taken) + " -> " + std::to_string(made) +
         " bytes (" + Percent(made, taken) + ") -> " + to + "\n";
}

std::string ListHeader() { return "      Packed     Unpacked    Ratio  Name\n"; }

std::string ListRow(std::uint64_t packed, std::uint64_t unpacked, const std::string& name) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%12llu %12llu %8.3f  ",
                static_cast<unsigned long long>(packed), static_cast<unsigned long long>(unpacked),
                packed == 0 ? 0.0 : static_cast<double>(unpacked) / static_cast<double>(packed));
  return numbers + name + "\n";
}

namespace {

struct DstreamFree {
  void operator()(lzs_dstream* ds) const { lzs_dstream_free(ds); }
};

// Unpacks (or, with no output, tests) an image that arrives in pieces, in
// constant memory: the decoded bytes go to the output as they come, a file
// output through a temporary that is put in place only once the image is
// complete and sound. Standard output may already have taken part of the
// output of an image found bad at its end. Returns whether it worked; on
// failure, blamed is the name at fault (the input's or the output's).
bool StreamImage(const Options& options, const Job& job, const std::string& name, Outcome& outcome,
                 std::string& blamed, std::string& error) {
  const bool fromStdin = job.input == "-";
  const bool writes = options.mode == Mode::Unpack;
  const bool toFile = writes && !job.output.empty();
  const std::string outputName = toFile ? job.output : StandardOutput;
  std::unique_ptr<lzs_dstream, DstreamFree> ds(lzs_dstream_create());
  if (ds == nullptr) {
    blamed = name;
    error = "out of memory";
    return false;
  }
  Bytes room(StreamRoom);
  std::size_t used = 0;
  std::uint64_t taken = 0;
  std::uint64_t made = 0;
  FileStamp stamp;
  OutputFile file;
  bool opened = false;
  bool outputFailed = false;
  bool imageFailed = false;
  auto flush = [&](std::string& why) {
    made += used;
    bool ok = true;
    if (writes && used > 0) {
      ok =
          toFile ? file.Write(room.data(), used, why) : WriteStandardOutput(room.data(), used, why);
    }
    used = 0;
    outputFailed = !ok;
    return ok;
  };
  const TakePiece take = [&](const std::uint8_t* data, std::size_t size, std::string& why) {
    if (toFile && !opened) {
      if (!file.Open(job.output, stamp, why)) {
        outputFailed = true;
        return false;
      }
      opened = true;
    }
    taken += size;
    std::size_t pos = 0;
    for (;;) {
      const size_t result =
          lzs_decode_stream(ds.get(), room.data(), room.size(), &used, data, size, &pos);
      if (lzs_is_error(result)) {
        imageFailed = true;
        why = NotLzsReason(result);
        return false;
      }
      if (used == room.size()) {
        if (!flush(why)) return false;
        continue;
      }
      if (pos == size) return true;
    }
  };
  const ReadRule rule{LZS_IMAGE_SIZE_MAX, true};
  bool ok = fromStdin ? ReadStandardInputInPieces(take, error)
                      : ReadInputFileInPieces(job.input, rule, stamp, take, error);
  // The input has ended: the library's verdict on the image.
  lzs_info info{};
  const size_t verdict = ok ? lzs_dstream_end(ds.get(), &info) : 0;
  if (lzs_is_error(verdict)) {
    imageFailed = true;
    error = NotLzsReason(verdict);
    ok = false;
  }
  if (ok && !flush(error)) ok = false;
  if (ok && toFile && !file.Commit(stamp, options.force, error)) {
    outputFailed = true;
    ok = false;
  }
  if (!ok) {
    blamed = outputFailed && !imageFailed ? outputName : name;
    return false;
  }
  if (options.removeInput && !fromStdin && writes && !RemoveFile(job.input, stamp, error)) {
    blamed = name;
    return false;
  }
  outcome.packedBytes = taken;
  outcome.unpackedBytes = made;
  outcome.done = true;
  if (options.mode == Mode::Test) {
    outcome.messages += TestReport(options, name, made, info.lastItemCut != 0);
  } else if (options.verbosity > 1) {
    outcome.messages += UnpackedLine(name, taken, made, outputName);
  }
  return true;
}

// Whether an image is unpacked or tested in pieces rather than read whole:
// always from standard input, and for a file too large to read whole.
bool Streams(const Options& options, const Job& job) {
  if (options.mode != Mode::Unpack && options.mode != Mode::Test) return false;
  return job.input == "-" || InputFileSize(job.input) > WholeReadLimit;
}

void Work(const Options& options, const Job& job, Workspace& work, Outcome& outcome) {
  const bool fromStdin = job.input == "-";
  const std::string name = fromStdin ? StandardInput : job.input;
  const bool writes = options.mode == Mode::Pack || options.mode == Mode::Unpack;
  const bool toFile = writes && !job.output.empty();
  auto fail = [&outcome](const std::string& file, const std::string& reason) {
    outcome.messages += "lzs: " + file + ": " + reason + "\n";
    outcome.ok = false;
  };
  auto warn = [&outcome, &options](const std::string& file, const std::string& text) {
    if (options.verbosity > 0) outcome.messages += "lzs: " + file + ": " + text + "\n";
  };

  if (!job.refusal.empty()) return fail(name, job.refusal);
  const bool alreadyPacked =
      options.mode == Mode::Pack && !fromStdin && HasLzsSuffix(job.input, options.suffix);
  if (alreadyPacked && options.excludeCompressed) {
    if (options.verbosity > 1) outcome.messages += "lzs: " + name + ": already packed; skipped\n";
    return;
  }
  if (alreadyPacked && !options.force) {
    return fail(name, "already has the " + options.suffix +
                          " suffix; not packed again (use -f to pack it anyway)");
  }
  // An empty file is left as it is (below), whatever its output's name
  // holds, since nothing would be written; should it have grown meanwhile,
  // the output is still not put over an existing one.
  const bool mayBeEmpty = options.mode == Mode::Pack && !fromStdin && options.output.empty() &&
                          InputFileSize(job.input) == 0;
  if (toFile && !options.force && !mayBeEmpty && PathExists(job.output))
    return fail(job.output, ExistsReason);
  if (toFile && !fromStdin && SameFile(job.input, job.output)) {
    return fail(job.output, "is the input file itself");
  }

  Bytes& data = work.input;
  Bytes& result = work.output;
  FileStamp stamp;
  std::string error;
  // In pieces, when the image is not read whole or its whole read cannot
  // have its memory (nothing is written before that memory is had).
  const bool streamable = options.mode == Mode::Unpack || options.mode == Mode::Test;
  auto stream = [&] {
    Bytes().swap(data);
    Bytes().swap(result);
    std::string blamed;
    if (!StreamImage(options, job, name, outcome, blamed, error)) fail(blamed, error);
  };
  if (Streams(options, job)) return stream();
  const ReadRule rule = options.mode == Mode::Pack ? ReadRule{LZS_ENCODE_SIZE_MAX, false}
                                                   : ReadRule{LZS_IMAGE_SIZE_MAX, true};
  try {
    if (!(fromStdin ? ReadStandardInput(rule, data, error)
                    : ReadInputFile(job.input, rule, data, stamp, error))) {
      return fail(name, error);
    }
  } catch (const std::bad_alloc&) {
    if (!streamable) throw;
    return stream();
  }

  // An empty file stays as it is, not packed: no image holds zero bytes.
  // Standard output or -o would get no image at all: that fails below.
  if (options.mode == Mode::Pack && data.empty() && toFile && !fromStdin &&
      options.output.empty()) {
    return warn(name, "empty: left as it is, not packed");
  }
  if (options.mode == Mode::Pack) {
    const int level = options.fast ? LZS_LEVEL_FAST : LZS_LEVEL_OPTIMAL;
    result.resize(lzs_encode_bound(data.size()));
    const size_t n =
        work.encoder != nullptr
            ? lzs_encode_with(work.encoder, result.data(), result.size(), data.data(), data.size(),
                              level)
            : lzs_encode(result.data(), result.size(), data.data(), data.size(), level);
    if (lzs_is_error(n)) return fail(name, PackFailure(n));
    result.resize(n);
    outcome.unpackedBytes = data.size();
    outcome.packedBytes = n;
    if (n > LZS_UNPACK_IMAGE_MAX) {
      warn(name, "warning: the image, " + std::to_string(n) + " bytes, is larger than " +
                     std::to_string(LZS_UNPACK_IMAGE_MAX >> 20) +
                     " MiB: lzs-unpack.exe refuses it (lzs -d takes it)");
    }
    if (n > data.size()) {
      warn(name, "warning: the image, " + std::to_string(n) + " bytes, is larger than its input, " +
                     std::to_string(data.size()) + " bytes");
    }
  } else {
    // A small image is decoded into room for the most it can yield, which
    // is touched only as far as it is written; a large one into exactly its
    // decoded size, from the size scan.
    const bool scan = options.mode == Mode::List || data.size() > DirectDecodeLimit;
    const size_t size = scan ? lzs_decoded_size(data.data(), data.size()) : 0;
    if (lzs_is_error(size)) return fail(name, NotLzsReason(size));
    if (options.mode == Mode::List) {
      outcome.listRow = ListRow(data.size(), size, name);
      outcome.packedBytes = data.size();
      outcome.unpackedBytes = size;
      return;
    }
    try {
      result.resize(scan ? size : lzs_decode_bound(data.size()));
    } catch (const std::bad_alloc&) {
      return stream();
    }
    const size_t n = lzs_decode(result.data(), result.size(), data.data(), data.size());
    if (lzs_is_error(n)) return fail(name, NotLzsReason(n));
    result.resize(n);
    outcome.packedBytes = data.size();
    outcome.unpackedBytes = n;
    if (options.mode == Mode::Test) {
      lzs_info info{};
      const bool lastItemCut = options.verbosity > 0 &&
                               !lzs_is_error(lzs_image_info(data.data(), data.size(), &info)) &&
                               info.lastItemCut != 0;
      outcome.messages += TestReport(options, name, n, lastItemCut);
      outcome.done = true;
      return;
    }
  }

  if (!toFile) {
    if (!WriteStandardOutput(result.data(), result.size(), error)) fail(StandardOutput, error);
  } else {
    OutputFile file;
    if (!file.Open(job.output, stamp, error) || !file.Write(result.data(), result.size(), error) ||
        !file.Commit(stamp, options.force, error)) {
      return fail(job.output, error);
    }
    if (options.removeInput && !fromStdin && !RemoveFile(job.input, stamp, error)) {
      return fail(name, error);
    }
  }
  outcome.done = outcome.ok;
  if (outcome.ok && options.verbosity > 1) {
    outcome.messages +=
        UnpackedLine(name, data.size(), result.size(), toFile ? job.output : StandardOutput);
  }
}

}  // namespace

void RunJob(const Options& options, const Job& job, Workspace& work, Outcome& outcome) noexcept {
  bool outOfMemory = false;
  try {
    Work(options, job, work, outcome);
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
    outcome.messages += "lzs: " + (job.input == "-" ? std::string(StandardInput) : job.input) +
                        (outOfMemory ? ": out of memory\n" : ": failed (unexpected error)\n");
  } catch (...) {
  }
}

void RefuseClashes(std::vector<Job>& jobs) {
  // How many jobs read or write each file; a job's own keys count once.
  std::vector<std::vector<std::string>> outputKeys(jobs.size());
  std::unordered_map<std::string, std::size_t> users;
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    std::vector<std::string> keys;
    if (jobs[k].input != "-") keys = FileKeys(jobs[k].input);
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
