#include "common/Text.h"

#include <cstring>

namespace common {

std::string_view trimStart(std::string_view text, std::string_view blanks) {
    const std::size_t first = text.find_first_not_of(blanks);
    return text.substr(first == std::string_view::npos ? text.size() : first);
}

std::string_view trimEnd(std::string_view text, std::string_view blanks) {
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::string_view trim(std::string_view text, std::string_view blanks) {
    return trimEnd(trimStart(text, blanks), blanks);
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (asciiLower(text[i]) != asciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

std::string errnoText(int error) {
    return std::strerror(error);
}

} // namespace common
