#include "settings/CommSettings.h"

#include "common/Text.h"
#include "settings/Profile.h"
#include "settings/ProfileSnapshot.h"
#include "settings/ProfileUpdate.h"

#include <cstdio>

namespace {

constexpr int kFirstDeviceNamespacePort = 10;
constexpr std::array<const char*, 4> kAddressKeys{"IP1", "IP2", "IP3", "IP4"};

} // namespace

std::vector<std::string> BuildPortList() {
    std::vector<std::string> ports;
    for (int n = 1; n <= kPortCount; ++n) {
        ports.push_back((n < kFirstDeviceNamespacePort ? "COM" : "\\\\.\\COM") + std::to_string(n));
    }
    return ports;
}

int FindPortIndex(const std::vector<std::string>& list, const std::string& stored) {
    // The list's select-by-prefix starts after the first entry and wraps around to it last.
    const int count = static_cast<int>(list.size());
    for (int step = 1; step <= count; ++step) {
        const int index = step % count;
        if (common::startsWithNoCase(list[static_cast<std::size_t>(index)], stored)) {
            return index;
        }
    }
    return 1;
}

CommSelection selectStored(const std::vector<std::string>& ports, const CommSettings& stored) {
    const int baud = stored.baudIndex;
    return {FindPortIndex(ports, stored.port),
            baud >= 0 && baud < static_cast<int>(kBaudList.size()) ? baud : -1};
}

std::string formatAddress(const std::array<int, 4>& ip) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::array<int, 4> addressOctets(std::uint32_t value) {
    return {static_cast<int>((value >> 24) & 0xFFu), static_cast<int>((value >> 16) & 0xFFu),
            static_cast<int>((value >> 8) & 0xFFu), static_cast<int>(value & 0xFFu)};
}

CommSettings loadCommSettings(const std::string& path) {
    return loadCommSettings(ProfileSnapshot(path));
}

CommSettings loadCommSettings(const ProfileSnapshot& file) {
    const CommSettings defaults;
    CommSettings settings;
    settings.port = IniReadString(file, kCommSection, "Port", defaults.port);
    settings.baudIndex = IniReadInt(file, kCommSection, "Baud", defaults.baudIndex);
    for (std::size_t i = 0; i < kAddressKeys.size(); ++i) {
        settings.ip[i] = IniReadInt(file, kCommSection, kAddressKeys[i], defaults.ip[i]);
    }
    return settings;
}

bool saveCommSettings(const CommSettings& settings, const std::string& path) {
    ProfileUpdate update(path);
    IniWriteString(update, kCommSection, "Port", settings.port);
    IniWriteInt(update, kCommSection, "Baud", settings.baudIndex);
    for (std::size_t i = 0; i < kAddressKeys.size(); ++i) {
        IniWriteInt(update, kCommSection, kAddressKeys[i], settings.ip[i]);
    }
    return update.commit();
}

CommSettings loadCommSettings() {
    return loadCommSettings(g_strIniPath);
}

bool saveCommSettings(const CommSettings& settings) {
    return saveCommSettings(settings, g_strIniPath);
}
