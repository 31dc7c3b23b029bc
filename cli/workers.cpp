#include "cli/workers.hpp"

#include <cstdint>
#include <vector>

#include "cli/os.hpp"

namespace cli {
namespace {

constexpr unsigned TickMilliseconds = 200;

void Run(void* work) {
  try {
    (*static_cast<const std::function<void()>*>(work))();
  } catch (...) {
    // The files this worker had not reached stay undone, and are counted
    // as failed.
  }
}

}  // namespace

unsigned CoreCount() { return os::CoreCount(); }

void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick) {
  std::vector<std::intptr_t> threads;
  try {
    threads.reserve(count);
  } catch (...) {
    count = 0;
  }
  const os::ThreadStart start{Run, const_cast<std::function<void()>*>(&work)};
  for (unsigned k = 0; k < count; ++k) {
    std::intptr_t thread = 0;
    if (!os::StartThread(start, thread)) break;
    threads.push_back(thread);
  }
  if (threads.empty()) return Run(start.argument);
  while (!os::WaitThreads(threads, TickMilliseconds)) {
    try {
      tick();
    } catch (...) {
      // a progress line missed
    }
  }
}

}  // namespace cli
