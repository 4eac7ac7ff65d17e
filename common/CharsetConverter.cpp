#include "common/CharsetConverter.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace common {
namespace {

// iconv_open's documented failure value.
const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

} // namespace

CharsetConverter::CharsetConverter(const std::string& to, const std::string& from)
    : m_handle(::iconv_open(to.c_str(), from.c_str())) {}

CharsetConverter::~CharsetConverter() {
    if (m_handle != kNoConversion) {
        ::iconv_close(m_handle);
    }
}

std::optional<std::string> CharsetConverter::convert(std::string_view input, std::size_t substituteSkip) {
    if (m_handle == kNoConversion) {
        return std::nullopt;
    }
    ::iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
    std::string output;
    std::array<char, 4096> buffer{};
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
        char* out = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = ::iconv(m_handle, &in, &inLeft, &out, &outLeft);
        output.append(buffer.data(), buffer.size() - outLeft);
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        if (substituteSkip == 0) {
            return std::nullopt;
        }
        const std::size_t skipped = std::min(substituteSkip, inLeft);
        output += '?';
        in += skipped;
        inLeft -= skipped;
    }
    return output;
}

} // namespace common
