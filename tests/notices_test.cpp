#include "app/notices.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "tests/expected_notices.hpp"

namespace {

// Converts UTF-8 to Windows-1251 with the C library's iconv, independently of
// the program's own compile-time conversion.
std::string Iconv1251(const std::string& utf8) {
  iconv_t cd = iconv_open("CP1251", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in = utf8;
  std::string out(utf8.size() * 2 + 1, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

struct NoticeCase {
  const char* name;
  const char* bytes;
};

TEST(Notices, AreWindows1251BytesOfTheTexts) {
  const NoticeCase cases[] = {
      {"caption", NoticeCaption},
      {"usage", UsageNotice},
      {"format error", FormatErrorNotice},
      {"general error", GeneralErrorNotice},
  };
  for (const NoticeCase& c : cases) {
    EXPECT_EQ(std::string(c.bytes), Iconv1251(expected::Notice(c.name, "\r\n"))) << c.name;
  }
}

TEST(Notices, UsageHasElevenLinesAndNoTrailingBreak) {
  const std::string usage = UsageNotice;
  std::size_t breaks = 0;
  for (std::size_t k = 0; k + 1 < usage.size(); ++k) {
    if (usage[k] == '\r' && usage[k + 1] == '\n') ++breaks;
  }
  EXPECT_EQ(breaks, 10u);
  EXPECT_NE(usage.back(), '\n');
  // Spot bytes pinned by hand: the TAB lead, "К" and "я" in Windows-1251.
  EXPECT_EQ(usage[0], '\t');
  EXPECT_NE(usage.find("\t[\xCA\xEE\xEC.\xF1\xF2\xF0\xEE\xEA\xE0]"), std::string::npos);
  EXPECT_NE(usage.find("\xE2\xFB\xE4\xE5\xEB\xFF\xE5\xEC\xE0\xFF"), std::string::npos);
}

}  // namespace
