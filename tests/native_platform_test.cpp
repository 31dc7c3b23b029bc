// The native platform layer on its own: the command line rebuilt from argv,
// the notice text conversion, the sharing rule, and the Windows codes that
// file errors turn into.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include "app/notices.hpp"
#include "platform/native.hpp"
#include "tests/child_run.hpp"
#include "tests/expected_notices.hpp"

namespace {

using namespace testrun;

struct ArgvCase {
  std::vector<const char*> argv;
  std::string commandLine;
};

TEST(BuildCommandLine, QuotesWhatTheShellUnquoted) {
  const ArgvCase cases[] = {
      {{"lzs-unpack"}, "lzs-unpack"},
      {{"lzs-unpack", "/Dmy file.lzs"}, "lzs-unpack /D\"my file.lzs\""},
      {{"lzs-unpack", "/Ob.bin", "/Da.lzs"}, "lzs-unpack /O\"b.bin\" /D\"a.lzs\""},
      // /D "x": the letter stands alone, so it stays a syntax error
      {{"lzs-unpack", "/D", "x"}, "lzs-unpack /D x"},
      {{"lzs-unpack", "/O"}, "lzs-unpack /O"},
      // the quote already follows the letter: passed on as it came
      {{"lzs-unpack", "/D\"x.lzs\""}, "lzs-unpack /D\"x.lzs\""},
      {{"lzs-unpack", "/D\"x y"}, "lzs-unpack /D\"x y"},
      // not options: lower case, another letter, a slash further in
      {{"lzs-unpack", "/dx.lzs", "/ox"}, "lzs-unpack /dx.lzs /ox"},
      {{"lzs-unpack", "/Xy", "x/Dy", "word"}, "lzs-unpack /Xy x/Dy word"},
      // the program path is never quoted, also when it looks like an option
      {{"/Data/lzs-unpack", "/Dx"}, "/Data/lzs-unpack /D\"x\""},
      {{"/Dir with space/prog"}, "/Dir with space/prog"},
      {{"lzs-unpack", "", "/Dx"}, "lzs-unpack  /D\"x\""},
  };
  for (const ArgvCase& c : cases) {
    EXPECT_EQ(native::BuildCommandLine(static_cast<int>(c.argv.size()), c.argv.data()),
              c.commandLine);
  }
}

// The rebuilt command line through the whole run, as main starts it.
struct ArgvRunCase {
  std::vector<const char*> argv;
  int exitCode;
  std::string output;  // the file expected to hold ABCABCABC; empty for none
};

TEST(BuildCommandLine, RunsLikeTheWindowsProgram) {
  const ArgvRunCase cases[] = {
      {{"lzs-unpack", "/Dmy file.lzs"}, 0, "my file.lzs.DeLZS"},
      {{"lzs-unpack", "/D\"my file.lzs\""}, 0, "my file.lzs.DeLZS"},
      {{"lzs-unpack", "/Oout put", "/Dmy file.lzs"}, 0, "out put"},
      {{"lzs-unpack", "/D", "my file.lzs"}, 160, ""},
      {{"/Data/lzs-unpack", "/Dmy file.lzs"}, 160, ""},
      {{"lzs-unpack", "/dmy file.lzs"}, 0, ""},  // the usage notice
  };
  for (const ArgvRunCase& c : cases) {
    SCOPED_TRACE(native::BuildCommandLine(static_cast<int>(c.argv.size()), c.argv.data()));
    TempDir dir;
    PutFile(dir / "my file.lzs", WorkedExample);
    const Outcome outcome = RunInChild(dir.path(), [&c] {
      native::SetProcessArguments(static_cast<int>(c.argv.size()), c.argv.data());
    });
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, c.output.empty() ? 1u : 2u);
    if (!c.output.empty()) {
      EXPECT_EQ(FileBytes(dir / c.output), WorkedExampleOutput);
    }
  }
}

TEST(Cp1251ToUtf8, Table) {
  const std::pair<const char*, std::string> cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"one\r\ntwo\r\n", "one\ntwo\n"},
      {"\r\r\n\n", "\r\n\n"},  // only a CR before an LF is dropped
      {"tab\tend\r", "tab\tend\r"},
      {"\xC0\xC1\xC2\xDF\xE0\xFF", "АБВЯая"},
      {"\xA8\xB8", "Ёё"},
      {"\xB9 \x88 \x96 \xAB\xBB", "№ € – «»"},
      {"\x98", "\xEF\xBF\xBD"},  // unassigned in Windows-1251
  };
  for (const auto& [text, utf8] : cases) EXPECT_EQ(native::Cp1251ToUtf8(text), utf8) << text;
}

// Every byte but the unassigned 0x98 against the C library's own converter.
TEST(Cp1251ToUtf8, AgreesWithIconvForEveryByte) {
  const iconv_t converter = iconv_open("UTF-8", "CP1251");
  ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1)) << "no CP1251 in iconv";
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == 0x98) continue;
    char in[2] = {static_cast<char>(byte), '\0'};
    char out[8] = {};
    char* inCursor = in;
    char* outCursor = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    ASSERT_NE(iconv(converter, &inCursor, &inLeft, &outCursor, &outLeft), static_cast<size_t>(-1))
        << byte;
    EXPECT_EQ(native::Cp1251ToUtf8(in), std::string(out, outCursor)) << "byte " << byte;
  }
  iconv_close(converter);
}

