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
// With LZS_NEW_CONSOLE set (to anything), the program gets a console of its own, as one started
// from Explorer does. Once the program has used no processor time for a second (it has most
// likely passed its start, where it may look at who shares its console), the launcher looks at
// that console every 200 ms, attaching for each look only; when the screen has stayed the same
// for a second with the program still running (it waits for input), the launcher writes what it
// shows to standard output as UTF-8 (a line "screen:", the lines up to the cursor without their
// trailing blanks, a line "end of screen") and types Enter into it. The console is made 512
// characters wide, so that no line wraps. With LZS_SCREEN_END set too, to the text the program
// shows once it waits for input, the screen is read as soon as it holds that text, however long
// the program takes to get there, instead of once it has stayed the same.
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
char screenEnd[LineCapacity];  // LZS_SCREEN_END, or empty
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

constexpr DWORD ScreenWidth = 512;  // the most of one line that is read
constexpr SHORT ScreenRows = 200;
constexpr DWORD ScreenBytes = ScreenRows * (ScreenWidth * 3 + 1);
constexpr DWORD QuietSamples = 10;  // 100 ms apart: a second without processor time
constexpr DWORD SteadySamples = 5;  // 200 ms apart: a second of the same screen
WCHAR screenLine[ScreenWidth];
char screenText[ScreenBytes];
char screenBefore[ScreenBytes];
INPUT_RECORD enterKey[2];

ULONGLONG ProcessorTime(HANDLE process) {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) Fail("GetProcessTimes");
  return (ULONGLONG{kernel.dwHighDateTime} << 32 | kernel.dwLowDateTime) +
         (ULONGLONG{user.dwHighDateTime} << 32 | user.dwLowDateTime);
}

// Waits until the process has used no processor time for QuietSamples in a
// row; false when it ended first.
bool WaitUntilQuiet(HANDLE process) {
  ULONGLONG before = ProcessorTime(process);
  for (DWORD quiet = 0; quiet < QuietSamples;) {
    if (WaitForSingleObject(process, 100) != WAIT_TIMEOUT) return false;
    const ULONGLONG now = ProcessorTime(process);
    quiet = now == before ? quiet + 1 : 0;
    before = now;
  }
  return true;
}

// The console's lines up to the cursor, each without its trailing blanks and
// ended by a line feed, as UTF-8 in screenText; returns the length.
DWORD TakeScreen(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) Fail("GetConsoleScreenBufferInfo");
  const DWORD width = info.dwSize.X < static_cast<SHORT>(ScreenWidth) ? info.dwSize.X : ScreenWidth;
  DWORD length = 0;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y && row < ScreenRows; ++row) {
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(screen, screenLine, width, COORD{0, row}, &read))
      Fail("ReadConsoleOutputCharacterW");
    while (read > 0 && screenLine[read - 1] == L' ') --read;
    if (read > 0) {
      length += static_cast<DWORD>(WideCharToMultiByte(CP_UTF8, 0, screenLine,
                                                       static_cast<int>(read), screenText + length,
                                                       ScreenWidth * 3, nullptr, nullptr));
    }
    screenText[length++] = '\n';
  }
  return length;
}

// Whether text[0..length) holds wanted, a zero-ended text.
bool Holds(const char* text, DWORD length, const char* wanted) {
  for (DWORD at = 0; at < length; ++at) {
    DWORD k = 0;
    while (wanted[k] != '\0' && at + k < length && text[at + k] == wanted[k]) ++k;
    if (wanted[k] == '\0') return true;
  }
  return false;
}

