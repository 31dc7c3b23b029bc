#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/run_state.hpp"
#include "tests/case_names.hpp"

namespace {

struct ScanCase {
  const char* name;
  std::string commandLine;
  ScanResult result;
  std::string inputName;   // checked when Ready
  std::string outputName;  // checked when Ready
};

// Named, not dumped byte by byte, in test lists and failures.
void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.name; }

const std::string Long511(511, 'n');
const std::string Long512(512, 'n');
const std::string Long505(505, 'n');  // 505 + ".DeLZS" = 511
const std::string Long506(506, 'n');

std::vector<ScanCase> ScanCases() {
  return {
      {"no arguments", "prog", ScanResult::ShowUsage, "", ""},
      {"empty line", "", ScanResult::ShowUsage, "", ""},
      {"only output", "prog /O\"b.bin\"", ScanResult::ShowUsage, "", ""},
      {"default output name", "prog /D\"a.lzs\"", ScanResult::Ready, "a.lzs", "a.lzs.DeLZS"},
      {"both, output first", "prog /O\"b.bin\" /D\"a.lzs\"", ScanResult::Ready, "a.lzs", "b.bin"},
      {"both, input first", "prog /D\"a.lzs\" /O\"b.bin\"", ScanResult::Ready, "a.lzs", "b.bin"},
      {"repeated input", "prog /D\"a.lzs\" /D\"a.lzs\"", ScanResult::SyntaxError, "", ""},
      {"repeated output", "prog /D\"a\" /O\"b\" /O\"c\"", ScanResult::SyntaxError, "", ""},
      {"no quote", "prog /D a.lzs", ScanResult::SyntaxError, "", ""},
      {"space before the quote", "prog /D \"a.lzs\"", ScanResult::SyntaxError, "", ""},
      {"letter right before the name", "prog /Da.lzs", ScanResult::SyntaxError, "", ""},
      {"unclosed quote", "prog /D\"a.lzs", ScanResult::SyntaxError, "", ""},
      {"unclosed output quote", "prog /D\"a\" /O\"b", ScanResult::SyntaxError, "", ""},
      {"option at the very end", "prog /D", ScanResult::SyntaxError, "", ""},
      {"lower-case letters are no options", "prog /d\"a.lzs\"", ScanResult::ShowUsage, "", ""},
      {"lower-case output with input", "prog /D\"a\" /o\"b\"", ScanResult::Ready, "a", "a.DeLZS"},
      {"slash and space inside a name", "prog x/y /D\"my dir/a b.lzs\"", ScanResult::Ready,
       "my dir/a b.lzs", "my dir/a b.lzs.DeLZS"},
      {"program path with /D", "C:/Data/prog.exe /D\"a.lzs\"", ScanResult::SyntaxError, "", ""},
      {"program path with /O", "C:/Out/prog.exe /D\"a.lzs\"", ScanResult::SyntaxError, "", ""},
      {"quoted program path", "\"C:\\Program Files\\prog.exe\" /D\"a\"", ScanResult::Ready, "a",
       "a.DeLZS"},
      {"doubled slash still takes the option", "prog //D\"a\"", ScanResult::Ready, "a", "a.DeLZS"},
      {"slash at the very end", "prog /D\"a\" /", ScanResult::Ready, "a", "a.DeLZS"},
      {"other switches and words are ignored", "prog /X word /D\"a\" tail", ScanResult::Ready, "a",
       "a.DeLZS"},
      {"empty name is accepted", "prog /D\"\"", ScanResult::Ready, "", ".DeLZS"},
      {"name kept byte for byte", "prog /D\"  sp ace \\x\t\xC0\xFF\"", ScanResult::Ready,
       "  sp ace \\x\t\xC0\xFF", "  sp ace \\x\t\xC0\xFF.DeLZS"},
      {"option inside a name is part of it", "prog /D\"x /O y\"", ScanResult::Ready, "x /O y",
       "x /O y.DeLZS"},
      {"name directly after the closing quote", "prog /D\"a\"/O\"b\"", ScanResult::Ready, "a", "b"},
      {"input of 511 characters with output", "prog /D\"" + Long511 + "\" /O\"o\"",
       ScanResult::Ready, Long511, "o"},
      {"input of 512 characters", "prog /D\"" + Long512 + "\" /O\"o\"", ScanResult::SyntaxError, "",
       ""},
      {"output of 511 characters", "prog /D\"i\" /O\"" + Long511 + "\"", ScanResult::Ready, "i",
       Long511},
      {"output of 512 characters", "prog /D\"i\" /O\"" + Long512 + "\"", ScanResult::SyntaxError,
       "", ""},
      {"default name of exactly 511", "prog /D\"" + Long505 + "\"", ScanResult::Ready, Long505,
       Long505 + ".DeLZS"},
      {"default name of 512", "prog /D\"" + Long506 + "\"", ScanResult::SyntaxError, "", ""},
      {"input of 511 needing the default name", "prog /D\"" + Long511 + "\"",
       ScanResult::SyntaxError, "", ""},
  };
}

