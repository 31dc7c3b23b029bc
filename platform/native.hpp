// Pieces of the native platform layer that are testable on their own.
#pragma once

#include <string>

namespace native {

// The Windows-style command line for argv: the program's name without its
// folders (so that a folder such as /Data in its path is never taken for an
// option), then each argument after one space. The shell has already
// removed the quotes of /D"name" and /O"name", so an argument that starts
// with /D or /O and has a name after the letter gets that name quoted again.
// A name with a double quote in it cannot stand between quotes: such an
// argument is passed on as it came, so the scan refuses it, unless the quote
// stands right after the letter and the quotes are already there.
std::string BuildCommandLine(int argc, const char* const* argv);

// Makes BuildCommandLine(argc, argv) what GetCommandLineA returns, and lets
// writes past the file size limit or into a closed pipe fail with a code
// rather than end the process. SIGHUP, SIGINT and SIGTERM (unless inherited
// as ignored) first remove an output the run has created or emptied and not
// yet written whole, then end the process by that signal.
void SetProcessArguments(int argc, const char* const* argv);

// The UTF-16 unit of one Windows-1251 byte; the unassigned 0x98 is U+FFFD.
char16_t Cp1251Unit(unsigned char byte);

// Zero-ended UTF-16 text as a terminal shows it: UTF-8, CR LF line breaks
// as LF. A lone surrogate becomes U+FFFD.
std::string Utf16ToShown(const char16_t* text);

}  // namespace native
