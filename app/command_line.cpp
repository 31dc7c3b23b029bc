#include "app/command_line.hpp"

#include "app/run_state.hpp"

namespace {

constexpr char DefaultOutputSuffix[] = ".DeLZS";
constexpr DWORD SuffixLength = sizeof(DefaultOutputSuffix) - 1;
constexpr DWORD MaxNameLength = NameCapacity - 1;

DWORD NameLength(const char* name) {
  DWORD n = 0;
  while (name[n] != '\0') ++n;
  return n;
}

// The cursor stands on the option letter. Takes the quoted name after it into
// name and leaves the cursor on the closing quote.
bool TakeQuotedName(const char*& cursor, DWORD flag, char* name) {
  ++cursor;
  if (*cursor != '"') return false;
  if (runState.optionFlags & flag) return false;
  runState.optionFlags |= flag;
  ++cursor;
  DWORD n = 0;
  while (*cursor != '"') {
    if (*cursor == '\0' || n == MaxNameLength) return false;
    name[n++] = *cursor++;
  }
  name[n] = '\0';
  return true;
}

}  // namespace

bool MakeDefaultOutputName() {
  const DWORD n = NameLength(runState.inputName);
  if (n + SuffixLength > MaxNameLength) return false;
  for (DWORD k = 0; k < n; ++k) runState.outputName[k] = runState.inputName[k];
  for (DWORD k = 0; k <= SuffixLength; ++k) runState.outputName[n + k] = DefaultOutputSuffix[k];
  return true;
}

ScanResult ScanCommandLine(const char* commandLine) {
  const char* cursor = commandLine;
  while (*cursor != '\0') {
    if (*cursor != '/') {
      ++cursor;
      continue;
    }
    ++cursor;
    // Anything but D or O (a second slash, the final zero) is looked at again.
    if (*cursor == 'D') {
      if (!TakeQuotedName(cursor, InputOptionSeen, runState.inputName))
        return ScanResult::SyntaxError;
    } else if (*cursor == 'O') {
      if (!TakeQuotedName(cursor, OutputOptionSeen, runState.outputName))
        return ScanResult::SyntaxError;
    }
  }

  if (!(runState.optionFlags & InputOptionSeen)) return ScanResult::ShowUsage;
  if (!(runState.optionFlags & OutputOptionSeen) && !MakeDefaultOutputName())
    return ScanResult::SyntaxError;
  return ScanResult::Ready;
}
