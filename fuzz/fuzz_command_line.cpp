// ScanCommandLine on arbitrary zero-ended command lines, against a model of
// the scan written here on its own terms (string searches instead of a
// cursor), including the 511-character limit of both names and of the
// default output name.
//
// The first input byte chooses the state the scan starts from: the zeroed
// record the program starts with, or name buffers full of non-zero bytes (a
// Ready result must still end both names within their 512 bytes). The rest,
// up to its first zero byte, is the command line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/command_line.hpp"
#include "app/run_state.hpp"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Expected {
  ScanResult result = ScanResult::ShowUsage;
  std::string inputName;
  std::string outputName;
};

constexpr std::size_t Longest = 511;

// What the scan must give for line.
Expected Model(std::string_view line) {
  Expected expected;
  bool haveInput = false;
  bool haveOutput = false;
  std::size_t at = 0;
  while ((at = line.find('/', at)) != std::string_view::npos) {
    ++at;
    if (at == line.size()) break;
    const char letter = line[at];
    if (letter != 'D' && letter != 'O') continue;  // looked at again, a slash included
    bool& seen = letter == 'D' ? haveInput : haveOutput;
    std::string& name = letter == 'D' ? expected.inputName : expected.outputName;
    const std::size_t open = at + 1;
    if (open >= line.size() || line[open] != '"' || seen) return {ScanResult::SyntaxError, {}, {}};
    const std::size_t close = line.find('"', open + 1);
    if (close == std::string_view::npos) return {ScanResult::SyntaxError, {}, {}};
    name = std::string(line.substr(open + 1, close - open - 1));
    if (name.size() > Longest) return {ScanResult::SyntaxError, {}, {}};
    seen = true;
    at = close;  // the closing quote is then passed over
  }
  if (!haveInput) return {ScanResult::ShowUsage, {}, {}};
  if (!haveOutput) {
    expected.outputName = expected.inputName + ".DeLZS";
    if (expected.outputName.size() > Longest) return {ScanResult::SyntaxError, {}, {}};
  }
  expected.result = ScanResult::Ready;
  return expected;
}

// The name in buffer, which must end within its 512 bytes.
std::string NameIn(const char* buffer) {
  const void* end = std::memchr(buffer, '\0', NameCapacity);
  Check(end != nullptr);
  return std::string(buffer, static_cast<const char*>(end));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool dirtyNames = data[0] & 1;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const std::string line(text, strnlen(text, size - 1));  // owns the terminating zero

  runState = RunState{};
  if (dirtyNames) {
    std::memset(runState.inputName, 'x', NameCapacity);
    std::memset(runState.outputName, 'y', NameCapacity);
  }
  // Fields the scan has no business with.
  runState.exitCode = 0x1234;
  runState.byteCount = 0x5678;
  runState.fileSize = 0x9ABC;
  const RunState before = runState;

  const ScanResult result = ScanCommandLine(line.c_str());
  const Expected expected = Model(line);

  Check(result == expected.result);
  Check((runState.optionFlags & ~(InputOptionSeen | OutputOptionSeen)) == 0);
  Check(runState.exitCode == before.exitCode && runState.byteCount == before.byteCount &&
        runState.fileSize == before.fileSize && runState.block == before.block &&
        runState.inputHandle == before.inputHandle &&
        runState.outputHandle == before.outputHandle &&
        runState.outputUnfinished == before.outputUnfinished &&
        runState.outputArea == before.outputArea);
  if (result == ScanResult::Ready) {
    Check(runState.optionFlags & InputOptionSeen);
    Check(NameIn(runState.inputName) == expected.inputName);
    Check(NameIn(runState.outputName) == expected.outputName);
  } else if (!dirtyNames) {
    // Started from zeros, a refused line still leaves ended names.
    NameIn(runState.inputName);
    NameIn(runState.outputName);
  }
  return 0;
}
