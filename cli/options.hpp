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
  bool force = false;
  bool removeInput = false;  // --rm
  bool recursive = false;
  bool fast = false;
  int verbosity = 1;     // 0 with -q, 2 with -v
  unsigned threads = 0;  // 0: one per core
};

enum class ParseResult { Run, Exit, UsageError };

// Fills options from the command line. Prints the help or the version (then
// Exit) or the reason for a usage error (then UsageError).
ParseResult ParseOptions(int argc, char** argv, Options& options);

}  // namespace cli
