// Fuzzes the profile reader: arbitrary file bytes, section and key must never crash, hang or read out of
// bounds, and must find what the reading rules, applied the slow and obvious way, find.
#include "settings/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string_view>
#include <vector>

namespace {

bool IsBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlankChar(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlankChar(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Every line split off first (CR LF, CR and LF each end one), then parsed whole; nothing skipped.
std::vector<std::string_view> SplitLines(std::string_view content) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    for (std::size_t pos = 0; pos < content.size(); ++pos) {
        if (content[pos] == '\r' || content[pos] == '\n') {
            lines.push_back(content.substr(begin, pos - begin));
            if (content[pos] == '\r' && pos + 1 < content.size() && content[pos + 1] == '\n') {
                ++pos;
            }
            begin = pos + 1;
        }
    }
    lines.push_back(content.substr(begin));
    return lines;
}

std::optional<std::string> ModelFind(std::string_view content, std::string_view section,
                                     std::string_view key) {
    if (content.starts_with("\xEF\xBB\xBF")) {
        content.remove_prefix(3);
    }
    section = Trimmed(section);
    key = Trimmed(key);
    bool inSection = false;
    for (const std::string_view line : SplitLines(content)) {
        const std::string_view text = Trimmed(line.substr(0, line.find('\0')));
        if (text.empty()) {
            continue;
        }
        const std::size_t close = text.rfind(']');
        if (text.front() == '[' && close != std::string_view::npos) {
            if (inSection) {
                return std::nullopt; // only the first section of the name counts
            }
            inSection = EqualNoCase(Trimmed(text.substr(1, close - 1)), section);
            continue;
        }
        const std::size_t equals = text.find('=');
        if (!inSection || !EqualNoCase(Trimmed(text.substr(0, equals)), key)) {
            continue;
        }
        if (equals == std::string_view::npos) {
            return std::nullopt; // the key without "=" hides any later line of it
        }
        std::string_view value = Trimmed(text.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string{value};
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string def = input.ConsumeRandomLengthString(16);
    const std::string raw = input.ConsumeRemainingBytesAsString();

    static_cast<void>(detectProfileEncoding(raw));
    const std::string content = decodeProfileText(raw);
    const auto found = findProfileValue(content, section, key);
    if (found != ModelFind(content, section, key)) {
        std::abort();
    }
    const std::string value = readProfileValue(content, section, key, def);
    // The read hands out the stored value when there is one, the cleaned default otherwise.
    if (value != (found ? *found : profileDefault(def))) {
        std::abort();
    }
    // A stored value is a piece of one line: never longer than the content, never across a line end.
    if (found && (found->size() > content.size() || found->find_first_of("\r\n") != std::string::npos)) {
        std::abort();
    }
    static_cast<void>(readProfileInt(content, section, key, 7));
    static_cast<void>(parseProfileInt(raw));
    return 0;
}
