#include <windows.h>
// after windows.h, which it builds on
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>

#include "cli/console.hpp"
#include "cli/messages.hpp"
#include "cli/paths.hpp"
#include "cli/shell.hpp"

namespace cli {

const char* const HelpSwitchNote = " (also /?)";
const char* const PlatformHelp =
    "In FILE, * and ? match long file names only, never the 8.3 short names.\n"
    "Files dropped on lzs.exe in Explorer are done in the order dropped: each\n"
    "NAME.lzs unpacked, any other file packed, existing outputs kept.\n";

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct SearchCloser {
  void operator()(HANDLE search) const { FindClose(search); }
};
// A handle, or a search of FindFirstFile, closed when its owner goes.
using OwnedHandle = std::unique_ptr<void, HandleCloser>;
using OwnedSearch = std::unique_ptr<void, SearchCloser>;

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

// A name as the system compares names: in UTF-16, in upper case.
std::wstring Folded(const std::string& name) {
  const int length = static_cast<int>(name.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), units);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(units));
  return wide;
}

// Whether the process that started this one is Explorer: named
// explorer.exe, and started before this one (a process number that was
// let go may have been given to a later process).
bool StartedByExplorer() {
  const HANDLE taken = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (taken == INVALID_HANDLE_VALUE) return false;
  const OwnedHandle snapshot(taken);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32FirstW(taken, &entry); more; more = Process32NextW(taken, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  bool explorer = false;
  for (BOOL more = Process32FirstW(taken, &entry); more; more = Process32NextW(taken, &entry)) {
    if (parent == 0 || entry.th32ProcessID != parent) continue;
    const wchar_t* base = std::wcsrchr(entry.szExeFile, L'\\');
    explorer = _wcsicmp(base != nullptr ? base + 1 : entry.szExeFile, L"explorer.exe") == 0;
  }
  const HANDLE opened =
      explorer ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent) : nullptr;
  if (opened == nullptr) return false;
  const OwnedHandle process(opened);
  FILETIME parentStart{}, selfStart{}, ended{}, kernel{}, user{};
  return GetProcessTimes(opened, &parentStart, &ended, &kernel, &user) &&
         GetProcessTimes(GetCurrentProcess(), &selfStart, &ended, &kernel, &user) &&
         CompareFileTime(&parentStart, &selfStart) <= 0;
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
  const HANDLE first = FindFirstFileA(argument.c_str(), &found);
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error = code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES
                ? "no file matches"
                : SystemReason("cannot look for matching files", code);
    return false;
  }
  const OwnedSearch search(first);
  // The system matches the short 8.3 names too (keep.lzsold is KEEP~1.LZS,
  // which *.lzs matches): each name it finds is matched again, by its long
  // name alone.
  const std::wstring pattern = Folded(argument.substr(folder.size()));
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != ".." && MatchesPattern<wchar_t>(Folded(name), pattern)) {
      names.push_back(folder + name);
    }
  } while (FindNextFileA(first, &found));
  const DWORD code = GetLastError();
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
  return GetConsoleProcessList(processes, 2) == 1 && IsTerminal(0) && IsTerminal(1) &&
         IsTerminal(2) && StartedByExplorer();
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
