#include "common/CodePage.h"

#include "common/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <langinfo.h>
#include <string>

namespace common {
namespace {

bool inRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

unsigned char byteAt(std::string_view text, std::size_t pos) {
    return static_cast<unsigned char>(text[pos]);
}

bool isLeadByte(unsigned char byte, CodePage codePage) {
    switch (codePage) {
    case CodePage::Gbk:
    case CodePage::Big5:
    case CodePage::Uhc:
        return inRange(byte, 0x81, 0xFE);
    case CodePage::ShiftJis:
        return inRange(byte, 0x81, 0x9F) || inRange(byte, 0xE0, 0xFC);
    case CodePage::SingleByte:
    case CodePage::Utf8:
        break;
    }
    return false;
}

bool isGb18030FourByte(std::string_view text, std::size_t pos) {
    return pos + 4 <= text.size() && inRange(byteAt(text, pos + 1), 0x30, 0x39) &&
           inRange(byteAt(text, pos + 2), 0x81, 0xFE) && inRange(byteAt(text, pos + 3), 0x30, 0x39);
}

} // namespace

CodePage codePageFromCharset(std::string_view charset) {
    std::string name;
    for (const char c : charset) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    if (name == "UTF8") {
        return CodePage::Utf8;
    }
    if (name == "GBK" || name == "GB18030" || name == "GB2312" || name == "CP936" || name == "EUCCN") {
        return CodePage::Gbk;
    }
    if (name == "BIG5" || name == "BIG5HKSCS" || name == "CP950") {
        return CodePage::Big5;
    }
    if (name == "SHIFTJIS" || name == "SJIS" || name == "CP932" || name == "WINDOWS31J") {
        return CodePage::ShiftJis;
    }
    if (name == "EUCKR" || name == "UHC" || name == "CP949") {
        return CodePage::Uhc;
    }
    return CodePage::SingleByte;
}

CodePage systemCodePage() {
    return codePageFromCharset(nl_langinfo(CODESET));
}

std::size_t charLength(std::string_view text, std::size_t pos, CodePage codePage) {
    if (pos >= text.size()) {
        return 1;
    }
    if (codePage == CodePage::Utf8) {
        // A broken sequence counts byte by byte, so a stray byte never swallows the ASCII after it.
        char32_t codePoint = 0;
        return std::max<std::size_t>(utf8CharacterLength(text, pos, codePoint), 1);
    }
    if (!isLeadByte(byteAt(text, pos), codePage) || pos + 1 >= text.size()) {
        return 1;
    }
    if (codePage == CodePage::Gbk && isGb18030FourByte(text, pos)) {
        return 4;
    }
    return 2;
}

std::wstring decodeWithLocale(std::string_view text) {
    std::wstring wide;
    std::mbstate_t state{};
    for (std::size_t pos = 0; pos < text.size();) {
        wchar_t character = 0;
        const std::size_t length = std::mbrtowc(&character, text.data() + pos, text.size() - pos, &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
            // Broken or cut short: one byte is lost, never the text after it.
            wide += L'\uFFFD';
            state = std::mbstate_t{};
            ++pos;
            continue;
        }
        wide += character;
        pos += length == 0 ? 1 : length; // an embedded NUL is one byte
    }
    return wide;
}

} // namespace common
