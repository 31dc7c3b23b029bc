// lzs-pack: packs a file into the LZS format that lzs-unpack reads, with the
// smallest image the format allows.
//
//   lzs-pack INPUT [-o OUTPUT] [-v]
//
// The output defaults to INPUT.lzs. Exit code 0 on success, 1 when the file
// cannot be packed, 2 for a bad command line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lzs.h"

#ifndef LZS_VERSION
#define LZS_VERSION "unknown"
#endif

namespace {

// lzs-unpack takes files of at most 8 MiB.
constexpr std::size_t MaxImageSize = 8u << 20;
// No input above this can pack below MaxImageSize: 17 payload bytes yield at
// most 144 bytes.
constexpr std::size_t MaxInputSize = MaxImageSize / 17 * 144 + 144;

constexpr const char* UsageText =
    "Usage: lzs-pack INPUT [-o OUTPUT] [-v]\n"
    "Packs INPUT into an LZS file that lzs-unpack can unpack.\n"
    "\n"
    "  -o OUTPUT      write to OUTPUT (default: INPUT.lzs)\n"
    "  -v, --verbose  print the sizes and the ratio\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n";

struct Options {
  std::string input;
  std::string output;
  bool verbose = false;
};

enum class ParseResult { Run, Exit, Error };

ParseResult ParseArguments(int argc, char** argv, Options& options) {
  bool outputSeen = false;
  bool optionsEnded = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "-h" || arg == "--help") {
        std::fputs(UsageText, stdout);
        return ParseResult::Exit;
      } else if (arg == "-V" || arg == "--version") {
        std::puts("lzs-pack " LZS_VERSION);
        return ParseResult::Exit;
      } else if (arg == "-v" || arg == "--verbose") {
        options.verbose = true;
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

// Reads the whole file, or tells why not.
bool ReadInput(const std::string& name, std::vector<std::uint8_t>& data) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "lzs-pack: cannot open '%s': %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  // Reserve what the file holds now, so that reading does not grow the
  // buffer to twice the size.
  std::error_code ignored;
  const std::uintmax_t size = std::filesystem::file_size(name, ignored);
  // A failure gives static_cast<std::uintmax_t>(-1), which is above the limit.
  if (size <= MaxInputSize) data.reserve(static_cast<std::size_t>(size));
  std::uint8_t buffer[1 << 16];
  bool ok = true;
  for (;;) {
    const std::size_t count = std::fread(buffer, 1, sizeof buffer, file);
    data.insert(data.end(), buffer, buffer + count);
    if (data.size() > MaxInputSize) {
      std::fprintf(stderr, "lzs-pack: '%s' is too large: its LZS file would exceed %zu bytes, the most lzs-unpack takes\n",
                   name.c_str(), MaxImageSize);
      ok = false;
      break;
    }
    if (count < sizeof buffer) {
      if (std::ferror(file)) {
        std::fprintf(stderr, "lzs-pack: cannot read '%s': %s\n", name.c_str(), std::strerror(errno));
        ok = false;
      }
      break;
    }
  }
  std::fclose(file);
  return ok;
}

// Writes the image; on any failure removes what was written (unless the
// output is a device or the like, which is never removed).
bool WriteOutput(const std::string& name, const std::vector<std::uint8_t>& image) {
  std::error_code ignored;
  const auto status = std::filesystem::status(name, ignored);
  const bool removable = !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "lzs-pack: cannot create '%s': %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  ok = std::fflush(file) == 0 && ok;
  const int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "lzs-pack: cannot write '%s': %s\n", name.c_str(), std::strerror(error != 0 ? error : errno));
    if (removable) std::remove(name.c_str());
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  switch (ParseArguments(argc, argv, options)) {
    case ParseResult::Exit:
      return 0;
    case ParseResult::Error:
      std::fputs("Try 'lzs-pack --help' for more information.\n", stderr);
      return 2;
    case ParseResult::Run:
      break;
  }

  std::error_code ignored;
  if (std::filesystem::equivalent(options.input, options.output, ignored)) {
    std::fprintf(stderr, "lzs-pack: the output '%s' is the input file itself\n", options.output.c_str());
    return 1;
  }
  std::vector<std::uint8_t> data;
  if (!ReadInput(options.input, data)) return 1;
  if (data.empty()) {
    std::fprintf(stderr, "lzs-pack: '%s' is empty; lzs-unpack does not take an empty LZS file\n",
                 options.input.c_str());
    return 1;
  }
  std::vector<std::uint8_t> image(lzs_encode_bound(data.size()));
  const size_t packed = lzs_encode(image.data(), image.size(), data.data(), data.size(), LZS_LEVEL_OPTIMAL);
  if (lzs_is_error(packed)) {
    std::fprintf(stderr, "lzs-pack: cannot pack '%s': %s\n", options.input.c_str(), lzs_error_name(packed));
    return 1;
  }
  image.resize(packed);
  if (image.size() > MaxImageSize) {
    std::fprintf(stderr, "lzs-pack: '%s' is too large: its LZS file would be %zu bytes, above %zu, the most lzs-unpack takes\n",
                 options.input.c_str(), image.size(), MaxImageSize);
    return 1;
  }
  if (!WriteOutput(options.output, image)) return 1;
  if (options.verbose) {
    std::printf("%s: %zu bytes -> %s: %zu bytes (%.1f%%)\n", options.input.c_str(), data.size(),
                options.output.c_str(), image.size(), 100.0 * static_cast<double>(image.size()) / static_cast<double>(data.size()));
  }
  return 0;
}
