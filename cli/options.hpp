// The command line of lzs, read with getopt_long.
#pragma once

#include <string>
#include <vector>

namespace cli {

enum class Mode { Pack, Unpack, Test, List };

struct Options {
  Mode mode = Mode::Pack;
  std::vector<std::string> inputs;  // "-" is standard input; none means "-"
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
  unsigned threads = 0;            // 0: one per core
};

// The defaults of a program started as lzscat (lzs -dc) or unlzs (lzs -d),
// from the base name of argv[0].
void SetDefaultsForName(const char* argv0, Options& options);

// Prints the help to standard output.
void ShowHelp();

enum class ParseResult { Run, Exit, UsageError };

// Fills options from the command line. Prints the help (for -h, and on
// Windows for /? too) or the version (then Exit) or the reason for a usage
// error (then UsageError).
ParseResult ParseOptions(int argc, char** argv, Options& options);

}  // namespace cli
