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

}  // namespace
