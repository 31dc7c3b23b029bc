// The standard streams: text on standard output and standard error, data
// on standard output, and whether each is a terminal. No words of lzs's
// own: messages are made in messages.cpp, and what a batch shows in
// report.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/os.hpp"

namespace cli {

// Writes text (UTF-8; on Windows text in the process code page) on standard
// output (1) or standard error (2); false when it was not all written. The
// first failure on standard output is kept for CloseStandardOutput.
bool PutText(int stream, const std::string& text);
// Data on standard output; the system's error, or 0.
os::Error WriteStandardOutput(const std::uint8_t* data, std::size_t size);
// Whether standard output is a file written where it stands (see
// os::WritesAt), and where it stands now.
inline bool StandardOutputWritesAt(std::uint64_t& offset) {
  return os::WritesAt(os::StandardOutput(), offset);
}
// Writes data at offset of such a standard output, then goes on from where
// it stood.
os::Error WriteStandardOutputAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size);
inline bool IsTerminal(int stream) { return os::IsTerminal(stream); }
// Closes standard output; the error that lost anything written there (the
// first one, when text was lost before), or 0.
os::Error CloseStandardOutput();

}  // namespace cli
