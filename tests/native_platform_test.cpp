// The native platform layer on its own: the command line rebuilt from argv,
// the notice text decoding, the sharing rule within a run and between runs,
// the Windows codes that file errors turn into, and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <ctime>
#include <map>

#include "app/notices.hpp"
#include "lzs/encode.hpp"
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
      // the program by its name alone, whatever folders its path has
      {{"/Data/lzs-unpack", "/Dx"}, "lzs-unpack /D\"x\""},
      {{"/home/u/Downloads/lzs-unpack"}, "lzs-unpack"},
      {{"/Dir with space/prog"}, "prog"},
      {{"./lzs-unpack", "/Ox"}, "lzs-unpack /O\"x\""},
      {{"", "/Dx"}, " /D\"x\""},
      {{}, ""},
      {{"lzs-unpack", "", "/Dx"}, "lzs-unpack  /D\"x\""},
      // a quote inside a name: passed on unquoted, which the scan refuses
      {{"lzs-unpack", "/Dx\".lzs"}, "lzs-unpack /Dx\".lzs"},
      {{"lzs-unpack", "/Ox\""}, "lzs-unpack /Ox\""},
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
      {{"/Data/lzs-unpack", "/Dmy file.lzs"}, 0, "my file.lzs.DeLZS"},
      {{"/home/u/Downloads/lzs-unpack", "/Omy out", "/Dmy file.lzs"}, 0, "my out"},
      {{"lzs-unpack", "/Dmy file.lzs\"x"}, 160, ""},
      {{"lzs-unpack", "/Dmy file.lzs", "/Oout\"put"}, 160, ""},
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

// Windows-1251 bytes as the native notice shows them: through the stand-in
// MultiByteToWideChar, then as a terminal gets them.
std::string Shown(const char* text) {
  char16_t wide[NoticeCapacity] = {};
  if (MultiByteToWideChar(1251, 0, text, -1, wide, NoticeCapacity) == 0) return "(failed)";
  return native::Utf16ToShown(wide);
}

TEST(NoticeDecoding, Table) {
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
  for (const auto& [text, utf8] : cases) EXPECT_EQ(Shown(text), utf8) << text;
}

// Every byte but the unassigned 0x98 against the C library's own converter.
TEST(NoticeDecoding, AgreesWithIconvForEveryByte) {
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
    EXPECT_EQ(Shown(in), std::string(out, outCursor)) << "byte " << byte;
  }
  iconv_close(converter);
}

TEST(NoticeDecoding, NoticesReadAsWritten) {
  EXPECT_EQ(Shown(NoticeCaption), expected::Notice("caption"));
  EXPECT_EQ(Shown(UsageNotice), expected::Notice("usage"));
  EXPECT_EQ(Shown(FormatErrorNotice), expected::Notice("format error"));
  EXPECT_EQ(Shown(GeneralErrorNotice), expected::Notice("general error"));
}

// The stand-in's answers at its edges: the room asked for, too little room,
// a length without the zero, and what it does not take.
struct DecodeCase {
  std::string name;
  UINT codePage;
  int length;
  int capacity;
  int result;
  DWORD error;          // the last-error code after a failure
  std::u16string wide;  // what the buffer holds after a success
};

TEST(NoticeDecoding, Edges) {
  const DecodeCase cases[] = {
      {"WholeWithZero", 1251, -1, 8, 4, NO_ERROR, std::u16string(u"A\u0411\u044F\0", 4)},
      {"ExactRoom", 1251, -1, 4, 4, NO_ERROR, std::u16string(u"A\u0411\u044F\0", 4)},
      {"OneShort", 1251, -1, 3, 0, ERROR_INSUFFICIENT_BUFFER, u""},
      {"RoomAsked", 1251, -1, 0, 4, NO_ERROR, u""},
      {"LengthWithoutZero", 1251, 2, 8, 2, NO_ERROR, u"A\u0411"},
      {"ZeroLength", 1251, 0, 8, 0, ERROR_INVALID_PARAMETER, u""},
      {"OtherCodePage", 1252, -1, 8, 0, ERROR_INVALID_PARAMETER, u""},
      {"NegativeRoom", 1251, -1, -1, 0, ERROR_INVALID_PARAMETER, u""},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    char16_t wide[8] = {};
    SetLastError(NO_ERROR);
    const int result = MultiByteToWideChar(c.codePage, 0, "A\xC1\xFF", c.length,
                                           c.capacity > 0 ? wide : nullptr, c.capacity);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(GetLastError(), c.error);
    if (result > 0 && c.capacity > 0) {
      EXPECT_EQ(std::u16string(wide, static_cast<std::size_t>(result)), c.wide);
    }
  }
}

