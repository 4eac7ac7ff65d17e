// Text as vellport hands it on: UTF-8 checked, spelled in the locale's charset, bytes kept exactly for JSON.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellport {
// Whether the charset nl_langinfo(CODESET) names is UTF-8.
bool isUtf8Charset(std::string_view codeset);

// UTF-8 text in the charset codeset: unchanged for UTF-8. Otherwise ASCII stays, a few typographic characters
// are spelled in ASCII ("->" for the arrow), any other character is converted where the charset has it and is
// '?' where it has not, and bytes that are not UTF-8 pass as they are (a path's own bytes, most likely in
// that very charset).
std::string toCharset(std::string_view utf8, const std::string& codeset);

// UTF-8 JSON text with every non-ASCII character written as a \u escape: the same document in any charset.
std::string asciiJson(std::string_view utf8Json);

// Two lowercase hex digits per byte.
std::string hexBytes(std::string_view bytes);
} // namespace vellport
