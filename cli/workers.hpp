// The worker pool: a few threads that take files from one list.
#pragma once

#include <functional>

namespace cli {

unsigned CoreCount();

// Runs work on count threads at once and returns when all have ended,
// calling tick on this thread about every 200 ms meanwhile. Where no thread
// can be started, work runs on this one. Nothing work throws leaves it.
void RunWorkers(unsigned count, const std::function<void()>& work,
                const std::function<void()>& tick);

}  // namespace cli
