// Names put under a folder with the separator the folder was typed with.
#include <gtest/gtest.h>

#include "cli/paths.hpp"

namespace {

struct JoinCase {
  std::string folder;
  std::string separators;  // the system's, its own first
  std::string joined;
};

TEST(JoinPath, KeepsTheSeparatorTyped) {
  const JoinCase cases[] = {
      // Windows: both separators, the system's own is the backslash
      {"game\\sub", "\\/", "game\\sub\\x"},
      {"game/sub", "\\/", "game/sub/x"},
      {"game/sub\\deeper", "\\/", "game/sub\\deeper\\x"},  // the last one typed
      {"game\\sub/deeper", "\\/", "game\\sub/deeper/x"},
      {"game", "\\/", "game\\x"},    // none typed: the system's
      {"game\\", "\\/", "game\\x"},  // one at the end: none more
      {"game/", "\\/", "game/x"},
      {"C:", "\\/", "C:\\x"},
      {"C:\\", "\\/", "C:\\x"},
      {"\\\\server\\share", "\\/", "\\\\server\\share\\x"},
      // POSIX: a backslash is part of a name
      {"game", "/", "game/x"},
      {"game\\sub", "/", "game\\sub/x"},
      {"game/", "/", "game/x"},
      {"/", "/", "/x"},
  };
  for (const JoinCase& c : cases) {
    EXPECT_EQ(cli::JoinPath(c.folder, "x", c.separators), c.joined)
        << c.folder << " with " << c.separators;
  }
}

struct SplitCase {
  std::string path;
  std::string separators;
  std::string folder;  // where a temporary file beside it goes
  std::string base;
};

TEST(FolderOf, IsWhereATemporaryFileBesideItGoes) {
  const SplitCase cases[] = {
      {"x", "/", ".", "x"},
      {"d/x", "/", "d", "x"},
      {"/x", "/", "/", "x"},  // the root, not an empty name
      {"a/b/x", "/", "a/b", "x"},
      {"d\\x", "/", ".", "d\\x"},  // POSIX: a backslash is part of a name
      {"d\\x", "\\/", "d", "x"},
      {"C:\\x", "\\/", "C:\\", "x"},  // the drive's root, not its current folder
      {"\\x", "\\/", "\\", "x"},
      {"d/", "/", "d", ""},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(cli::FolderOf(c.path, c.separators), c.folder) << c.path;
    EXPECT_EQ(cli::BaseName(c.path, c.separators), c.base) << c.path;
  }
}

}  // namespace

struct PatternCase {
  std::string name;
  std::string pattern;
  bool matches;
};

// Patterns typed to lzs.exe are matched again against the long names the
// system found: its own match also takes the 8.3 short names.
TEST(MatchesPattern, TakesLongNamesAsCmdDoes) {
  const PatternCase cases[] = {
      {"x.lzs", "*.lzs", true},
      {"keep.lzsold", "*.lzs", false},  // its short name KEEP~1.LZS would match
      {"x.lzs.lzs", "*.lzs", true},     // * runs past a first match
      {".lzs", "*.lzs", true},
      {"lzs", "*.lzs", false},
      {"x1.lzs", "x?.lzs", true},
      {"x.lzs", "x?.lzs", false},  // ? is exactly one character
      {"x22.lzs", "x?.lzs", false},
      {"abcabd", "*abd", true},  // the * gives back what it took
      {"abcab", "*abd", false},
      {"a", "a**", true},
      {"", "*", true},
      {"", "?", false},
      {"notes", "*.*", true},  // as in cmd: *.* is every name
      {"a.txt", "*.*", true},
      {"notes", "n*.*", true},
      {"other", "n*.*", false},
      {"notes", "*.", true},  // and *. the names without a dot
      {"a.txt", "*.", false},
      {"a.b.txt", "*.txt", true},
      {"A.LZS", "a.lzs", false},  // case is the caller's: it folds both
  };
  for (const PatternCase& c : cases) {
    EXPECT_EQ(cli::MatchesPattern<char>(c.name, c.pattern), c.matches)
        << c.name << " against " << c.pattern;
  }
}
