// The named temporary files that exist now, so that an interrupt handler can
// remove them. Lock-free: registering and the handler may run on any thread.
#pragma once

#include <string>

namespace cli {

// Returns the slot for UnregisterTempName, or -1 when every slot is taken
// (the file is then simply not known to the handler). name must outlive
// the registration.
int RegisterTempName(const std::string& name);
void UnregisterTempName(int& slot);  // sets slot to -1

// Calls remove on every registered name; safe inside a signal handler.
void ForEachTempName(void (*remove)(const char* path));

}  // namespace cli
