// The command lines of lzs and of lzs-pack, read with getopt_long.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Dropped: files dropped on lzs.exe in Explorer, each NAME.SUFFIX unpacked
// and any other file packed, in the order given. Inspect and Scan report
// on each file (cli/workbench.hpp).
enum class Mode { Pack, Unpack, Test, List, Dropped, Inspect, Scan };

// Which program the user started: lzs (also as lzscat and unlzs), or
// lzs-pack, which packs one file by a command line of its own.
enum class Face { Lzs, Pack };

struct Options {
  Face face = Face::Lzs;
  Mode mode = Mode::Pack;
  std::vector<std::string> inputs;  // "-" is standard input (not for lzs-pack); none means "-"
  std::string output;               // -o, for one input
  bool toStdout = false;            // -c
  bool catName = false;             // started as lzscat: standard output by name
  bool force = false;
  bool removeInput = false;  // --rm
  bool recursive = false;
  bool fast = false;               // --fast, -1; -9 and --best undo it
  std::string suffix = ".lzs";     // -S: given to images, and looked for
  bool excludeCompressed = false;  // when packing, skip NAME.SUFFIX inputs
  std::string outputDir;           // --output-dir-flat: outputs go there
  bool progress = true;            // --no-progress
  int verbosity = 1;               // 0 with -q, 2 with -v
  unsigned long threads = 0;       // 0: one per core
  bool json = false;               // --json, with --inspect and --scan
  std::string extractDir;          // --extract: --scan unpacks what it finds there
  bool salvage = false;            // --salvage: a damaged image's output is kept
  std::string like;                // --like: packed as this image was
};

// The program the name it was started by (argv[0]) stands for: lzs-pack, or
// lzs with the defaults of lzscat (lzs -dc) or unlzs (lzs -d).
Face FaceForName(const char* argv0, Options& options);

// Prints the help to standard output.
void ShowHelp(Face face);

enum class ParseResult { Run, Exit, UsageError };

// Fills options from the command line of lzs or lzs-pack. Prints the help
// (for -h, and on Windows for /? too) or the version (then Exit) or the
// reason for a usage error (then UsageError).
ParseResult ParseOptions(int argc, char** argv, Options& options);

}  // namespace cli