// Attaches to the process's console, hands use its screen and keyboard, and
// lets go at once, so that a program still starting, which looks at who
// shares its console, nearly always finds it its own. False when there is no
// console to attach to (not yet, or no more).
template <typename Use>
bool WithConsole(DWORD processId, Use use) {
  // Attaching and letting go of a console resets the standard handles.
  const HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                              GetStdHandle(STD_ERROR_HANDLE)};
  FreeConsole();
  if (!AttachConsole(processId)) return false;
  const HANDLE screen =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  const HANDLE keyboard =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE || keyboard == INVALID_HANDLE_VALUE) Fail("CreateFileA(CON)");
  use(screen, keyboard);
  CloseHandle(screen);
  CloseHandle(keyboard);
  FreeConsole();
  SetStdHandle(STD_INPUT_HANDLE, standard[0]);
  SetStdHandle(STD_OUTPUT_HANDLE, standard[1]);
  SetStdHandle(STD_ERROR_HANDLE, standard[2]);
  return true;
}

// Types Enter (key down, then up) into the console.
void TypeEnter(HANDLE keyboard) {
  for (int k = 0; k < 2; ++k) {
    enterKey[k].EventType = KEY_EVENT;
    enterKey[k].Event.KeyEvent.bKeyDown = k == 0;
    enterKey[k].Event.KeyEvent.wRepeatCount = 1;
    enterKey[k].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
    enterKey[k].Event.KeyEvent.uChar.UnicodeChar = L'\r';
  }
  DWORD typed = 0;
  if (!WriteConsoleInputW(keyboard, enterKey, 2, &typed) || typed != 2) Fail("WriteConsoleInputW");
}

// Looks at the process's console every 200 ms until its screen holds
// screenEnd (when given) or else has stayed the same for SteadySamples in a
// row, with the process still running; then writes the screen to output and
// types Enter. Writes nothing when the process ends first.
void ReadScreenAndPressEnter(HANDLE process, DWORD processId, HANDLE output) {
  DWORD length = 0;
  DWORD lengthBefore = 0;
  const auto look = [&](HANDLE screen, HANDLE) { length = TakeScreen(screen); };
  for (DWORD steady = 0; steady < SteadySamples;) {
    const bool seen = WithConsole(processId, look);
    if (seen && screenEnd[0] != '\0') {
      // The program shows this once it waits: no guess from a still screen.
      if (Holds(screenText, length, screenEnd)) break;
    } else if (seen) {
      bool same = length == lengthBefore;
      for (DWORD k = 0; same && k < length; ++k) same = screenText[k] == screenBefore[k];
      for (DWORD k = 0; k < length; ++k) screenBefore[k] = screenText[k];
      lengthBefore = length;
      steady = same ? steady + 1 : 0;
    }
    if (WaitForSingleObject(process, 200) != WAIT_TIMEOUT) return;
  }
  DWORD written = 0;
  WriteFile(output, "screen:\n", 8, &written, nullptr);
  WriteFile(output, screenText, length, &written, nullptr);
  WriteFile(output, "end of screen\n", 14, &written, nullptr);
  // The program waits for this Enter, so its console is still there.
  if (!WithConsole(processId, [](HANDLE, HANDLE keyboard) { TypeEnter(keyboard); }))
    Fail("AttachConsole");
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
  const bool newConsole = GetEnvironmentVariableA("LZS_NEW_CONSOLE", nullptr, 0) != 0;
  if (GetEnvironmentVariableA("LZS_SCREEN_END", screenEnd, LineCapacity) >= LineCapacity)
    Fail("LZS_SCREEN_END");
  if (newConsole) {
    // Lines wide enough that no line of the program's wraps on the screen.
    startupInfo.dwFlags = STARTF_USECOUNTCHARS;
    startupInfo.dwXCountChars = ScreenWidth;
    startupInfo.dwYCountChars = 200;
  }
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);  // before any console is attached
  if (!CreateProcessA(programPath, commandLine, nullptr, nullptr, FALSE,
                      newConsole ? CREATE_NEW_CONSOLE : 0, nullptr, nullptr, &startupInfo,
                      &processInfo))
    Fail("CreateProcessA");
  if (newConsole && WaitUntilQuiet(processInfo.hProcess))
    ReadScreenAndPressEnter(processInfo.hProcess, processInfo.dwProcessId, output);
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
