#include "vellport/output/ResultNames.h"

#include "VellPortDll.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace vellport {
std::string resultName(int result) {
    static constexpr std::pair<int, const char*> kNames[] = {
        {VELLPORT_OK, "VELLPORT_OK"},
        {VELLPORT_ERR_ARG, "VELLPORT_ERR_ARG"},
        {VELLPORT_ERR_NAME, "VELLPORT_ERR_NAME"},
        {VELLPORT_ERR_NO_DEVICE, "VELLPORT_ERR_NO_DEVICE"},
        {VELLPORT_ERR_PERMISSION, "VELLPORT_ERR_PERMISSION"},
        {VELLPORT_ERR_BUSY, "VELLPORT_ERR_BUSY"},
        {VELLPORT_ERR_IO, "VELLPORT_ERR_IO"},
        {VELLPORT_ERR_TIMEOUT, "VELLPORT_ERR_TIMEOUT"},
        {VELLPORT_ERR_HOST, "VELLPORT_ERR_HOST"},
        {VELLPORT_ERR_REFUSED, "VELLPORT_ERR_REFUSED"},
        {VELLPORT_ERR_PROTOCOL, "VELLPORT_ERR_PROTOCOL"},
        {VELLPORT_ERR_SETTING, "VELLPORT_ERR_SETTING"},
        {VELLPORT_ERR_TLS, "VELLPORT_ERR_TLS"},
    };
    for (const auto& [code, name] : kNames) {
        if (code == result) {
            return name;
        }
    }
    return std::to_string(result);
}

std::string resultWord(int result) {
    std::string word = resultName(result);
    for (const std::string_view prefix : {"VELLPORT_ERR_", "VELLPORT_"}) {
        if (word.starts_with(prefix)) {
            word.erase(0, prefix.size());
            break;
        }
    }
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return c == '_' ? ' ' : static_cast<char>(std::tolower(c)); });
    return word;
}
} // namespace vellport
