#include "cli/console.hpp"

namespace cli {
namespace {

// The first failure to write text on standard output, told at the end.
os::Error stdoutError = 0;

}  // namespace

bool PutText(int stream, const std::string& text) {
  const os::Error error = os::WriteText(stream, text);
  if (error != 0 && stream == 1 && stdoutError == 0) stdoutError = error;
  return error == 0;
}

os::Error WriteStandardOutput(const std::uint8_t* data, std::size_t size) {
  return os::Write(os::StandardOutput(), data, size);
}

os::Error WriteStandardOutputAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  return os::WriteAt(os::StandardOutput(), offset, data, size);
}

os::Error CloseStandardOutput() {
  const os::Error closed = os::CloseStandardOutput();
  return stdoutError != 0 ? stdoutError : closed;
}

}  // namespace cli
