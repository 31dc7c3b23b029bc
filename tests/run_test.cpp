// The whole run on the native platform layer, one forked process per case:
// each ending's exit code, notice, platform calls in order and files left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "tests/child_run.hpp"
#include "tests/expected_notices.hpp"

namespace {

using namespace testrun;

// The calls as the platform layer records them; the flags are spelt out so
// that a changed constant shows.
std::string OpenInput(const std::string& name) {
  return "CreateFileA(" + name + ",80000000,00000001,00000003,08000000)";
}
std::string CreateOutput(const std::string& name) {
  return "CreateFileA(" + name + ",40000000,00000001,00000002,08000000)";
}
std::string Size(const std::string& name) { return "GetFileSize(" + name + ")"; }
std::string Alloc(std::uint32_t bytes) {
  return "GlobalAlloc(00000040," + std::to_string(bytes) + ")";
}
std::string Read(const std::string& name, std::uint32_t bytes) {
  return "ReadFile(" + name + "," + std::to_string(bytes) + ")";
}
std::string Write(const std::string& name, std::uint32_t bytes) {
  return "WriteFile(" + name + "," + std::to_string(bytes) + ")";
}
std::string Close(const std::string& name) { return "CloseHandle(" + name + ")"; }
std::string Delete(const std::string& name) { return "DeleteFileA(" + name + ")"; }
std::string Exit(int code) { return "ExitProcess(" + std::to_string(code) + ")"; }
// A notice: the caption and the text decoded as Windows-1251 into the run's
// buffers, then the Unicode box.
const std::string Decode = "MultiByteToWideChar(1251,00000000,-1,1024)";
const std::vector<std::string> Box = {Decode, Decode, "MessageBoxW(00042000)"};
const std::string Free = "GlobalFree";
const std::vector<std::string> Signal = {"Beep(300,20)", "Sleep(100)", "Beep(400,25)"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The notices as the native layer prints them: caption, text, UTF-8, LF.
std::string Shown(const std::string& notice) {
  return expected::Notice("caption") + "\n" + expected::Notice(notice) + "\n";
}
const std::string UsageText = Shown("usage");
const std::string FormatErrorText = Shown("format error");
const std::string GeneralErrorText = Shown("general error");

const std::string Previous = "an older file of the output name";

// 8 MiB exactly: 7,456,536 literals in 932,067 full groups, and one last flag
// byte with nothing after it.
std::string LargestData() {
  std::string data(7'456'536, '\0');
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<char>(k * 7 + k / 251);
  return data;
}

struct RunCase {
  std::string name;
  std::optional<std::string> commandLine{};  // none: the platform gives no command line
  std::map<std::string, std::string> filesBefore{};
  std::function<void()> plan{};  // faults, last-error code, odd files: in the child, in its folder
  int exitCode = -1;
  std::string notices{};  // none for the silent endings and success
  std::vector<std::string> calls{};
  // Every file of the folder afterwards; none means it must not exist.
  std::map<std::string, std::optional<std::string>> filesAfter{};
};

std::ostream& operator<<(std::ostream& out, const RunCase& c) { return out << c.name; }

std::vector<RunCase> Cases() {
  const std::string x = "x.lzs";
  const std::string out = "x.lzs.DeLZS";
  const std::string run = "lzs-unpack /D\"x.lzs\"";
  const std::string thousand = WithHeader(LiteralPayload(std::string(885, 'q')));  // 1000 bytes
  const std::string largestData = LargestData();
  const std::string largest = WithHeader(LiteralPayload(largestData) + '\xFF');
  const std::string tooLarge(8'388'609, 'a');
  const std::string cutAtEnd = WorkedExample + "xyz";  // a read of 10 sees a valid image
  const std::string badHeader = "\x07" + WorkedExample.substr(1);
  const std::string yieldsNothing("\x01\x00\x00\x00\x00", 5);
  const auto none = std::nullopt;
  const std::vector<std::string> readWorked = {OpenInput(x), Size(x), Alloc(1024), Read(x, 10)};
  const std::vector<std::string> released = {Close(x), Close(out), Free};
  const std::vector<std::string> refused = Join({Box, {Close(x), Free}});  // no output held yet
  const std::vector<std::string> deleted = Join({Box, {Close(x), Close(out), Delete(out), Free}});

  return {
      // success: the signal sounds while both files are open
      {.name = "WorkedExampleWithDefaultName",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}},
       .exitCode = 0,
       .calls = Join({readWorked, {CreateOutput(out), Write(out, 9)}, Signal, released, {Exit(0)}}),
       .filesAfter = {{x, WorkedExample}, {out, WorkedExampleOutput}}},
      {.name = "OutputFirstAndNamesWithSpaces",
       .commandLine = "C:\\Tools\\lzs-unpack.exe /O\"out file.bin\" /D\"in file.lzs\"",
       .filesBefore = {{"in file.lzs", WorkedExample}},
       .exitCode = 0,
       .calls =
           Join({{OpenInput("in file.lzs"), Size("in file.lzs"), Alloc(1024),
                  Read("in file.lzs", 10), CreateOutput("out file.bin"), Write("out file.bin", 9)},
                 Signal,
                 {Close("in file.lzs"), Close("out file.bin"), Free, Exit(0)}}),
       .filesAfter = {{"in file.lzs", WorkedExample}, {"out file.bin", WorkedExampleOutput}}},
      {.name = "ExistingLongerOutputIsReplaced",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {out, std::string(100, 'z')}},
       .exitCode = 0,
       .calls = Join({readWorked, {CreateOutput(out), Write(out, 9)}, Signal, released, {Exit(0)}}),
       .filesAfter = {{x, WorkedExample}, {out, WorkedExampleOutput}}},
      {.name = "ThousandBytesGetABlockOf10752",
       .commandLine = run,
       .filesBefore = {{x, thousand}},
       .exitCode = 0,
       .calls = Join({{OpenInput(x), Size(x), Alloc(10'752), Read(x, 1000), CreateOutput(out),
                       Write(out, 885)},
                      Signal,
                      released,
                      {Exit(0)}}),
       .filesAfter = {{x, thousand}, {out, std::string(885, 'q')}}},
      {.name = "ExactlyEightMiBIsAccepted",
       .commandLine = run,
       .filesBefore = {{x, largest}},
       .exitCode = 0,
       .calls = Join({{OpenInput(x), Size(x), Alloc(83'887'104), Read(x, 8'388'608),
                       CreateOutput(out), Write(out, 7'456'536)},
                      Signal,
                      released,
                      {Exit(0)}}),
       .filesAfter = {{x, largest}, {out, largestData}}},
      // The decoder gets the count read, not the size: here that count is
      // exactly the valid image in front of three stray bytes.
      {.name = "ShortReadEndingAtTheImageEndDecodes",
       .commandLine = run,
       .filesBefore = {{x, cutAtEnd}},
       .plan = [] { fault::LimitReads(10); },
       .exitCode = 0,
       .calls = Join(
           {{OpenInput(x), Size(x), Alloc(1024), Read(x, 13), CreateOutput(out), Write(out, 9)},
            Signal,
            released,
            {Exit(0)}}),
       .filesAfter = {{x, cutAtEnd}, {out, WorkedExampleOutput}}},

      // usage: nothing opened, exit 0
      {.name = "UsageWithoutArguments",
       .commandLine = "lzs-unpack",
       .exitCode = 0,
       .notices = UsageText,
       .calls = Join({Box, {Exit(0)}})},
      {.name = "UsageWithOnlyOutput",
       .commandLine = "lzs-unpack /O\"b.bin\"",
       .exitCode = 0,
       .notices = UsageText,
       .calls = Join({Box, {Exit(0)}})},
      {.name = "UsageForLowerCaseD",
       .commandLine = "lzs-unpack /d\"x.lzs\"",
       .filesBefore = {{x, WorkedExample}},
       .exitCode = 0,
       .notices = UsageText,
       .calls = Join({Box, {Exit(0)}}),
       .filesAfter = {{x, WorkedExample}, {out, none}}},

      // silent exits: ERROR_BAD_ARGUMENTS for a refused command line, whatever
      // code the process holds; a failed open's own code, else ERROR_GEN_FAILURE
      {.name = "NoCommandLine", .commandLine = none, .exitCode = 160, .calls = {Exit(160)}},
      {.name = "NoCommandLineIgnoresAHeldCode",
       .commandLine = none,
       .plan = [] { SetLastError(ERROR_ACCESS_DENIED); },
       .exitCode = 160,
       .calls = {Exit(160)}},
      {.name = "SpaceBeforeTheQuote",
       .commandLine = "lzs-unpack /D \"x.lzs\"",
       .filesBefore = {{x, WorkedExample}},
       .exitCode = 160,
       .calls = {Exit(160)},
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "RepeatedInput",
       .commandLine = "lzs-unpack /D\"x.lzs\" /D\"x.lzs\"",
       .filesBefore = {{x, WorkedExample}},
       .exitCode = 160,
       .calls = {Exit(160)},
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "UnclosedNameIgnoresAHeldCode",
       .commandLine = "lzs-unpack /D\"x.lzs",
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { SetLastError(ERROR_INVALID_NAME); },
       .exitCode = 160,
       .calls = {Exit(160)},
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "ProgramPathWithSlashD",
       .commandLine = "C:/Data/lzs-unpack.exe /D\"x.lzs\"",
       .filesBefore = {{x, WorkedExample}},
       .exitCode = 160,
       .calls = {Exit(160)},
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "MissingInput",
       .commandLine = run,
       .filesBefore = {{out, Previous}},
       .exitCode = 2,
       .calls = {OpenInput(x), Exit(2)},
       .filesAfter = {{x, none}, {out, Previous}}},
      {.name = "FailedOpenWithoutACode",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { fault::FailCall(fault::Op::CreateFileA, 1, NO_ERROR); },
       .exitCode = 31,
       .calls = {OpenInput(x), Exit(31)},
       .filesAfter = {{x, WorkedExample}, {out, none}}},

      // format error: exit 13, an output of that name left as it was
      {.name = "OneByte",
       .commandLine = run,
       .filesBefore = {{x, "\x01"}, {out, Previous}},
       .exitCode = 13,
       .notices = FormatErrorText,
       .calls = Join({{OpenInput(x), Size(x), Alloc(1024), Read(x, 1)}, refused, {Exit(13)}}),
       .filesAfter = {{x, "\x01"}, {out, Previous}}},
      {.name = "FourBytes",
       .commandLine = run,
       .filesBefore = {{x, std::string(4, '\0')}},
       .exitCode = 13,
       .notices = FormatErrorText,
       .calls = Join({{OpenInput(x), Size(x), Alloc(1024), Read(x, 4)}, refused, {Exit(13)}}),
       .filesAfter = {{x, std::string(4, '\0')}, {out, none}}},
      {.name = "HeaderOneTooLarge",
       .commandLine = run,
       .filesBefore = {{x, badHeader}, {out, Previous}},
       .exitCode = 13,
       .notices = FormatErrorText,
       .calls = Join({readWorked, refused, {Exit(13)}}),
       .filesAfter = {{x, badHeader}, {out, Previous}}},
      {.name = "PayloadYieldingNothing",
       .commandLine = run,
       .filesBefore = {{x, yieldsNothing}},
       .exitCode = 13,
       .notices = FormatErrorText,
       .calls = Join({{OpenInput(x), Size(x), Alloc(1024), Read(x, 5)}, refused, {Exit(13)}}),
       .filesAfter = {{x, yieldsNothing}, {out, none}}},
      {.name = "ShortReadMeetsTheHeaderCheck",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {out, Previous}},
       .plan = [] { fault::LimitReads(9); },
       .exitCode = 13,
       .notices = FormatErrorText,
       .calls = Join({readWorked, refused, {Exit(13)}}),
       .filesAfter = {{x, WorkedExample}, {out, Previous}}},

