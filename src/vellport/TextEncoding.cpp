// Text as vellport hands it on: UTF-8 checked, spelled in the locale's charset, bytes kept exactly for JSON.
#include "vellport/TextEncoding.h"

#include "common/CharsetConverter.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <optional>
#include <utility>

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

std::size_t utf8CharacterLength(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    codePoint = value;
    return length;
}

bool isValidUtf8(std::string_view text) {
    char32_t codePoint = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8CharacterLength(text, at, codePoint);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

bool isUtf8Charset(std::string_view codeset) {
    std::string letters;
    for (const char c : codeset) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            letters += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return letters == "utf8";
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
        const std::size_t length = utf8CharacterLength(utf8, at, codePoint);
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
        const std::size_t length = utf8CharacterLength(utf8Json, at, codePoint);
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
