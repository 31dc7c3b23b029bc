// Test control of the native platform layer: make an operation fail, pause
// a run at an operation, shorten reads and writes, replace the command line,
// and read back the calls made.
#pragma once

#include <windows.h>

#include <string>

#include "platform/hooks.hpp"

namespace fault {

// Forget every plan and the recorded calls.
void Reset();
// The nth call (counting from 1) of op fails with error.
void FailCall(Op op, int nth, DWORD error);
// At the first call of op, before it does anything, one byte is written to
// readyFd and the run waits for one byte (or the end) on goFd: the test can
// act while the run holds what it has opened so far.
void PauseAt(Op op, int readyFd, int goFd);
// Reads (writes) move at most this many bytes but still report success.
void LimitReads(DWORD bytes);
void LimitWrites(DWORD bytes);
// What GetCommandLineA returns; nullptr means the platform gives none.
void SetCommandLine(const char* line);
// The calls made so far, one per line, such as "CloseHandle(in.lzs)".
const std::string& Calls();
// At ExitProcess the recorded calls are written to this descriptor.
void SendCallsAtExit(int fd);

}  // namespace fault
