// lzs-pack: packs a file into the LZS format that lzs-unpack reads, with the
// smallest image the format allows.
//
//   lzs-pack INPUT [-o OUTPUT] [-f] [-v]
//
// The output defaults to INPUT.lzs. Files are read and written as lzs does
// (cli/files.hpp): only regular files, an output put in place only when
// complete, never over an existing file without -f, and never over a
// device, a FIFO or a socket. Exit code 0 on success, 1 when the file cannot
// be packed, 2 for a bad command line.
#include <cstdio>
#include <new>
#include <string>

#include "cli/files.hpp"
#include "lzs.h"

#ifndef LZS_VERSION
#define LZS_VERSION "unknown"
#endif

namespace {

constexpr std::size_t MaxImageSize = LZS_UNPACK_IMAGE_MAX;
// No input above this can pack below MaxImageSize: 17 payload bytes yield at
// most 144 bytes.
constexpr std::size_t MaxInputSize = MaxImageSize / 17 * 144 + 144;

constexpr const char* UsageText =
    "Usage: lzs-pack INPUT [-o OUTPUT] [-f] [-v]\n"
    "Packs INPUT into an LZS file that lzs-unpack can unpack.\n"
    "\n"
    "  -o OUTPUT      write to OUTPUT (default: INPUT.lzs)\n"
    "  -f, --force    replace an existing OUTPUT\n"
    "  -v, --verbose  print the sizes and the ratio\n"
    "  -h, --help     show this help and exit (on Windows also /?)\n"
    "  -V, --version  show the version and exit\n";

struct Options {
  std::string input;
  std::string output;
  bool verbose = false;
  bool force = false;
};

enum class ParseResult { Run, Exit, Error };

ParseResult ParseArguments(int argc, char** argv, Options& options) {
  bool outputSeen = false;
  bool optionsEnded = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (!optionsEnded && cli::IsHelpSwitch(argv[k])) {
      cli::PutText(1, UsageText);
      return ParseResult::Exit;
    }
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "-h" || arg == "--help") {
        cli::PutText(1, UsageText);
        return ParseResult::Exit;
      } else if (arg == "-V" || arg == "--version") {
        std::puts("lzs-pack " LZS_VERSION);
        return ParseResult::Exit;
      } else if (arg == "-v" || arg == "--verbose") {
        options.verbose = true;
      } else if (arg == "-f" || arg == "--force") {
        options.force = true;
      } else if (arg == "-o" || arg == "--output") {
        if (k + 1 == argc) {
          std::fprintf(stderr, "lzs-pack: %s needs a file name\n", arg.c_str());
          return ParseResult::Error;
        }
        if (outputSeen) {
          std::fputs("lzs-pack: only one output file may be given\n", stderr);
          return ParseResult::Error;
        }
        options.output = argv[++k];
        outputSeen = true;
      } else {
        std::fprintf(stderr, "lzs-pack: unknown option '%s'\n", arg.c_str());
        return ParseResult::Error;
      }
    } else if (options.input.empty()) {
      options.input = arg;
    } else {
      std::fputs("lzs-pack: only one input file may be given\n", stderr);
      return ParseResult::Error;
    }
  }
  if (options.input.empty()) {
    std::fputs("lzs-pack: no input file given\n", stderr);
    return ParseResult::Error;
  }
  if (options.output.empty()) options.output = options.input + ".lzs";
  return ParseResult::Run;
}

int Fail(const std::string& file, const std::string& reason) {
  cli::PutText(2, "lzs-pack: " + file + ": " + reason + "\n");
  return 1;
}

// Standard output took everything printed to it.
bool Flushed() {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  std::fputs("lzs-pack: (standard output): cannot write\n", stderr);
  return false;
}

int Pack(const Options& options) {
  if (cli::SameFile(options.input, options.output)) {
    return Fail(options.output, "is the input file itself");
  }
  if (!options.force && cli::PathExists(options.output))
    return Fail(options.output, cli::ExistsReason);
  if (cli::IsFolder(options.input)) return Fail(options.input, "cannot read: is a folder");
  cli::Bytes data;
  cli::FileStamp stamp;
  std::string error;
  if (!cli::ReadInputFile(options.input, cli::ReadRule{MaxInputSize, false}, data, stamp, error)) {
    return Fail(options.input, error);
  }
  if (data.empty())
    return Fail(options.input, "is empty; lzs-unpack does not take an empty LZS file");
  cli::Bytes image(lzs_encode_bound(data.size()));
  const size_t packed =
      lzs_encode(image.data(), image.size(), data.data(), data.size(), LZS_LEVEL_OPTIMAL);
  if (lzs_is_error(packed)) {
    return Fail(options.input, std::string("cannot pack: ") + lzs_error_name(packed));
  }
  if (packed > MaxImageSize) {
    return Fail(options.input, "is too large: its LZS file would be " + std::to_string(packed) +
                                   " bytes, above " + std::to_string(MaxImageSize) +
                                   ", the most lzs-unpack takes");
  }
  cli::OutputFile file;
  if (!file.Open(options.output, stamp, error) || !file.Write(image.data(), packed, error) ||
      !file.Commit(stamp, options.force, error)) {
    return Fail(options.output, error);
  }
  if (options.verbose) {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f%%",
                  100.0 * static_cast<double>(packed) / static_cast<double>(data.size()));
    const bool shown = cli::PutText(1, options.input + ": " + std::to_string(data.size()) +
                                           " bytes -> " + options.output + ": " +
                                           std::to_string(packed) + " bytes (" + ratio + ")\n");
    if (!shown) {
      std::fputs("lzs-pack: (standard output): cannot write\n", stderr);
      return 1;
    }
  }
  return Flushed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  cli::PrepareFiles(false);
  Options options;
  switch (ParseArguments(argc, argv, options)) {
    case ParseResult::Exit: return Flushed() ? 0 : 1;
    case ParseResult::Error:
      std::fputs("Try 'lzs-pack --help' for more information.\n", stderr);
      return 2;
    case ParseResult::Run: break;
  }
  // A failed allocation (a large input under a memory limit) ends the run
  // with a message; the output, not yet committed, is discarded on the way.
  try {
    return Pack(options);
  } catch (const std::bad_alloc&) {
    return Fail(options.input, "out of memory");
  }
}