      // general error: the code of the failure or of the refusal
      {.name = "EmptyInput",
       .commandLine = run,
       .filesBefore = {{x, ""}, {out, Previous}},
       .exitCode = 38,
       .notices = GeneralErrorText,
       .calls = Join({{OpenInput(x), Size(x)}, Box, {Close(x), Exit(38)}}),
       .filesAfter = {{x, ""}, {out, Previous}}},
      {.name = "OneByteAboveEightMiB",
       .commandLine = run,
       .filesBefore = {{x, tooLarge}, {out, Previous}},
       .exitCode = 223,
       .notices = GeneralErrorText,
       .calls = Join({{OpenInput(x), Size(x)}, Box, {Close(x), Exit(223)}}),
       .filesAfter = {{x, tooLarge}, {out, Previous}}},
      {.name = "SizeNotObtainable",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {out, Previous}},
       .plan = [] { fault::FailCall(fault::Op::GetFileSize, 1, ERROR_INVALID_HANDLE); },
       .exitCode = 6,
       .notices = GeneralErrorText,
       .calls = Join({{OpenInput(x), Size(x)}, Box, {Close(x), Exit(6)}}),
       .filesAfter = {{x, WorkedExample}, {out, Previous}}},
      {.name = "AllocationFails",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {out, Previous}},
       .plan = [] { fault::FailCall(fault::Op::GlobalAlloc, 1, ERROR_NOT_ENOUGH_MEMORY); },
       .exitCode = 8,
       .notices = GeneralErrorText,
       .calls = Join({{OpenInput(x), Size(x), Alloc(1024)}, Box, {Close(x), Exit(8)}}),
       .filesAfter = {{x, WorkedExample}, {out, Previous}}},
      {.name = "FailureWithoutACodeStillFails",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { fault::FailCall(fault::Op::GlobalAlloc, 1, NO_ERROR); },
       .exitCode = 31,
       .notices = GeneralErrorText,
       .calls = Join({{OpenInput(x), Size(x), Alloc(1024)}, Box, {Close(x), Exit(31)}}),
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "ReadFails",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {out, Previous}},
       .plan = [] { fault::FailCall(fault::Op::ReadFile, 1, ERROR_READ_FAULT); },
       .exitCode = 30,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, refused, {Exit(30)}}),
       .filesAfter = {{x, WorkedExample}, {out, Previous}}},
      {.name = "CreateFails",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { fault::FailCall(fault::Op::CreateFileA, 2, ERROR_ACCESS_DENIED); },
       .exitCode = 5,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput(out)}, refused, {Exit(5)}}),
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "OutputIsAFolder",
       .commandLine = "lzs-unpack /D\"x.lzs\" /O\"sub\"",
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { mkdir("sub", 0755); },
       .exitCode = 5,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput("sub")}, refused, {Exit(5)}}),
       .filesAfter = {{x, WorkedExample}}},
      {.name = "OutputNamesTheInput",
       .commandLine = "lzs-unpack /D\"x.lzs\" /O\"x.lzs\"",
       .filesBefore = {{x, WorkedExample}},
       .exitCode = 32,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput(x)}, refused, {Exit(32)}}),
       .filesAfter = {{x, WorkedExample}}},
      {.name = "OutputIsALinkToTheInput",
       .commandLine = "lzs-unpack /D\"x.lzs\" /O\"alias\"",
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { symlink("x.lzs", "alias"); },
       .exitCode = 32,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput("alias")}, refused, {Exit(32)}}),
       .filesAfter = {{x, WorkedExample}, {"alias", WorkedExample}}},
      {.name = "WriteFailsAndTheOutputIsDeleted",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {out, Previous}},
       .plan = [] { fault::FailCall(fault::Op::WriteFile, 1, ERROR_DISK_FULL); },
       .exitCode = 112,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput(out), Write(out, 9)}, deleted, {Exit(112)}}),
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      {.name = "ShortWriteFailsAndTheOutputIsDeleted",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}},
       .plan = [] { fault::LimitWrites(8); },
       .exitCode = 29,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput(out), Write(out, 9)}, deleted, {Exit(29)}}),
       .filesAfter = {{x, WorkedExample}, {out, none}}},
      // the bytes written go, and the link stays: only the file written is deleted
      {.name = "ShortWriteThroughALinkEmptiesItsTarget",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}, {"target", Previous}},
       .plan =
           [] {
             symlink("target", "x.lzs.DeLZS");
             fault::LimitWrites(8);
           },
       .exitCode = 29,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput(out), Write(out, 9)}, deleted, {Exit(29)}}),
       .filesAfter = {{x, WorkedExample}, {out, ""}, {"target", ""}}},
      {.name = "FailedDeleteKeepsTheWriteErrorCode",
       .commandLine = run,
       .filesBefore = {{x, WorkedExample}},
       .plan =
           [] {
             fault::FailCall(fault::Op::WriteFile, 1, ERROR_DISK_FULL);
             fault::FailCall(fault::Op::DeleteFileA, 1, ERROR_ACCESS_DENIED);
           },
       .exitCode = 112,
       .notices = GeneralErrorText,
       .calls = Join({readWorked, {CreateOutput(out), Write(out, 9)}, deleted, {Exit(112)}}),
       .filesAfter = {{x, WorkedExample}, {out, ""}}},
  };
}

