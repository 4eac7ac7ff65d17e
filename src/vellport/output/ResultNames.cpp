#include "vellport/output/ResultNames.h"

#include "VellPortDll.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace vellport {
std::string resultName(int result) {
    switch (result) {
    case VELLPORT_OK:
        return "VELLPORT_OK";
    case VELLPORT_ERR_ARG:
        return "VELLPORT_ERR_ARG";
    case VELLPORT_ERR_NAME:
        return "VELLPORT_ERR_NAME";
    case VELLPORT_ERR_NO_DEVICE:
        return "VELLPORT_ERR_NO_DEVICE";
    case VELLPORT_ERR_PERMISSION:
        return "VELLPORT_ERR_PERMISSION";
    case VELLPORT_ERR_BUSY:
        return "VELLPORT_ERR_BUSY";
    case VELLPORT_ERR_IO:
        return "VELLPORT_ERR_IO";
    case VELLPORT_ERR_TIMEOUT:
        return "VELLPORT_ERR_TIMEOUT";
    case VELLPORT_ERR_HOST:
        return "VELLPORT_ERR_HOST";
    case VELLPORT_ERR_REFUSED:
        return "VELLPORT_ERR_REFUSED";
    case VELLPORT_ERR_PROTOCOL:
        return "VELLPORT_ERR_PROTOCOL";
    case VELLPORT_ERR_SETTING:
        return "VELLPORT_ERR_SETTING";
    case VELLPORT_ERR_TLS:
        return "VELLPORT_ERR_TLS";
    default:
        return std::to_string(result);
    }
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
