// Map file edits as pure text functions, so they can be tested and fuzzed without files.
#include "vellport/PortMapEdit.h"

#include <cstddef>

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;
constexpr std::string_view kDeviceNamespacePrefix = "\\\\.\\";
constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// "COM<n>" alone, as a map line names it.
std::optional<int> parseComNumber(std::string_view name) {
    if (name.size() < 4 || asciiUpper(name[0]) != 'C' || asciiUpper(name[1]) != 'O' ||
        asciiUpper(name[2]) != 'M') {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(3);
    if (digits.size() > 3 || digits.front() == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
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

// The entry a line holds (without its '\n'), or nothing for a comment, a blank or an ignored line.
std::optional<MapEntry> parseLine(std::string_view line) {
    const std::string_view content = trim(line);
    if (content.empty() || content.front() == '#') {
        return std::nullopt;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<int> number = parseComNumber(trim(content.substr(0, equals)));
    const std::string_view path = trim(content.substr(equals + 1));
    if (!number || path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    return MapEntry{*number, std::string(path)};
}

// Calls visit(line, lineEnd) for each line: the line without its '\n', and the '\n' or "" for a last line
// without one.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            visit(text, std::string_view{});
            return;
        }
        visit(text.substr(0, end), text.substr(end, 1));
        text.remove_prefix(end + 1);
    }
}

bool isActiveFor(std::string_view line, int portNumber) {
    const std::optional<MapEntry> entry = parseLine(line);
    return entry && entry->portNumber == portNumber;
}

std::string entryLine(int portNumber, std::string_view devicePath) {
    return "COM" + std::to_string(portNumber) + "=" + std::string(devicePath);
}

} // namespace

std::optional<int> parseComName(std::string_view name) {
    if (name.starts_with(kDeviceNamespacePrefix)) {
        name.remove_prefix(kDeviceNamespacePrefix.size());
    }
    return parseComNumber(name);
}

std::vector<MapEntry> readMapEntries(std::string_view text) {
    std::vector<MapEntry> entries;
    forEachLine(text, [&](std::string_view line, std::string_view) {
        if (std::optional<MapEntry> entry = parseLine(line)) {
            entries.push_back(std::move(*entry));
        }
    });
    return entries;
}

std::optional<std::string> mappedPath(std::string_view text, int portNumber) {
    for (MapEntry& entry : readMapEntries(text)) {
        if (entry.portNumber == portNumber) {
            return std::move(entry.devicePath);
        }
    }
    return std::nullopt;
}

std::string mapTargetProblem(std::string_view devicePath) {
    if (devicePath.empty() || devicePath.front() != '/') {
        return "not an absolute path";
    }
    if (devicePath.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos) {
        return "a line break or NUL in the path";
    }
    if (kBlanks.find(devicePath.back()) != std::string_view::npos) {
        return "blanks at the end of the path";
    }
    return {};
}

std::string mapPort(std::string_view text, int portNumber, std::string_view devicePath) {
    std::string result;
    result.reserve(text.size() + devicePath.size() + 16);
    bool replaced = false;
    forEachLine(text, [&](std::string_view line, std::string_view lineEnd) {
        if (!replaced && isActiveFor(line, portNumber)) {
            result += entryLine(portNumber, devicePath);
            // A CRLF file keeps its CR on the line it gets back.
            if (line.ends_with('\r')) {
                result += '\r';
            }
            replaced = true;
        } else {
            result += line;
        }
        result += lineEnd;
    });
    if (!replaced) {
        const std::string_view lineEnd = text.ends_with("\r\n") ? "\r\n" : "\n";
        if (!text.empty() && !text.ends_with('\n')) {
            result += lineEnd;
        }
        result += entryLine(portNumber, devicePath);
        result += lineEnd;
    }
    return result;
}

std::string unmapPort(std::string_view text, int portNumber) {
    std::string result;
    result.reserve(text.size());
    forEachLine(text, [&](std::string_view line, std::string_view lineEnd) {
        if (!isActiveFor(line, portNumber)) {
            result += line;
            result += lineEnd;
        }
    });
    return result;
}