TEST(Cp1251ToUtf8, NoticesReadAsWritten) {
  EXPECT_EQ(native::Cp1251ToUtf8(NoticeCaption), expected::Notice("caption"));
  EXPECT_EQ(native::Cp1251ToUtf8(FormatErrorNotice), expected::Notice("format error"));
  EXPECT_EQ(native::Cp1251ToUtf8(GeneralErrorNotice), expected::Notice("general error"));
}

// The platform calls below run in the test process itself; every handle is
// closed again so that the forked runs start with none open.
HANDLE OpenInput(const fs::path& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}
HANDLE CreateOutput(const fs::path& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// An output on the file of an open input, by any name, is refused like a
// sharing violation and leaves the input whole; once the input is closed,
// the same create succeeds and empties the file.
TEST(SharingRule, OutputOnTheOpenInputIsRefused) {
  const char* const names[] = {"x.lzs", "./x.lzs", "hard", "soft", "sub/../x.lzs"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    TempDir dir;
    PutFile(dir / "x.lzs", WorkedExample);
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "x.lzs", dir / "hard");
    fs::create_symlink("x.lzs", dir / "soft");

    const HANDLE input = OpenInput(dir / "x.lzs");
    ASSERT_NE(input, INVALID_HANDLE_VALUE);
    SetLastError(NO_ERROR);
    EXPECT_EQ(CreateOutput(dir / name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(FileBytes(dir / "x.lzs"), WorkedExample);

    // A second reader and an output elsewhere are fine meanwhile.
    const HANDLE reader = OpenInput(dir / name);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    const HANDLE elsewhere = CreateOutput(dir / "other");
    EXPECT_NE(elsewhere, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(elsewhere));
    EXPECT_TRUE(CloseHandle(input));

    const HANDLE output = CreateOutput(dir / name);
    ASSERT_NE(output, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileBytes(dir / "x.lzs"), "");
    EXPECT_TRUE(CloseHandle(output));
  }
}

TEST(NativeFiles, FolderIsNoFile) {
  TempDir dir;
  SetLastError(NO_ERROR);
  EXPECT_EQ(OpenInput(dir.path()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  SetLastError(NO_ERROR);
  EXPECT_EQ(CreateOutput(dir.path()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// What a failed open turns into, seen as the run's exit code: a silent exit
// for the input, the general-error ending for the output.
struct OpenErrorCase {
  const char* what;
  std::string commandLine;
  int exitCode;
  bool notice;
};

TEST(NativeFiles, OpenErrorsBecomeWindowsCodes) {
  const std::string longName(300, 'n');
  const std::vector<OpenErrorCase> cases = {
      {"missing file", "p /D\"missing.lzs\"", 2, false},
      {"missing folder", "p /D\"nowhere/x.lzs\"", 2, false},
      {"file used as a folder", "p /D\"x.lzs/y\"", 3, false},
      {"folder", "p /D\"sub\"", 5, false},
      {"name too long", "p /D\"" + longName + "\"", 206, false},
      {"link loop", "p /D\"loop\"", 31, false},
      {"output in a missing folder", "p /D\"x.lzs\" /O\"nowhere/out\"", 2, true},
      {"output under a file", "p /D\"x.lzs\" /O\"x.lzs/out\"", 3, true},
      {"output is a folder", "p /D\"x.lzs\" /O\"sub\"", 5, true},
      {"output name too long", "p /D\"x.lzs\" /O\"" + longName + "\"", 206, true},
  };
  for (const OpenErrorCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    PutFile(dir / "x.lzs", WorkedExample);
    fs::create_directory(dir / "sub");
    fs::create_symlink("loop", dir / "loop");
    const Outcome outcome =
        RunInChild(dir.path(), [&c] { fault::SetCommandLine(c.commandLine.c_str()); });
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    ASSERT_FALSE(outcome.calls.empty());
    EXPECT_EQ(outcome.calls.back(), "ExitProcess(" + std::to_string(c.exitCode) + ")");
    EXPECT_EQ(outcome.notices.empty(), !c.notice);
  }
}

// File modes, with root's rights dropped in the child so that they count.
struct ModeCase {
  const char* what;
  mode_t inputMode;
  mode_t folderMode;  // of sub/, where the output goes; owned by the test user
  int exitCode;
};

TEST(NativeFiles, ModesBecomeAccessDenied) {
  const ModeCase cases[] = {
      {"readable input, folder open to all", 0644, 0777, 0},
      {"unreadable input", 0, 0777, 5},
      {"output folder not writable", 0644, 0555, 5},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    PutFile(dir / "x.lzs", WorkedExample);
    fs::create_directory(dir / "sub");
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir / "x.lzs").c_str(), c.inputMode), 0);
    ASSERT_EQ(chmod((dir / "sub").c_str(), c.folderMode), 0);
    const Outcome outcome = RunInChild(dir.path(), [] {
      if (geteuid() == 0 && setuid(65534) != 0) _exit(126);  // nobody
      fault::SetCommandLine("p /D\"x.lzs\" /O\"sub/out\"");
    });
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(fs::exists(dir / "sub/out"), c.exitCode == 0);
  }
}

}  // namespace
