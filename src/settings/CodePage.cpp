// Character stepping in the multibyte code pages the profile text may be written in.
#include "settings/CodePage.h"

#include <cctype>
#include <langinfo.h>
#include <string>

namespace {

bool InRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

unsigned char ByteAt(std::string_view text, std::size_t pos) {
    return static_cast<unsigned char>(text[pos]);
}

std::size_t Utf8Length(std::string_view text, std::size_t pos) {
    const unsigned char lead = ByteAt(text, pos);
    std::size_t length = 1;
    if (InRange(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (InRange(lead, 0xE0, 0xEF)) {
        length = 3;
    } else if (InRange(lead, 0xF0, 0xF4)) {
        length = 4;
    }
    if (pos + length > text.size()) {
        return 1;
    }
    // A broken sequence counts byte by byte, so a stray byte never swallows the ASCII after it.
    for (std::size_t i = 1; i < length; ++i) {
        if (!InRange(ByteAt(text, pos + i), 0x80, 0xBF)) {
            return 1;
        }
    }
    return length;
}

bool IsLeadByte(unsigned char byte, CodePage codePage) {
    switch (codePage) {
    case CodePage::Gbk:
    case CodePage::Big5:
    case CodePage::Uhc:
        return InRange(byte, 0x81, 0xFE);
    case CodePage::ShiftJis:
        return InRange(byte, 0x81, 0x9F) || InRange(byte, 0xE0, 0xFC);
    case CodePage::SingleByte:
    case CodePage::Utf8:
        break;
    }
    return false;
}

bool IsGb18030FourByte(std::string_view text, std::size_t pos) {
    return pos + 4 <= text.size() && InRange(ByteAt(text, pos + 1), 0x30, 0x39) &&
           InRange(ByteAt(text, pos + 2), 0x81, 0xFE) && InRange(ByteAt(text, pos + 3), 0x30, 0x39);
}

} // namespace

CodePage CodePageFromCharset(std::string_view charset) {
    std::string name;
    for (const char c : charset) {
        if (c != '-' && c != '_' && c != ' ') {
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

CodePage SystemCodePage() {
    return CodePageFromCharset(nl_langinfo(CODESET));
}

std::size_t CharLength(std::string_view text, std::size_t pos, CodePage codePage) {
    if (pos >= text.size()) {
        return 1;
    }
    if (codePage == CodePage::Utf8) {
        return Utf8Length(text, pos);
    }
    if (!IsLeadByte(ByteAt(text, pos), codePage) || pos + 1 >= text.size()) {
        return 1;
    }
    if (codePage == CodePage::Gbk && IsGb18030FourByte(text, pos)) {
        return 4;
    }
    return 2;
}
