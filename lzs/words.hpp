// Words into a caller's buffer, as snprintf writes them: what fits, a
// terminating NUL, and the length of the whole. The library's texts
// (lzs_describe, lzs_inspection_text, lzs_finding_text) are written with
// it, so that every size reads the same: "3,364,354,902 bytes".
#pragma once

#include <cstddef>

namespace lzs {

class Words {
 public:
  Words(char* buf, std::size_t cap) : buf_(buf), cap_(buf == nullptr ? 0 : cap) {}

  Words& operator<<(const char* text) {
    while (*text != '\0') Put(*text++);
    return *this;
  }

  Words& operator<<(char c) {
    Put(c);
    return *this;
  }

  // 3364354902 as "3,364,354,902".
  Words& operator<<(unsigned long long value) { return Number(value, true); }

  // 3364354902 as "3364354902", as JSON has numbers.
  Words& Plain(unsigned long long value) { return Number(value, false); }

  // text as a JSON string, quotes included. Bytes that are not UTF-8 are
  // written as U+FFFD, the replacement character: a file name need not be
  // UTF-8, and JSON text must be.
  Words& Quoted(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    Put('"');
    while (*p != 0) {
      const unsigned char c = *p;
      const std::size_t length = Utf8Length(p);
      if (c == '"' || c == '\\') {
        Put('\\');
        Put(static_cast<char>(c));
      } else if (c < 0x20) {
        const char* hex = "0123456789abcdef";
        *this << "\\u00" << hex[c >> 4] << hex[c & 15];
      } else if (length == 0) {
        *this << "\xEF\xBF\xBD";
        ++p;
        continue;
      } else {
        for (std::size_t k = 0; k < length; ++k) Put(static_cast<char>(p[k]));
        p += length;
        continue;
      }
      ++p;
    }
    Put('"');
    return *this;
  }

  // The length of all the words, and the NUL after what fits.
  std::size_t End() {
    if (cap_ > 0) buf_[length_ < cap_ ? length_ : cap_ - 1] = '\0';
    return length_;
  }

 private:
  void Put(char c) {
    if (length_ + 1 < cap_) buf_[length_] = c;
    ++length_;
  }

  Words& Number(unsigned long long value, bool grouped) {
    char digits[20];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) {
      Put(digits[--count]);
      if (grouped && count > 0 && count % 3 == 0) Put(',');
    }
    return *this;
  }

  // The length of the UTF-8 sequence at p (1 to 4), or 0 when it is not
  // one: a stray continuation byte, a sequence cut short, an overlong form,
  // a surrogate or a code point above U+10FFFF.
  static std::size_t Utf8Length(const unsigned char* p) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    std::size_t length = 0;
    unsigned min = 0;
    unsigned code = 0;
    if ((c & 0xE0) == 0xC0) {
      length = 2;
      min = 0x80;
      code = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      min = 0x800;
      code = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      min = 0x10000;
      code = c & 0x07u;
    } else {
      return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((p[k] & 0xC0) != 0x80) return 0;  // also the NUL that ends the text
      code = code << 6 | (p[k] & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
  }

  char* buf_;
  std::size_t cap_;
  std::size_t length_ = 0;
};

}  // namespace lzs
