// Fuzzes UnescapeProfileValue in every code page against a plain reference model of its four passes.
#include "common/CodePage.h"
#include "settings/Profile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

using common::CodePage;

bool In(unsigned char byte, unsigned low, unsigned high) {
    return byte >= low && byte <= high;
}

// How many bytes the character at pos takes, from the code pages' lead byte tables alone.
std::size_t ModelCharLength(const std::string& text, std::size_t pos, CodePage codePage) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(pos);
    const std::size_t left = text.size() - pos;
    switch (codePage) {
    case CodePage::SingleByte:
        return 1;
    case CodePage::Utf8: {
        std::size_t length = 1;
        if (In(lead, 0xC2, 0xDF)) {
            length = 2;
        } else if (In(lead, 0xE0, 0xEF)) {
            length = 3;
        } else if (In(lead, 0xF0, 0xF4)) {
            length = 4;
        }
        if (length > left) {
            return 1;
        }
        for (std::size_t i = 1; i < length; ++i) {
            if (!In(byte(pos + i), 0x80, 0xBF)) {
                return 1;
            }
        }
        return length;
    }
    case CodePage::Gbk:
        if (In(lead, 0x81, 0xFE) && left >= 4 && In(byte(pos + 1), 0x30, 0x39) &&
            In(byte(pos + 2), 0x81, 0xFE) && In(byte(pos + 3), 0x30, 0x39)) {
            return 4;
        }
        return In(lead, 0x81, 0xFE) && left >= 2 ? 2 : 1;
    case CodePage::Big5:
    case CodePage::Uhc:
        return In(lead, 0x81, 0xFE) && left >= 2 ? 2 : 1;
    case CodePage::ShiftJis:
        return (In(lead, 0x81, 0x9F) || In(lead, 0xE0, 0xFC)) && left >= 2 ? 2 : 1;
    }
    return 1;
}

std::string ModelPass(const std::string& text, char escape, char replacement, CodePage codePage) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        if (text[pos] == '\\' && pos + 1 < text.size() && text[pos + 1] == escape) {
            out += replacement;
            pos += 2;
        } else {
            const std::size_t length = ModelCharLength(text, pos, codePage);
            out.append(text, pos, length);
            pos += length;
        }
    }
    return out;
}

std::string ModelUnescape(const std::string& text, CodePage codePage) {
    std::string out = ModelPass(text, 'n', '\n', codePage);
    out = ModelPass(out, 't', '\t', codePage);
    out = ModelPass(out, 'r', '\r', codePage);
    return ModelPass(out, '"', '"', codePage);
}

constexpr CodePage kCodePages[] = {CodePage::SingleByte, CodePage::Utf8,     CodePage::Gbk,
                                   CodePage::Big5,       CodePage::ShiftJis, CodePage::Uhc};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const CodePage codePage : kCodePages) {
        const std::string actual = UnescapeProfileValue(text, codePage);
        const std::string expected = ModelUnescape(text, codePage);
        if (actual != expected) {
            std::fprintf(stderr, "code page %d: model and unescape differ (%zu vs %zu bytes)\n",
                         static_cast<int>(codePage), expected.size(), actual.size());
            std::abort();
        }
    }
    return 0;
}
