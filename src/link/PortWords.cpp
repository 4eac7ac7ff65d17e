// The words that say where a port name leads, in English and Chinese, for every place that shows them.
#include "PortWords.h"

#include <algorithm>
#include <cstdio>

namespace {

bool chinese(WordsLanguage language) {
    return language == WordsLanguage::Chinese;
}

bool named(const char* text) {
    return text != nullptr && *text != '\0';
}

// The adapter's own names, or its vendor and product ids when it gives none; "" when it tells nothing.
std::string adapterName(const VellPortDeviceDetails& details) {
    std::string name;
    for (const char* part : {details.manufacturer, details.product}) {
        if (named(part)) {
            name += (name.empty() ? "" : " ") + std::string(part);
        }
    }
    if (name.empty() && details.vendorId >= 0) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", details.vendorId & 0xFFFF,
                      std::max(details.productId, 0) & 0xFFFF);
        name = ids;
    }
    return name;
}

} // namespace

std::string adapterWords(const VellPortDeviceDetails& details, WordsLanguage language) {
    if (details.isUsb != 0) {
        const std::string name = adapterName(details);
        const std::string kind = chinese(language) ? "USB 串口适配器" : "USB serial adapter";
        return name.empty() ? kind : kind + " " + name;
    }
    if (named(details.driver)) {
        return chinese(language) ? "串口（" + std::string(details.driver) + "）"
                                 : "serial port (" + std::string(details.driver) + ")";
    }
    return {};
}

std::string stateWords(const VellPortInfo& info, WordsLanguage language) {
    std::string words;
    switch (info.state) {
    case VELLPORT_STATE_PRESENT:
        words = chinese(language) ? "已连接" : "present";
        break;
    case VELLPORT_STATE_NO_PERMISSION:
        words = chinese(language) ? "无权限：请加入 dialout 组后重新登录"
                                  : "no permission: join the dialout group and log in again";
        break;
    case VELLPORT_STATE_NETWORK:
        return chinese(language) ? "网络" : "network";
    case VELLPORT_STATE_NOT_DEVICE:
        return chinese(language) ? "不是设备" : "not a device";
    default:
        // Missing, or a serial node with no UART behind it: either way nothing answers there.
        return chinese(language) ? "无设备" : "no device";
    }
    // A device that is there says which adapter it is, so the user can tell two of them apart.
    if (info.details.isUsb != 0) {
        words = adapterWords(info.details, language) + (chinese(language) ? "，" : ", ") + words;
    }
    return words;
}

std::string portLeadsWords(std::string_view shownName, const VellPortInfo& info, WordsLanguage language) {
    std::string line(shownName);
    line += " \u2192 ";
    line += info.devicePath != nullptr ? info.devicePath : "";
    // Full-width brackets carry their own spacing.
    return chinese(language) ? line + "（" + stateWords(info, language) + "）"
                             : line + " (" + stateWords(info, language) + ")";
}

std::string portRefusedWords(std::string_view shownName, std::string_view lastError) {
    // The reason follows the call and the quoted name: VellPortDescribe("COM12"): ...
    constexpr std::string_view kAfterName = "\"): ";
    const std::size_t start = lastError.find(kAfterName);
    const std::string_view reason =
        start == std::string_view::npos ? lastError : lastError.substr(start + kAfterName.size());
    return std::string(shownName) + " \u2192 " + std::string(reason);
}
