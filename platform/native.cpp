#include "platform/native.hpp"

#include <cstdint>

namespace native {

std::string BuildCommandLine(int argc, const char* const* argv) {
  std::string line;
  if (argc > 0) {
    const std::string program = argv[0];
    line = program.substr(program.rfind('/') + 1);  // the whole of it when there is no slash
  }
  for (int k = 1; k < argc; ++k) {
    line += ' ';
    const std::string argument = argv[k];
    const bool isOption = argument.size() > 2 && argument[0] == '/' &&
                          (argument[1] == 'D' || argument[1] == 'O') &&
                          argument.find('"', 2) == std::string::npos;
    if (isOption) {
      line += argument.substr(0, 2);
      line += '"';
      line += argument.substr(2);
      line += '"';
    } else {
      line += argument;
    }
  }
  return line;
}

namespace {

// Unicode code points of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
// 0x98 is unassigned and shown as U+FFFD.
constexpr std::uint16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsLeadSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsTrailSurrogate(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

}  // namespace

char16_t Cp1251Unit(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return Cp1251High[byte - 0x80];
  return static_cast<char16_t>(0x0410 + (byte - 0xC0));
}

std::string Utf16ToShown(const char16_t* text) {
  std::string out;
  for (const char16_t* p = text; *p != 0; ++p) {
    if (*p == u'\r' && p[1] == u'\n') continue;
    if (IsLeadSurrogate(*p) && IsTrailSurrogate(p[1])) {
      const std::uint32_t high = static_cast<std::uint32_t>(*p) - 0xD800u;
      const std::uint32_t low = static_cast<std::uint32_t>(p[1]) - 0xDC00u;
      AppendUtf8(out, 0x10000u + high * 0x400u + low);
      ++p;
    } else if (IsLeadSurrogate(*p) || IsTrailSurrogate(*p)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, *p);
    }
  }
  return out;
}

}  // namespace native