TEST(NoticeDecoding, ShownKeepsEveryPlane) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"\u00E9\u20AC", "é€"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string(1, u'\xD800'), "\xEF\xBF\xBD"},  // a lone lead surrogate
      {std::u16string(1, u'\xDC00') + u"x", "\xEF\xBF\xBDx"},
  };
  for (const auto& [wide, utf8] : cases) EXPECT_EQ(native::Utf16ToShown(wide.c_str()), utf8);
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

// An input that another program holds open for writing is refused, as on
// Windows, and taken once that program has closed it.
TEST(SharingRule, InputOpenForWritingElsewhereIsRefused) {
  TempDir dir;
  PutFile(dir / "x.lzs", WorkedExample);
  const int writer = open((dir / "x.lzs").c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  SetLastError(NO_ERROR);
  EXPECT_EQ(OpenInput(dir / "x.lzs"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  close(writer);
  const HANDLE input = OpenInput(dir / "x.lzs");
  EXPECT_NE(input, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(input));
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

// A run in a child of its own that stops at the first call of an operation,
// holding what it has opened so far, until Finish lets it go on.
class PausedRun {
 public:
  PausedRun(const fs::path& dir, const std::string& commandLine, fault::Op op,
            const std::function<void()>& plan) {
    int ready[2];
    int go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    child_ = fork();
    if (child_ == 0) {
      close(ready[0]);
      close(go[1]);
      const int null = open("/dev/null", O_WRONLY);
      if (null < 0 || dup2(null, STDERR_FILENO) < 0 || chdir(dir.c_str()) != 0) _exit(127);
      fault::Reset();
      SetLastError(NO_ERROR);
      fault::SetCommandLine(commandLine.c_str());
      fault::PauseAt(op, ready[1], go[0]);
      if (plan) plan();
      RunDecompression();
    }
    close(ready[1]);
    close(go[0]);
    go_ = go[1];
    char byte = 0;
    reached_ = child_ > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
  }
  PausedRun(const PausedRun&) = delete;
  PausedRun& operator=(const PausedRun&) = delete;
  ~PausedRun() { Finish(); }

  bool Reached() const { return reached_; }

  // Sends signal (unless 0), then lets the run go on to its end; its exit
  // code, or minus the number of the signal that ended it.
  int Finish(int signal = 0) {
    if (signal != 0 && child_ > 0) kill(child_, signal);
    if (go_ >= 0) close(go_);
    go_ = -1;
    if (child_ <= 0) return exitCode_;
    int status = 0;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return exitCode_;
  }

 private:
  pid_t child_ = -1;
  int go_ = -1;
  bool reached_ = false;
  int exitCode_ = -1;
};

// One run stops while it holds its files, and meanwhile a second run starts
// or the test changes the files; then the first run goes on. Other runs keep
// Windows' sharing rule (input shared for reading, output exclusive), and a
// change that bypasses it is seen; a signal sent then removes only the
// output the run created or emptied. a.lzs decodes to ABCABCABC, b.lzs to
// "second".
// The signals handled as main sets them up.
void CatchSignals() {
  const char* const argv[] = {"p"};
  native::SetProcessArguments(1, argv);
}

struct MeanwhileCase {
  const char* what;
  fault::Op pauseAt = fault::Op::ReadFile;
  int pausedExit = 0;
  int secondExit = 0;
  int signal = 0;                // sent to the paused run last
  std::function<void()> plan{};  // in the paused run's process, before it starts
  std::string commandLine = "p /D\"a.lzs\" /O\"out\"";  // of the paused run
  std::string second{};                                 // the second run's command line, or empty
  std::function<void(const fs::path&)> meanwhile{};     // the test's change, or none
  std::map<std::string, std::optional<std::string>> filesAfter{};
};

TEST(PausedRun, OthersMeanwhile) {
  const std::string other = WithHeader(LiteralPayload("second"));
  const std::string sameSize("\x06\x00\x00\x00\x07XYZ\xEE\xF3", 10);  // XYZXYZXYZ
  const std::string older = "an older file";
  const auto none = std::nullopt;
  const MeanwhileCase cases[] = {
      {.what = "a second writer of the output",
       .pauseAt = fault::Op::WriteFile,
       .secondExit = 32,
       .second = "p /D\"b.lzs\" /O\"out\"",
       .filesAfter = {{"out", WorkedExampleOutput}}},
      {.what = "a reader of the output",
       .pauseAt = fault::Op::WriteFile,
       .secondExit = 32,
       .second = "p /D\"out\" /O\"copy\"",
       .filesAfter = {{"out", WorkedExampleOutput}, {"copy", none}}},
      {.what = "a writer of the input",
       .secondExit = 32,
       .second = "p /D\"b.lzs\" /O\"a.lzs\"",
       .filesAfter = {{"a.lzs", WorkedExample}, {"out", WorkedExampleOutput}}},
      {.what = "a second reader of the input",
       .second = "p /D\"a.lzs\" /O\"out2\"",
       .filesAfter = {{"out", WorkedExampleOutput}, {"out2", WorkedExampleOutput}}},
      {.what = "the input rewritten in place, same size",
       .pausedExit = 32,
       .meanwhile = [&](const fs::path& dir) { PutFile(dir / "a.lzs", sameSize); },
       .filesAfter = {{"out", none}}},
      {.what = "the input cut short",
       .pausedExit = 32,
       .meanwhile = [](const fs::path& dir) { fs::resize_file(dir / "a.lzs", 5); },
       .filesAfter = {{"out", none}}},
      {.what = "another file put at the output name before the delete",
       .pauseAt = fault::Op::DeleteFileA,
       .pausedExit = 112,
       .plan = [] { fault::FailCall(fault::Op::WriteFile, 1, ERROR_DISK_FULL); },
       .meanwhile = [](const fs::path& dir) { fs::rename(dir / "b.lzs", dir / "out"); },
       .filesAfter = {{"out", other}}},
      {.what = "SIGTERM while a new output is written",
       .pauseAt = fault::Op::WriteFile,
       .pausedExit = -SIGTERM,
       .signal = SIGTERM,
       .plan = CatchSignals,
       .filesAfter = {{"out", none}, {"a.lzs", WorkedExample}}},
      {.what = "SIGINT while an existing output is rewritten",
       .pauseAt = fault::Op::WriteFile,
       .pausedExit = -SIGINT,
       .signal = SIGINT,
       .plan =
           [&] {
             CatchSignals();
             PutFile("out", older);
           },
       .filesAfter = {{"out", none}}},
      {.what = "SIGHUP while writing through a link",
       .pauseAt = fault::Op::WriteFile,
       .pausedExit = -SIGHUP,
       .signal = SIGHUP,
       .plan =
           [&] {
             CatchSignals();
             PutFile("target", older);
             symlink("target", "out");
           },
       .filesAfter = {{"out", ""}, {"target", ""}}},
      {.what = "SIGTERM before the output is opened",
       .pausedExit = -SIGTERM,
       .signal = SIGTERM,
       .plan =
           [&] {
             CatchSignals();
             PutFile("out", older);
           },
       .filesAfter = {{"out", older}}},
      {.what = "SIGTERM after another file was put at the output name",
       .pauseAt = fault::Op::WriteFile,
       .pausedExit = -SIGTERM,
       .signal = SIGTERM,
       .plan = CatchSignals,
       .meanwhile = [](const fs::path& dir) { fs::rename(dir / "b.lzs", dir / "out"); },
       .filesAfter = {{"out", other}}},
      {.what = "SIGTERM after a failed write, before the delete",
       .pauseAt = fault::Op::DeleteFileA,
       .pausedExit = -SIGTERM,
       .signal = SIGTERM,
       .plan =
           [] {
             CatchSignals();
             fault::FailCall(fault::Op::WriteFile, 1, ERROR_DISK_FULL);
           },
       .filesAfter = {{"out", none}}},
      {.what = "SIGHUP inherited as ignored, as under nohup",
       .pauseAt = fault::Op::WriteFile,
       .signal = SIGHUP,
       .plan =
           [] {
             (void)signal(SIGHUP, SIG_IGN);
             CatchSignals();
           },
       .filesAfter = {{"out", WorkedExampleOutput}}},
  };
  for (const MeanwhileCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    PutFile(dir / "a.lzs", WorkedExample);
    PutFile(dir / "b.lzs", other);
    // An hour old, so that any rewrite shows in the times however coarse.
    const timespec hourAgo{time(nullptr) - 3600, 0};
    const timespec times[2] = {hourAgo, hourAgo};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "a.lzs").c_str(), times, 0), 0);

    PausedRun paused(dir.path(), c.commandLine, c.pauseAt, c.plan);
    ASSERT_TRUE(paused.Reached());
    if (!c.second.empty()) {
      const Outcome second =
          RunInChild(dir.path(), [&c] { fault::SetCommandLine(c.second.c_str()); });
      EXPECT_EQ(second.exitCode, c.secondExit) << "the second run";
    }
    if (c.meanwhile) c.meanwhile(dir.path());
    EXPECT_EQ(paused.Finish(c.signal), c.pausedExit) << "the paused run";
    for (const auto& [name, bytes] : c.filesAfter) EXPECT_EQ(FileBytes(dir / name), bytes) << name;
  }
}

// Writes past the file size limit and notices into a pipe that nobody reads
// end the run with a code, as main starts it; what a failed write leaves is
// emptied, and only a file the run itself wrote is deleted.
struct SignalCase {
  const char* what;
  const char* input = "/Dbig.lzs";
  const char* output = "/Oout";
  rlim_t fileSizeLimit = RLIM_INFINITY;
  bool stderrUnread = false;
  int exitCode = 0;
  std::map<std::string, std::optional<std::string>> filesAfter{};
};

TEST(NativeRun, SignalsDoNotEndIt) {
  const std::string data(20000, 'd');
  const auto none = std::nullopt;
  const SignalCase cases[] = {
      {.what = "output beyond the size limit",
       .fileSizeLimit = 4096,
       .exitCode = 223,
       .filesAfter = {{"out", none}}},
      {.what = "output through a link beyond the size limit",
       .output = "/Olink",
       .fileSizeLimit = 4096,
       .exitCode = 223,
       .filesAfter = {{"link", ""}, {"target", ""}}},
      {.what = "within the size limit", .fileSizeLimit = 32768, .filesAfter = {{"out", data}}},
      {.what = "a notice nobody reads",
       .input = "/Dbad.lzs",
       .stderrUnread = true,
       .exitCode = 13,
       .filesAfter = {{"out", none}}},
  };
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    PutFile(dir / "big.lzs", WithHeader(LiteralPayload(data)));
    PutFile(dir / "bad.lzs", WorkedExample + "x");
    PutFile(dir / "target", "an older file");
    fs::create_symlink("target", dir / "link");
    const Outcome outcome = RunInChild(dir.path(), [&c] {
      const rlimit limit{c.fileSizeLimit, c.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      int unread[2];
      if (c.stderrUnread && (pipe(unread) != 0 || dup2(unread[1], STDERR_FILENO) < 0)) _exit(126);
      if (c.stderrUnread) close(unread[0]);
      const char* const argv[] = {"lzs-unpack", c.input, c.output};
      native::SetProcessArguments(3, argv);
    });
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    for (const auto& [name, bytes] : c.filesAfter) EXPECT_EQ(FileBytes(dir / name), bytes) << name;
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
  }
}

// A signal in the middle of a real write, sent once the output has grown:
// whatever the moment, no part of the output is left: the run ended by the
// signal and left nothing under the output name (an older file there
// included, which the run had emptied), or the whole output is there (the
// signal came after the last byte). 30 tries, each signal in turn.
TEST(NativeRun, SignalDuringTheWriteLeavesNoPart) {
  std::vector<std::uint8_t> data(32 << 20);
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k % 4001 * 7);
  const std::vector<std::uint8_t> image =
      lzs::LzsEncoder().Encode(data.data(), data.size(), lzs::Parse::Fast);
  const std::string decoded(data.begin(), data.end());
  TempDir dir;
  PutFile(dir / "big.lzs", std::string(image.begin(), image.end()));
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  const std::string older = "an older file";  // the written output soon passes its size
  int interrupted = 0;
  for (int run = 0; run < 30; ++run) {
    const int signal = signals[run % 3];
    SCOPED_TRACE("run " + std::to_string(run) + ", signal " + std::to_string(signal));
    if (run % 2 == 1) PutFile(dir / "out", older);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      if (null < 0 || dup2(null, STDERR_FILENO) < 0 || chdir(dir.path().c_str()) != 0) _exit(127);
      fault::Reset();
      fault::SetCommandLine("p /D\"big.lzs\" /O\"out\"");
      CatchSignals();
      RunDecompression();
    }
    int status = 0;
    struct stat info {};
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (stat((dir / "out").c_str(), &info) == 0 &&
          info.st_size > static_cast<off_t>(older.size())) {
        kill(child, signal);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        break;
      }
    }
    const std::optional<std::string> left = FileBytes(dir / "out");
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal);
      interrupted += !left;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    // A signal once every byte is written leaves the whole output.
    EXPECT_TRUE(!left || left == decoded) << left->size() << " bytes left";
    EXPECT_TRUE(left || WIFSIGNALED(status));
    fs::remove(dir / "out");
  }
  RecordProperty("interrupted", interrupted);
}

// The pause between the tones does not block the thread.
TEST(NativeRun, PauseDoesNotWait) {
  rusage before{};
  rusage after{};
  ASSERT_EQ(getrusage(RUSAGE_THREAD, &before), 0);
  Sleep(100);
  ASSERT_EQ(getrusage(RUSAGE_THREAD, &after), 0);
  EXPECT_EQ(after.ru_nvcsw, before.ru_nvcsw) << "Sleep gave up the processor";
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
