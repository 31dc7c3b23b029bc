// The program's one record of state: a single static instance, all fields
// zero, empty or none at start.
#pragma once

#include <windows.h>

#include "app/notices.hpp"

inline constexpr DWORD InputOptionSeen = 1u << 0;   // a /D option was taken
inline constexpr DWORD OutputOptionSeen = 1u << 1;  // an /O option was taken
inline constexpr DWORD NameCapacity = 512;          // 511 characters and a zero

struct RunState {
  DWORD exitCode;
  DWORD optionFlags;
  void* block;            // the one block holding input and output, or null
  HANDLE inputHandle;     // null when not held
  HANDLE outputHandle;    // null when not held
  bool outputUnfinished;  // the output file exists but was not fully written
  DWORD byteCount;        // bytes read, then decoded, then written
  DWORD fileSize;
  BYTE* outputArea;  // inside block
  char inputName[NameCapacity];
  char outputName[NameCapacity];
  // The notice shown and its caption, decoded for the Unicode message box.
  WCHAR noticeCaption[NoticeCapacity];
  WCHAR noticeText[NoticeCapacity];
};

extern RunState runState;
