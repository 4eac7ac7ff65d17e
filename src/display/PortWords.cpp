#include "PortWords.h"

#include <algorithm>
#include <cctype>
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

// The fix the library names for a device the user may not open, as short as a tooltip wants it.
std::string permissionWords(const VellPortInfo& info, WordsLanguage language) {
    const char* group = nullptr;
    const int fix = VellPortExplainPermission(named(info.realPath) ? info.realPath : info.devicePath, &group);
    const std::string name = named(group) ? group : "dialout";
    switch (fix) {
    case VELLPORT_FIX_JOIN_GROUP:
        return chinese(language) ? "无权限：请加入 " + name + " 组后重新登录"
                                 : "no permission: join group " + name + " and log in again";
    case VELLPORT_FIX_LOG_IN_AGAIN:
        return chinese(language) ? "无权限：已加入 " + name + " 组，请重新登录"
                                 : "no permission: log in again to use group " + name;
    case VELLPORT_FIX_UDEV_RULE:
        return chinese(language) ? "无权限：设备需要 udev 规则（dialout 组，权限 0660）"
                                 : "no permission: the device needs a udev rule giving it group dialout and "
                                   "mode 0660";
    case VELLPORT_FIX_SYSTEM:
        return chinese(language) ? "无权限：系统拒绝访问（访问控制列表或安全模块）"
                                 : "no permission: the system refuses it (an access control list or a "
                                   "security module)";
    default:
        return chinese(language) ? "无权限" : "no permission";
    }
}

// rfc2217+tls:// and tcp+tls://, in any letter case.
bool isTlsUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    return scheme != std::string_view::npos && scheme >= 4 &&
           std::equal(url.begin() + static_cast<long>(scheme) - 4, url.begin() + static_cast<long>(scheme),
                      "+tls",
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
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
        words = permissionWords(info, language);
        break;
    case VELLPORT_STATE_NETWORK:
        if (info.devicePath != nullptr && isTlsUrl(info.devicePath)) {
            return chinese(language) ? "网络（TLS）" : "network (TLS)";
        }
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
