// Pieces of the native platform layer that are testable on their own.
#pragma once

#include <string>

namespace native {

// The Windows-style command line for argv: the program path, then each
// argument after one space. The shell has already removed the quotes of
// /D"name" and /O"name", so an argument that starts with /D or /O, has more
// after the letter and no quote right after it gets that rest quoted again.
std::string BuildCommandLine(int argc, const char* const* argv);

// Makes BuildCommandLine(argc, argv) what GetCommandLineA returns.
void SetProcessArguments(int argc, const char* const* argv);

// Windows-1251 text as UTF-8, CR LF line breaks as LF.
std::string Cp1251ToUtf8(const char* text);

}  // namespace native
