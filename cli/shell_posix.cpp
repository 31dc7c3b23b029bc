#include "cli/shell.hpp"

namespace cli {

bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& /*error*/) {
  names.assign(1, argument);
  return true;
}

bool IsHelpSwitch(const char* /*argument*/) { return false; }

const char* const HelpSwitchNote = "";
const char* const PlatformHelp = "Started as lzscat, lzs works as lzs -dc; as unlzs, as lzs -d.\n";

bool StartedFromExplorer() { return false; }

void WaitForEnter() {}

}  // namespace cli
