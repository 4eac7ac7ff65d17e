// Small text helpers over 8-bit strings: trimming, ASCII case folding, the words for an errno value.
#pragma once

#include <string>
#include <string_view>

namespace common {

// text without the characters of blanks at its start, at its end, or at both.
std::string_view trimStart(std::string_view text, std::string_view blanks);
std::string_view trimEnd(std::string_view text, std::string_view blanks);
std::string_view trim(std::string_view text, std::string_view blanks);

// Case folding of the ASCII letters alone, whatever the locale: other bytes compare as they are.
char asciiLower(char c);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
bool equalsNoCase(std::string_view a, std::string_view b);

// The system's words for an errno value ("No such file or directory").
std::string errnoText(int error);

} // namespace common
