// The worker pool: a few threads that take files from one list.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "cli/os.hpp"

namespace cli {

unsigned CoreCount();

// Runs work on count threads at once and returns when all have ended,
// calling tick on this thread about every 200 ms meanwhile. Where no thread
// can be started, work runs on this one. Nothing work throws leaves it.
void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick);

// Work run on up to count threads while this one goes on. Nothing work
// throws leaves it; work and what it uses must outlive the threads, which
// Wait and the destructor see end.
class Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() { Wait(); }

  // Returns the number of threads started (0: none could be).
  unsigned Start(unsigned count, const std::function<void()>& work);
  // True when every thread has ended, after at most milliseconds.
  bool Wait(unsigned milliseconds);
  void Wait();

 private:
  os::ThreadStart start_{};  // read by each thread as it starts
  std::vector<std::intptr_t> threads_;
};

}  // namespace cli
