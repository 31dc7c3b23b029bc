// lzs-launch: starts a program with an exact command line and ends with the
// program's exit code.
//
// Wine builds a command line from its Unix arguments and quotes them its own
// way, so the line to hand over is taken from the environment instead:
//   LZS_PROGRAM       the Windows path of the program to start
//   LZS_COMMAND_LINE  the whole command line, program path included, byte for byte
// The program path inside the line is only text: it need not name the program
// that is started. After the program ends, "exit code N" (decimal, all 32 bits)
// is written to standard output, since a Unix exit status keeps only 8 of them.
// A program whose Unix process a signal killed (SIGXFSZ past `ulimit -f`, say)
// also reads as exit code 0 here: that is what Wine reports for it, and no
// Windows call tells it from ExitProcess(0). The test harness (tests/e2e/wine.py)
// takes the program's Unix wait status instead.
//
// With LZS_MEMORY set (to anything), the program's memory counters are also
// sampled every millisecond while it runs (those of a process that has ended
// may read as zero) and their peaks written to standard error:
//   peak working set N bytes, peak pagefile usage M bytes
#include <windows.h>
// after windows.h, which it builds on
#include <psapi.h>

namespace {

constexpr DWORD LineCapacity = 32768;  // the longest command line Windows takes
constexpr DWORD LaunchFailed = 255;

// Static, so zero-filled without a memset call.
char commandLine[LineCapacity];
char programPath[LineCapacity];
STARTUPINFOA startupInfo;
PROCESS_INFORMATION processInfo;

void WriteText(DWORD stream, const char* text) {
  DWORD length = 0;
  while (text[length] != '\0') ++length;
  DWORD written = 0;
  WriteFile(GetStdHandle(stream), text, length, &written, nullptr);
}

void WriteNumber(DWORD stream, ULONGLONG value) {
  char digits[21];
  int n = 20;
  digits[n] = '\0';
  do {
    digits[--n] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  WriteText(stream, digits + n);
}

[[noreturn]] void Fail(const char* what) {
  const DWORD error = GetLastError();
  WriteText(STD_ERROR_HANDLE, "lzs-launch: ");
  WriteText(STD_ERROR_HANDLE, what);
  WriteText(STD_ERROR_HANDLE, " failed, error ");
  WriteNumber(STD_ERROR_HANDLE, error);
  WriteText(STD_ERROR_HANDLE, "\n");
  ExitProcess(LaunchFailed);
}

struct MemoryPeaks {
  SIZE_T workingSet;
  SIZE_T pagefileUsage;
};

// Waits for the process to end, sampling its memory counters meanwhile.
MemoryPeaks WaitSampling(HANDLE process) {
  MemoryPeaks peaks{};
  DWORD waited = 0;
  do {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(process, &memory, sizeof memory)) {
      if (memory.PeakWorkingSetSize > peaks.workingSet)
        peaks.workingSet = memory.PeakWorkingSetSize;
      if (memory.PeakPagefileUsage > peaks.pagefileUsage)
        peaks.pagefileUsage = memory.PeakPagefileUsage;
    }
    waited = WaitForSingleObject(process, 1);
  } while (waited == WAIT_TIMEOUT);
  if (waited != WAIT_OBJECT_0) Fail("WaitForSingleObject");
  return peaks;
}

// Reads a variable that must be set; an empty value counts as set.
void ReadVariable(const char* name, char* value) {
  SetLastError(NO_ERROR);
  const DWORD length = GetEnvironmentVariableA(name, value, LineCapacity);
  if (length == 0 && GetLastError() != NO_ERROR) Fail(name);
  if (length >= LineCapacity) Fail(name);
}

}  // namespace

extern "C" [[noreturn]] void Launch() {
  ReadVariable("LZS_PROGRAM", programPath);
  ReadVariable("LZS_COMMAND_LINE", commandLine);

  startupInfo.cb = sizeof(startupInfo);
  if (!CreateProcessA(programPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startupInfo, &processInfo))
    Fail("CreateProcessA");
  const bool sampling = GetEnvironmentVariableA("LZS_MEMORY", nullptr, 0) != 0;
  MemoryPeaks peaks{};
  if (sampling) peaks = WaitSampling(processInfo.hProcess);
  else if (WaitForSingleObject(processInfo.hProcess, INFINITE) != WAIT_OBJECT_0)
    Fail("WaitForSingleObject");
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(processInfo.hProcess, &exitCode)) Fail("GetExitCodeProcess");
  CloseHandle(processInfo.hThread);
  CloseHandle(processInfo.hProcess);

  if (sampling) {
    WriteText(STD_ERROR_HANDLE, "peak working set ");
    WriteNumber(STD_ERROR_HANDLE, peaks.workingSet);
    WriteText(STD_ERROR_HANDLE, " bytes, peak pagefile usage ");
    WriteNumber(STD_ERROR_HANDLE, peaks.pagefileUsage);
    WriteText(STD_ERROR_HANDLE, " bytes\n");
  }
  WriteText(STD_OUTPUT_HANDLE, "exit code ");
  WriteNumber(STD_OUTPUT_HANDLE, exitCode);
  WriteText(STD_OUTPUT_HANDLE, "\n");
  ExitProcess(exitCode);
}
