#include "app/notices.hpp"

#include <cstddef>

// Reaching this during the compile-time conversion stops the build.
void CharacterOutsideWindows1251Russian();

namespace {

// The texts are written here in UTF-8 and turned into Windows-1251 bytes at
// compile time. Only ASCII and the Russian alphabet occur; any other
// character stops the build.
template <std::size_t N>
struct Cp1251Text {
  char bytes[N] = {};
};

template <std::size_t N>
consteval Cp1251Text<N> ToCp1251(const char8_t (&utf8)[N]) {
  Cp1251Text<N> text;
  std::size_t out = 0;
  for (std::size_t in = 0; in < N;) {
    const unsigned lead = utf8[in];
    if (lead < 0x80) {
      text.bytes[out++] = static_cast<char>(lead);
      in += 1;
      continue;
    }
    if ((lead & 0xE0) != 0xC0 || in + 1 >= N) CharacterOutsideWindows1251Russian();
    const unsigned code = (lead & 0x1F) << 6 | (utf8[in + 1] & 0x3Fu);
    unsigned byte = 0;
    if (code >= 0x410 && code <= 0x44F) byte = 0xC0 + (code - 0x410);  // А..я
    else if (code == 0x401) byte = 0xA8;                               // Ё
    else if (code == 0x451) byte = 0xB8;                               // ё
    else CharacterOutsideWindows1251Russian();
    text.bytes[out++] = static_cast<char>(byte);
    in += 2;
  }
  return text;
}

constexpr auto Caption = ToCp1251(u8"Tamrok [2009-02-05, Olvane]");

constexpr auto Usage = ToCp1251(
    u8"\t[Cmd line]\r\n"
    u8" Decompress LZS:\r\n"
    u8"exe /D\"PACKED file\" [/O\"Result file\"]\r\n"
    u8" Result file will be overwritten (if no /O - <PACKED>.DeLZS).\r\n"
    u8" Input file kicked off if >8 MB (allocated memory = size*10).\r\n"
    u8"\r\n"
    u8"\t[Ком.строка]\r\n"
    u8" Распаковать LZS:\r\n"
    u8"exe /D\"СЖАТЫЙ файл\" [/O\"Итоговый файл\"]\r\n"
    u8" Итоговый файл перезапишется (без /O - <СЖАТЫЙ>.DeLZS).\r\n"
    u8" Входной файл отфутболивается, если >8 МБ (выделяемая память = размер*10).");

constexpr auto FormatError = ToCp1251(
    u8"Error! Input file is not LZS?\r\n"
    u8"Ошибка! Входной файл не LZS?");

constexpr auto GeneralError = ToCp1251(
    u8"Error! Check the files, free memory size, etc.\r\n"
    u8"Ошибка! Проверьте файлы, свободную память и т.д.");

// One byte of Windows-1251 is one UTF-16 unit, so N bytes (the zero
// included) decode to N units.
template <std::size_t N>
constexpr bool Fits(const Cp1251Text<N>&) {
  return N <= NoticeCapacity;
}
static_assert(Fits(Caption) && Fits(Usage) && Fits(FormatError) && Fits(GeneralError),
              "a notice text is longer than NoticeCapacity");

}  // namespace

const char* const NoticeCaption = Caption.bytes;
const char* const UsageNotice = Usage.bytes;
const char* const FormatErrorNotice = FormatError.bytes;
const char* const GeneralErrorNotice = GeneralError.bytes;
