#include "tests/support/fault_injection.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace fault {
namespace {

constexpr std::size_t OpCount = static_cast<std::size_t>(Op::Count);

struct Plan {
  int callsMade[OpCount] = {};
  int failingCall[OpCount] = {};
  DWORD failingError[OpCount] = {};
  DWORD readLimit = INVALID_FILE_SIZE;
  DWORD writeLimit = INVALID_FILE_SIZE;
  Op pauseAt = Op::Count;
  int readyFd = -1;
  int goFd = -1;
  bool commandLineSet = false;
  std::string commandLine;
  bool noCommandLine = false;
  std::string calls;
  int exitFd = -1;
};

Plan plan;

}  // namespace

void Reset() { plan = Plan{}; }

void FailCall(Op op, int nth, DWORD error) {
  plan.failingCall[static_cast<std::size_t>(op)] = nth;
  plan.failingError[static_cast<std::size_t>(op)] = error;
}

void PauseAt(Op op, int readyFd, int goFd) {
  plan.pauseAt = op;
  plan.readyFd = readyFd;
  plan.goFd = goFd;
}

void LimitReads(DWORD bytes) { plan.readLimit = bytes; }
void LimitWrites(DWORD bytes) { plan.writeLimit = bytes; }

void SetCommandLine(const char* line) {
  plan.commandLineSet = true;
  plan.noCommandLine = line == nullptr;
  plan.commandLine = line != nullptr ? line : "";
}

const std::string& Calls() { return plan.calls; }
void SendCallsAtExit(int fd) { plan.exitFd = fd; }

bool ShouldFail(Op op, DWORD* error) {
  const auto k = static_cast<std::size_t>(op);
  ++plan.callsMade[k];
  if (op == plan.pauseAt) {
    plan.pauseAt = Op::Count;
    char byte = 0;
    if (write(plan.readyFd, &byte, 1) == 1) {
      while (read(plan.goFd, &byte, 1) < 0 && errno == EINTR) {
      }
    }
  }
  if (plan.callsMade[k] != plan.failingCall[k]) return false;
  *error = plan.failingError[k];
  return true;
}

DWORD ReadLimit(DWORD asked) { return asked < plan.readLimit ? asked : plan.readLimit; }
DWORD WriteLimit(DWORD asked) { return asked < plan.writeLimit ? asked : plan.writeLimit; }

bool OverridesCommandLine(LPSTR* line) {
  if (!plan.commandLineSet) return false;
  *line = plan.noCommandLine ? nullptr : plan.commandLine.data();
  return true;
}

void RecordCall(const std::string& call) {
  plan.calls += call;
  plan.calls += '\n';
}

void OnExit() {
  if (plan.exitFd < 0) return;
  const char* p = plan.calls.data();
  std::size_t left = plan.calls.size();
  while (left > 0) {
    const ssize_t n = write(plan.exitFd, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  close(plan.exitFd);
}

}  // namespace fault
