// A Windows launcher for bench/run_bench.sh: starts its one argument as a
// command line, exactly as given, waits for it, and prints its exit code and
// peak working set. Wine escapes double quotes when it builds a command line
// from Unix arguments (/D"x" arrives as /D\"x\"); the C runtime's argument
// parsing here undoes that, so argv[1] is the line as typed.
//
//   x86_64-w64-mingw32-g++ -O2 -static -o wine_launch.exe wine_launch.cpp -lpsapi
//   wine64 wine_launch.exe 'lzs-unpack.exe /D"x.lzs"'
#include <windows.h>
#include <psapi.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wine_launch \"COMMAND LINE\"\n");
    return 2;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, argv[1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "wine_launch: CreateProcessA failed, error %lu\n", GetLastError());
    return 2;
  }
  // The counters of a process that has ended may read as zero, so they are
  // sampled every millisecond while it runs (the program holds its block
  // through the completion tones, so the peak is seen).
  SIZE_T peakWorkingSet = 0;
  SIZE_T peakPagefile = 0;
  do {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
      if (memory.PeakWorkingSetSize > peakWorkingSet) peakWorkingSet = memory.PeakWorkingSetSize;
      if (memory.PeakPagefileUsage > peakPagefile) peakPagefile = memory.PeakPagefileUsage;
    }
  } while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  std::fprintf(stderr, "exit code %lu, peak working set %zu bytes, peak pagefile usage %zu bytes\n", exitCode,
               static_cast<std::size_t>(peakWorkingSet), static_cast<std::size_t>(peakPagefile));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
