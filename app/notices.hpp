// The texts of the three notices and their caption, as zero-ended
// Windows-1251 bytes with CR LF line breaks.
#pragma once

// Room for any of the texts, the caption too, decoded to UTF-16 with its
// ending zero; notices.cpp stops the build if one would not fit.
inline constexpr int NoticeCapacity = 1024;

// The code page the texts are stored in, whatever the system's own.
inline constexpr unsigned NoticeCodePage = 1251;

extern const char* const NoticeCaption;
extern const char* const UsageNotice;
extern const char* const FormatErrorNotice;
extern const char* const GeneralErrorNotice;
