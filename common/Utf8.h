// Stepping through UTF-8 text one well-formed character at a time.
#pragma once

#include <cstddef>
#include <string_view>

namespace common {

// The length of the well-formed UTF-8 character at text[at] (shortest form, no surrogate) with its code
// point, or 0 when the bytes there are not one.
std::size_t utf8CharacterLength(std::string_view text, std::size_t at, char32_t& codePoint);
bool isValidUtf8(std::string_view text);

} // namespace common
