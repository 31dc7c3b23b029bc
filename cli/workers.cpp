#include "cli/workers.hpp"

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

unsigned Workers::Start(unsigned count, const std::function<void()>& work) {
  Wait();
  try {
    threads_.reserve(count);
  } catch (...) {
    count = 0;
  }
  start_ = {Run, const_cast<std::function<void()>*>(&work)};
  for (unsigned k = 0; k < count; ++k) {
    std::intptr_t thread = 0;
    if (!os::StartThread(start_, thread)) break;
    threads_.push_back(thread);
  }
  return static_cast<unsigned>(threads_.size());
}

bool Workers::Wait(unsigned milliseconds) { return os::WaitThreads(threads_, milliseconds); }

void Workers::Wait() {
  while (!Wait(TickMilliseconds)) {
  }
}

void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick) {
  Workers workers;
  if (workers.Start(count, work) == 0) return Run(const_cast<std::function<void()>*>(&work));
  while (!workers.Wait(TickMilliseconds)) {
    try {
      tick();
    } catch (...) {
      // a progress line missed
    }
  }
}

}  // namespace cli
