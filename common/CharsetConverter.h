// Text from one charset into another through iconv, its descriptor closed however the caller ends.
#pragma once

#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

namespace common {

class CharsetConverter {
public:
    // Charset names as iconv_open takes them ("UTF-16LE", nl_langinfo(CODESET), ...).
    CharsetConverter(const std::string& to, const std::string& from);
    ~CharsetConverter();
    CharsetConverter(const CharsetConverter&) = delete;
    CharsetConverter& operator=(const CharsetConverter&) = delete;

    // All of input in the target charset, from the initial shift state; nothing when iconv knows no such
    // conversion. A character the target lacks, or one cut short at the end, fails the whole conversion when
    // substituteSkip is 0; otherwise it becomes "?" and substituteSkip bytes of input are passed over.
    std::optional<std::string> convert(std::string_view input, std::size_t substituteSkip = 0);

private:
    iconv_t m_handle;
};

} // namespace common
