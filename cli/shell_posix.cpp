#include "cli/shell.hpp"

namespace cli {

bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& /*error*/) {
  names.assign(1, argument);
  return true;
}

bool IsHelpSwitch(const char* /*argument*/) { return false; }

const char* const HelpSwitchNote = "";
const char* const PlatformHelp =
    "Started as lzscat, lzs works as lzs -dc; as unlzs, as lzs -d.\n"
    "A name that leads to a descriptor (-o /dev/stdout) is written through, as\n"
    "-c writes; nothing in /dev or /proc is ever replaced or removed.\n";

bool StartedFromExplorer() { return false; }

void WaitForEnter() {}

}  // namespace cli
