#include <windows.h>

#include <algorithm>
#include <cstring>

#include "cli/console.hpp"
#include "cli/messages.hpp"
#include "cli/shell.hpp"

namespace cli {
namespace {

// Windows names hold no * or ?: an argument that does is a pattern.
bool IsPattern(const std::string& argument) {
  return argument.find_first_of("*?") != std::string::npos;
}

// Case-blind first (as the system compares names), then byte for byte, so
// that the order is one and the same on every run.
bool ComesBefore(const std::string& a, const std::string& b) {
  const int blind = _stricmp(a.c_str(), b.c_str());
  return blind != 0 ? blind < 0 : a < b;
}

}  // namespace

bool ExpandWildcards(const std::string& argument, std::vector<std::string>& names,
                     std::string& error) {
  names.clear();
  if (!IsPattern(argument)) {
    names.push_back(argument);
    return true;
  }
  // The folder part as typed, drive letter and separators included.
  const std::size_t end = argument.find_last_of("\\/:");
  const std::string folder = end == std::string::npos ? "" : argument.substr(0, end + 1);
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(argument.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error = code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES
                ? "no file matches"
                : SystemReason("cannot look for matching files", code);
    return false;
  }
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(folder + name);
  } while (FindNextFileA(search, &found));
  const DWORD code = GetLastError();
  FindClose(search);
  if (code != ERROR_NO_MORE_FILES) {
    error = SystemReason("cannot look for matching files", code);
    return false;
  }
  if (names.empty()) {
    error = "no file matches";
    return false;
  }
  std::sort(names.begin(), names.end(), ComesBefore);
  return true;
}

bool IsHelpSwitch(const char* argument) { return std::strcmp(argument, "/?") == 0; }

bool StartedFromExplorer() {
  DWORD processes[2] = {};
  return GetConsoleProcessList(processes, 2) == 1 && IsTerminal(0) && IsTerminal(2);
}

void WaitForEnter() {
  if (!IsTerminal(0)) return;
  PutText(2, "Press Enter to close this window.\n");
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  wchar_t typed = 0;
  DWORD count = 0;
  while (ReadConsoleW(input, &typed, 1, &count, nullptr) && count == 1 && typed != L'\r' &&
         typed != L'\n') {
  }
}

}  // namespace cli
