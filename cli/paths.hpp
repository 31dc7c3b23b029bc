// Names in paths, the way they were typed.
#pragma once

#include <string>

#include "cli/os.hpp"

namespace cli {

// folder, then name, with the separator the folder already uses: none more
// when it ends in one, else the last one in it, else the first of
// separators (the one the system writes). So game\sub gives game\sub\x, and
// game/sub gives game/sub/x, wherever the program runs.
inline std::string JoinPath(const std::string& folder, const std::string& name,
                            const std::string& separators = os::FolderSeparators) {
  if (!folder.empty() && separators.find(folder.back()) != std::string::npos) return folder + name;
  const std::size_t last = folder.find_last_of(separators);
  const char separator = last != std::string::npos ? folder[last] : separators.front();
  return folder + separator + name;
}

// The part after the last separator.
inline std::string BaseName(const std::string& path,
                            const std::string& separators = os::FolderSeparators) {
  const std::size_t last = path.find_last_of(separators);
  return last == std::string::npos ? path : path.substr(last + 1);
}

// The folder a path names its file in: "." for a bare name, the root for
// "/x" (and "C:\" for "C:\x").
inline std::string FolderOf(const std::string& path,
                            const std::string& separators = os::FolderSeparators) {
  const std::size_t last = path.find_last_of(separators);
  if (last == std::string::npos) return ".";
  const bool root = last == 0 || path[last - 1] == ':';
  return path.substr(0, root ? last + 1 : last);
}

}  // namespace cli
