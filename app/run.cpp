#include "app/run.hpp"

#include <windows.h>

#include "app/command_line.hpp"
#include "app/notices.hpp"
#include "app/run_state.hpp"
#include "lzs.h"
#include "lzs/decode.hpp"

namespace {

constexpr DWORD MaxInputSize = LZS_UNPACK_IMAGE_MAX;  // a file of exactly this size is taken
constexpr DWORD BlockFactor = 10;
constexpr DWORD BlockExtra = 1024;
constexpr DWORD BlockGranule = 512;  // block size rounding and output area alignment

// The two tones that tell the user the output is written.
void SoundCompletionSignal() {
  Beep(300, 20);
  Sleep(100);
  Beep(400, 25);
}

// The code of the failure just met, or the one a refusal has set; a platform
// that reports none still must not end a failure with 0.
DWORD FailureCode() {
  const DWORD code = GetLastError();
  return code == NO_ERROR ? ERROR_GEN_FAILURE : code;
}

// A refused command line ends with ERROR_BAD_ARGUMENTS, whatever code the
// process happened to hold when it started.
[[noreturn]] void RefuseCommandLine() {
  SetLastError(ERROR_BAD_ARGUMENTS);
  SilentExit();
}

[[noreturn]] void EndWithGeneralError() {
  runState.exitCode = FailureCode();
  ShowNotice(GeneralErrorNotice);
  Cleanup();
}

[[noreturn]] void EndWithFormatError() {
  runState.exitCode = ERROR_INVALID_DATA;
  ShowNotice(FormatErrorNotice);
  Cleanup();
}

// Takes the input's size into fileSize; refuses an empty file and one above
// MaxInputSize, 4 GiB and more included.
void TakeInputSize() {
  DWORD sizeHigh = 0;
  runState.fileSize = GetFileSize(runState.inputHandle, &sizeHigh);
  if (runState.fileSize == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) EndWithGeneralError();
  if (sizeHigh != 0 || runState.fileSize > MaxInputSize) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    EndWithGeneralError();
  }
  if (runState.fileSize == 0) {
    SetLastError(ERROR_HANDLE_EOF);
    EndWithGeneralError();
  }
}

// One zero-filled block: the input at its start, the output area at the first
// 512-aligned address past the input, at least 9 * fileSize + 1 bytes long.
void AllocateBlock() {
  const DWORD blockSize = (runState.fileSize * BlockFactor + BlockExtra) & ~(BlockGranule - 1);
  runState.block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, blockSize);
  if (runState.block == nullptr) EndWithGeneralError();
  const UINT_PTR start = reinterpret_cast<UINT_PTR>(runState.block);
  runState.outputArea = reinterpret_cast<BYTE*>((start + runState.fileSize + BlockGranule) &
                                                ~UINT_PTR{BlockGranule - 1});
}

void WriteOutput() {
  const HANDLE output = CreateFileA(runState.outputName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (output == INVALID_HANDLE_VALUE) EndWithGeneralError();
  runState.outputHandle = output;
  runState.outputUnfinished = true;

  const DWORD decodedLength = runState.byteCount;
  if (!WriteFile(runState.outputHandle, runState.outputArea, decodedLength, &runState.byteCount,
                 nullptr))
    EndWithGeneralError();
  if (runState.byteCount != decodedLength) {
    SetLastError(ERROR_WRITE_FAULT);
    EndWithGeneralError();
  }
  runState.outputUnfinished = false;
}

}  // namespace

// The stored Windows-1251 bytes are decoded as such, so the Russian lines
// read right whatever the system's own code page; the 8-bit box would show
// them in that code page.
void ShowNotice(const char* text) {
  MultiByteToWideChar(NoticeCodePage, 0, NoticeCaption, -1, runState.noticeCaption, NoticeCapacity);
  MultiByteToWideChar(NoticeCodePage, 0, text, -1, runState.noticeText, NoticeCapacity);
  MessageBoxW(nullptr, runState.noticeText, runState.noticeCaption,
              MB_OK | MB_TOPMOST | MB_TASKMODAL);
}

void SilentExit() {
  runState.exitCode = FailureCode();
  ExitProcess(runState.exitCode);
}

void Cleanup() {
  if (runState.inputHandle != nullptr) {
    CloseHandle(runState.inputHandle);
    runState.inputHandle = nullptr;
  }
  if (runState.outputHandle != nullptr) {
    CloseHandle(runState.outputHandle);
    runState.outputHandle = nullptr;
    // A partly written file must not pass for a result.
    if (runState.outputUnfinished) {
      DeleteFileA(runState.outputName);
      runState.outputUnfinished = false;
    }
  }
  if (runState.block != nullptr) {
    GlobalFree(runState.block);
    runState.block = nullptr;
  }
  ExitProcess(runState.exitCode);
}

extern "C" void RunDecompression() {
  const char* commandLine = GetCommandLineA();
  if (commandLine == nullptr) RefuseCommandLine();
  switch (ScanCommandLine(commandLine)) {
    case ScanResult::SyntaxError: RefuseCommandLine();
    case ScanResult::ShowUsage: ShowNotice(UsageNotice); ExitProcess(runState.exitCode);
    case ScanResult::Ready: break;
  }

  const HANDLE input = CreateFileA(runState.inputName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (input == INVALID_HANDLE_VALUE) SilentExit();
  runState.inputHandle = input;

  TakeInputSize();
  AllocateBlock();

  // One read; a short count is not a failure, the decoder gets what was read.
  if (!ReadFile(runState.inputHandle, runState.block, runState.fileSize, &runState.byteCount,
                nullptr))
    EndWithGeneralError();

  runState.byteCount = lzs::DecodeLzs(static_cast<const BYTE*>(runState.block), runState.byteCount,
                                      runState.outputArea);
  if (runState.byteCount == 0) EndWithFormatError();

  // Created only after a good decode, so a refused input never empties it.
  WriteOutput();
  SoundCompletionSignal();
  runState.exitCode = NO_ERROR;
  Cleanup();
}
