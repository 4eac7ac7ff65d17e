// The settings operations: one value at a time, straight to the profile file, no cache.
#include "settings/Profile.h"

#include "settings/CodePage.h"
#include "settings/ProfileFile.h"
#include "settings/ProfileSnapshot.h"

#include <cstdio>

std::string g_strIniPath;

namespace {

// One full left-to-right pass turning backslash + escape into replacement.
std::string replaceEscape(const std::string& text, char escape, char replacement, CodePage codePage) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = charLength(text, pos, codePage);
        if (length == 1 && text[pos] == '\\' && pos + 1 < text.size() && text[pos + 1] == escape) {
            result += replacement;
            pos += 2;
            continue;
        }
        result.append(text, pos, length);
        pos += length;
    }
    return result;
}

} // namespace

std::string UnescapeProfileValue(const std::string& text) {
    return UnescapeProfileValue(text, systemCodePage());
}

std::string UnescapeProfileValue(const std::string& text, CodePage codePage) {
    std::string result = replaceEscape(text, 'n', '\n', codePage);
    result = replaceEscape(result, 't', '\t', codePage);
    result = replaceEscape(result, 'r', '\r', codePage);
    return replaceEscape(result, '"', '"', codePage);
}

std::string IniReadString(const std::string& section, const std::string& key, const std::string& def,
                          const std::string& path) {
    return ProfileSnapshot(path).readString(section, key, def);
}

int IniReadInt(const std::string& section, const std::string& key, int def, const std::string& path) {
    return ProfileSnapshot(path).readInt(section, key, def);
}

bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path) {
    return storeProfileValue(path, section, key, value);
}

bool IniWriteInt(const std::string& section, const std::string& key, int value, const std::string& path) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return IniWriteString(section, key, text, path);
}

std::string IniReadString(const std::string& section, const std::string& key, const std::string& def) {
    return IniReadString(section, key, def, g_strIniPath);
}

int IniReadInt(const std::string& section, const std::string& key, int def) {
    return IniReadInt(section, key, def, g_strIniPath);
}

bool IniWriteString(const std::string& section, const std::string& key, const std::string& value) {
    return IniWriteString(section, key, value, g_strIniPath);
}

bool IniWriteInt(const std::string& section, const std::string& key, int value) {
    return IniWriteInt(section, key, value, g_strIniPath);
}
