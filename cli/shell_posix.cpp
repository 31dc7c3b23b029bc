#include "cli/shell.hpp"

namespace cli {

bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& /*error*/) {
  names.assign(1, argument);
  return true;
}

bool IsHelpSwitch(const char* /*argument*/) { return false; }

bool StartedFromExplorer() { return false; }

void WaitForEnter() {}

}  // namespace cli
