// Where the test build watches and breaks the platform operations. In the
// program's own build these are empty and vanish, and so does the text of a
// call's record: it is made by a function that only the test build calls.
#pragma once

#include <windows.h>

#include <string>

namespace fault {

enum class Op { CreateFileA, GetFileSize, GlobalAlloc, ReadFile, WriteFile, DeleteFileA, Count };

}  // namespace fault

#ifdef LZS_FAULT_INJECTION

namespace fault {
// True when this call of op is to fail; *error is then the code to report.
bool ShouldFail(Op op, DWORD* error);
// The count a read or write of `asked` bytes really moves.
DWORD ReadLimit(DWORD asked);
DWORD WriteLimit(DWORD asked);
// A replaced command line, when the test gives one.
bool OverridesCommandLine(LPSTR* line);
void RecordCall(const std::string& call);
// Records the call that describe() names, such as "CloseHandle(in.lzs)".
template <typename Describe>
void Record(const Describe& describe) {
  RecordCall(describe());
}
void OnExit();
}  // namespace fault

#else

namespace fault {
inline bool ShouldFail(Op, DWORD*) { return false; }
inline DWORD ReadLimit(DWORD asked) { return asked; }
inline DWORD WriteLimit(DWORD asked) { return asked; }
inline bool OverridesCommandLine(LPSTR*) { return false; }
template <typename Describe>
void Record(const Describe&) {}
inline void OnExit() {}
}  // namespace fault

#endif
