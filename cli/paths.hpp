// Names in paths, the way they were typed.
#pragma once

#include <string>
#include <string_view>

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

namespace detail {

// * stands for any run of characters, ? for one, any other character for
// itself. The last * seen is moved on one character at a time when the
// rest fails to match, which tries every run it can stand for.
template <typename Char>
bool Glob(std::basic_string_view<Char> name, std::basic_string_view<Char> pattern) {
  constexpr std::size_t None = std::basic_string_view<Char>::npos;
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t star = None;   // where the pattern goes on after the last *
  std::size_t starName = 0;  // where in name that * stops, so far
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == Char('*')) {
      star = ++p;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == Char('?') || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != None) {
      p = star;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == Char('*')) ++p;
  return p == pattern.size();
}

}  // namespace detail

// Whether name matches pattern, as cmd and Explorer match long names: *
// stands for any run of characters and ? for exactly one; characters are
// compared as given, so a caller that ignores case folds both first. As in
// cmd, a pattern that ends in ".*" also matches a name without that dot
// (*.* is every name), and one that ends in "." a name with no dot at all
// (*. the names without an extension).
template <typename Char>
bool MatchesPattern(std::basic_string_view<Char> name, std::basic_string_view<Char> pattern) {
  const std::size_t size = pattern.size();
  if (detail::Glob(name, pattern)) return true;
  if (size >= 2 && pattern[size - 2] == Char('.') && pattern[size - 1] == Char('*')) {
    return detail::Glob(name, pattern.substr(0, size - 2));
  }
  if (size >= 1 && pattern[size - 1] == Char('.')) {
    return name.find(Char('.')) == std::basic_string_view<Char>::npos &&
           detail::Glob(name, pattern.substr(0, size - 1));
  }
  return false;
}

}  // namespace cli