class Run : public ::testing::TestWithParam<RunCase> {};

TEST_P(Run, Ending) {
  const RunCase& c = GetParam();
  TempDir dir;
  for (const auto& [name, bytes] : c.filesBefore) PutFile(dir / name, bytes);

  const Outcome outcome = RunInChild(dir.path(), [&c] {
    fault::SetCommandLine(c.commandLine ? c.commandLine->c_str() : nullptr);
    if (c.plan) c.plan();
  });

  EXPECT_EQ(outcome.exitCode, c.exitCode);
  EXPECT_EQ(outcome.calls, c.calls);
  EXPECT_EQ(outcome.notices, c.notices);

  std::map<std::string, std::optional<std::string>> filesAfter;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory()) filesAfter[name] = FileBytes(entry.path());
  }
  for (const auto& [name, bytes] : c.filesAfter) {
    if (bytes) {
      const std::optional<std::string>& found = filesAfter[name];
      EXPECT_TRUE(found == bytes) << name << ": " << (found ? found->size() : 0) << " bytes"
                                  << (found ? "" : " (missing)") << ", expected " << bytes->size();
    } else {
      EXPECT_EQ(filesAfter.count(name), 0u) << name << " must not exist";
    }
    filesAfter.erase(name);
  }
  for (const auto& [name, bytes] : filesAfter) ADD_FAILURE() << "unexpected file " << name;
}

INSTANTIATE_TEST_SUITE_P(Endings, Run, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// A file of 4 GiB and more: the high part of the size counts, so the low
// part (here 10, a fine size on its own) does not let it through.
TEST(RunSize, FourGiBAndMoreIsRefused) {
  TempDir dir;
  const std::uint64_t size = (std::uint64_t{1} << 32) + WorkedExample.size();
  PutFile(dir / "x.lzs", WorkedExample);
  if (truncate((dir / "x.lzs").c_str(), static_cast<off_t>(size)) != 0)
    GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";

  const Outcome outcome =
      RunInChild(dir.path(), [] { fault::SetCommandLine("lzs-unpack /D\"x.lzs\""); });

  EXPECT_EQ(outcome.exitCode, 223);
  EXPECT_EQ(outcome.calls,
            Join({{OpenInput("x.lzs"), Size("x.lzs")}, Box, {Close("x.lzs"), Exit(223)}}));
  EXPECT_EQ(outcome.notices, GeneralErrorText);
  EXPECT_FALSE(fs::exists(dir / "x.lzs.DeLZS"));
}

}  // namespace
