// The texts of the three notices and their caption, as zero-ended
// Windows-1251 bytes with CR LF line breaks.
#pragma once

extern const char* const NoticeCaption;
extern const char* const UsageNotice;
extern const char* const FormatErrorNotice;
extern const char* const GeneralErrorNotice;
