#include "cli/temp_names.hpp"

#include <array>
#include <atomic>
#include <cstddef>

namespace cli {
namespace {

constexpr std::size_t MaxTempNames = 64;  // one per worker thread at most
std::array<std::atomic<const char*>, MaxTempNames> tempNames{};

}  // namespace

int RegisterTempName(const std::string& name) {
  for (std::size_t k = 0; k < MaxTempNames; ++k) {
    const char* none = nullptr;
    if (tempNames[k].compare_exchange_strong(none, name.c_str())) return static_cast<int>(k);
  }
  return -1;
}

void UnregisterTempName(int& slot) {
  if (slot >= 0) tempNames[static_cast<std::size_t>(slot)].store(nullptr);
  slot = -1;
}

void ForEachTempName(void (*remove)(const char* path)) {
  for (auto& name : tempNames) {
    const char* path = name.load();
    if (path != nullptr) remove(path);
  }
}

}  // namespace cli