class ScanTest : public testing::TestWithParam<ScanCase> {
 protected:
  void SetUp() override { runState = RunState{}; }
};

TEST_P(ScanTest, GivesResultAndNames) {
  const ScanCase& c = GetParam();
  ASSERT_EQ(ScanCommandLine(c.commandLine.c_str()), c.result);
  if (c.result != ScanResult::Ready) return;
  EXPECT_EQ(std::string(runState.inputName), c.inputName);
  EXPECT_EQ(std::string(runState.outputName), c.outputName);
  EXPECT_TRUE(runState.optionFlags & InputOptionSeen);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, ScanTest, testing::ValuesIn(ScanCases()), CaseName());

TEST(ScanCommandLine, SetsOptionFlags) {
  runState = RunState{};
  ASSERT_EQ(ScanCommandLine("p /D\"a\""), ScanResult::Ready);
  EXPECT_EQ(runState.optionFlags, InputOptionSeen);
  runState = RunState{};
  ASSERT_EQ(ScanCommandLine("p /O\"b\" /D\"a\""), ScanResult::Ready);
  EXPECT_EQ(runState.optionFlags, InputOptionSeen | OutputOptionSeen);
}

// Overlong names must not spill past either buffer into the next field.
TEST(ScanCommandLine, OverlongNamesStayInsideTheirBuffers) {
  for (const std::string& line :
       {"p /D\"" + std::string(2000, 'x') + "\"", "p /D\"a\" /O\"" + std::string(2000, 'y') + "\"",
        "p /D\"" + Long511 + "\""}) {
    runState = RunState{};
    EXPECT_EQ(ScanCommandLine(line.c_str()), ScanResult::SyntaxError);
    EXPECT_EQ(runState.outputName[NameCapacity - 1], '\0');
    EXPECT_EQ(runState.inputName[NameCapacity - 1], '\0');
  }
}

// Called on its own, the function keeps to outputName: a name that would not
// fit is refused and outputName left as it was.
struct DefaultNameCase {
  std::string inputName;
  bool made;
};

TEST(MakeDefaultOutputName, AppendsTheSuffixOrRefuses) {
  const DefaultNameCase cases[] = {
      {"data.lzs", true}, {"", true}, {Long505, true}, {Long506, false}, {Long511, false}};
  for (const DefaultNameCase& c : cases) {
    SCOPED_TRACE(c.inputName.size());
    runState = RunState{};
    std::memcpy(runState.inputName, c.inputName.c_str(), c.inputName.size() + 1);
    std::memset(runState.outputName, 'q', sizeof runState.outputName);
    ASSERT_EQ(MakeDefaultOutputName(), c.made);
    if (c.made) {
      EXPECT_EQ(std::string(runState.outputName), c.inputName + ".DeLZS");
    } else {
      EXPECT_EQ(std::string(runState.outputName, NameCapacity), std::string(NameCapacity, 'q'));
    }
  }
}

}  // namespace
