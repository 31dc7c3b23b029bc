// Putting a name under a folder the way the folder was typed.
#pragma once

#include <string>

namespace cli {

// folder, then name, with the separator the folder already uses: none more
// when it ends in one, else the last one in it, else the first of
// separators (the one the system writes). So game\sub gives game\sub\x, and
// game/sub gives game/sub/x, wherever the program runs.
inline std::string JoinPath(const std::string& folder, const std::string& name,
                            const std::string& separators) {
  if (!folder.empty() && separators.find(folder.back()) != std::string::npos) return folder + name;
  const std::size_t last = folder.find_last_of(separators);
  const char separator = last != std::string::npos ? folder[last] : separators.front();
  return folder + separator + name;
}

}  // namespace cli
