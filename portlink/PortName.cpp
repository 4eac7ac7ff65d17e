// Port name parsing and device path resolution for the port link library.
#include "PortName.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace vellport {
namespace {

constexpr std::string_view kDeviceNamespacePrefix = "\\\\.\\";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view trim(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// "COM<n>" alone, without the device-namespace prefix.
std::optional<int> parseComNumber(std::string_view name) {
    if (!startsWithNoCase(name, "COM")) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(3);
    if (digits.empty() || digits.size() > 3 || digits.front() == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    if (number < kFirstPort || number > kLastPort) {
        return std::nullopt;
    }
    return number;
}

void readMapFile(const std::string& path, int portNumber, std::string& found,
                 const std::function<void(const std::string&)>& warn) {
    std::ifstream file(path);
    if (!file) {
        return; // a missing map file is the normal case
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        const MapLine parsed = parseMapLine(line);
        if (parsed.kind == MapLine::Kind::Malformed) {
            warn(path + ":" + std::to_string(lineNumber) +
                 ": ignored, not COM<n>=<absolute device path>: \"" + line + "\"");
        } else if (parsed.kind == MapLine::Kind::Entry && parsed.portNumber == portNumber && found.empty()) {
            found = parsed.devicePath;
        }
    }
}

} // namespace

std::optional<int> parsePortName(std::string_view name) {
    if (name.substr(0, kDeviceNamespacePrefix.size()) == kDeviceNamespacePrefix) {
        name.remove_prefix(kDeviceNamespacePrefix.size());
    }
    return parseComNumber(name);
}

MapLine parseMapLine(std::string_view line) {
    const std::string_view content = trim(line);
    if (content.empty() || content.front() == '#') {
        return {};
    }
    MapLine result;
    result.kind = MapLine::Kind::Malformed;
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return result;
    }
    const std::optional<int> number = parseComNumber(trim(content.substr(0, equals)));
    const std::string_view path = trim(content.substr(equals + 1));
    if (!number || path.empty() || path.front() != '/') {
        return result;
    }
    result.kind = MapLine::Kind::Entry;
    result.portNumber = *number;
    result.devicePath = std::string(path);
    return result;
}

std::string fixedDevicePath(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

MapSources currentMapSources(int portNumber) {
    MapSources sources;
    const std::string variable = "VELLPORT_COM" + std::to_string(portNumber);
    if (const char* value = std::getenv(variable.c_str())) {
        sources.environmentValue = value;
    }
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        configHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        configHome = std::string(home) + "/.config";
    }
    if (!configHome.empty()) {
        sources.userMapPath = configHome + "/VellPortDll/ports.conf";
    }
    sources.systemMapPath = "/etc/VellPortDll/ports.conf";
    return sources;
}

Resolution resolvePort(int portNumber, const MapSources& sources,
                       const std::function<void(const std::string&)>& warn) {
    if (!sources.environmentValue.empty()) {
        if (sources.environmentValue.front() == '/') {
            return {sources.environmentValue, PortRule::Environment, {}};
        }
        warn("VELLPORT_COM" + std::to_string(portNumber) + " ignored, not an absolute device path: \"" +
             sources.environmentValue + "\"");
    }
    for (const auto& [path, rule] : {std::pair{&sources.userMapPath, PortRule::UserMap},
                                     std::pair{&sources.systemMapPath, PortRule::SystemMap}}) {
        if (path->empty()) {
            continue;
        }
        std::string found;
        readMapFile(*path, portNumber, found, warn);
        if (!found.empty()) {
            return {found, rule, *path};
        }
    }
    return {fixedDevicePath(portNumber), PortRule::Fixed, {}};
}

std::string resolveDevicePath(int portNumber, const MapSources& sources,
                              const std::function<void(const std::string&)>& warn) {
    return resolvePort(portNumber, sources, warn).devicePath;
}

} // namespace vellport
