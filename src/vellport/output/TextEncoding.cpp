#include "vellport/output/TextEncoding.h"

#include "common/CharsetConverter.h"
#include "common/CodePage.h"
#include "common/Utf8.h"

#include <array>
#include <cstdio>
#include <optional>
#include <utility>

namespace vellport {
namespace {

// Characters our own words and the library's lines use, as a plain ASCII terminal can show them.
std::optional<std::string_view> asciiSpelling(char32_t codePoint) {
    static constexpr std::array<std::pair<char32_t, std::string_view>, 12> kSpellings{{
        {U'\u2192', "->"},
        {U'\u2190', "<-"},
        {U'\u2194', "<->"},
        {U'\u2013', "-"},
        {U'\u2014', "--"},
        {U'\u2018', "'"},
        {U'\u2019', "'"},
        {U'\u201C', "\""},
        {U'\u201D', "\""},
        {U'\u2026', "..."},
        {U'\u00A0', " "},
        {U'\uFFFD', "?"},
    }};
    for (const auto& [character, spelling] : kSpellings) {
        if (character == codePoint) {
            return spelling;
        }
    }
    return std::nullopt;
}

} // namespace

bool isUtf8Charset(std::string_view codeset) {
    return common::codePageFromCharset(codeset) == common::CodePage::Utf8;
}

std::string toCharset(std::string_view utf8, const std::string& codeset) {
    if (isUtf8Charset(codeset)) {
        return std::string(utf8);
    }
    std::string result;
    result.reserve(utf8.size());
    std::optional<common::CharsetConverter> converter;
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t codePoint = 0;
        const std::size_t length = common::utf8CharacterLength(utf8, at, codePoint);
        if (length <= 1) {
            result += utf8[at++];
            continue;
        }
        const std::string_view character = utf8.substr(at, length);
        at += length;
        if (const std::optional<std::string_view> spelling = asciiSpelling(codePoint)) {
            result += *spelling;
            continue;
        }
        if (!converter) {
            converter.emplace(codeset, "UTF-8");
        }
        result += converter->convert(character).value_or("?");
    }
    return result;
}

std::string asciiJson(std::string_view utf8Json) {
    std::string result;
    result.reserve(utf8Json.size());
    const auto escape = [&](char32_t unit) {
        char text[16];
        std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(unit));
        result += text;
    };
    for (std::size_t at = 0; at < utf8Json.size();) {
        char32_t codePoint = 0;
        const std::size_t length = common::utf8CharacterLength(utf8Json, at, codePoint);
        if (length <= 1) {
            // Qt writes well-formed UTF-8; a stray byte would still not be ASCII, so it becomes U+FFFD.
            if (length == 0) {
                escape(0xFFFD);
            } else {
                result += utf8Json[at];
            }
            ++at;
            continue;
        }
        at += length;
        if (codePoint >= 0x10000) {
            escape(0xD800 + ((codePoint - 0x10000) >> 10));
            escape(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            escape(codePoint);
        }
    }
    return result;
}

std::string hexBytes(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string result;
    result.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto value = static_cast<unsigned char>(c);
        result += kDigits[value >> 4];
        result += kDigits[value & 0x0F];
    }
    return result;
}
} // namespace vellport
