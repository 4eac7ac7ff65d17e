// Steps through 8-bit text one character at a time in a multibyte code page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

enum class CodePage {
    SingleByte, // any 8-bit set: every byte is a character
    Utf8,
    Gbk,      // 936, and GB18030's four-byte forms
    Big5,     // 950
    ShiftJis, // 932
    Uhc,      // 949, EUC-KR
};

// Maps a charset name as nl_langinfo(CODESET) gives it ("UTF-8", "GBK", "GB18030", "BIG5", ...); only
// its ASCII letters and digits count, in either case ("utf8", "Shift_JIS").
CodePage codePageFromCharset(std::string_view charset);
// The code page of the process's locale (setlocale(LC_ALL, "") must have run for it to be the user's).
CodePage systemCodePage();
// Length in bytes of the character that starts at pos (at least 1, never past the end).
std::size_t charLength(std::string_view text, std::size_t pos, CodePage codePage);
// 8-bit text in the locale's own encoding (LC_CTYPE) as wide characters; a byte that is no character there
// becomes U+FFFD and the rest still decodes.
std::wstring decodeWithLocale(std::string_view text);

} // namespace common
