#include "settings/Profile.h"

#include "common/CodePage.h"
#include "settings/IniFile.h"
#include "settings/ProfileSnapshot.h"
#include "settings/ProfileUpdate.h"

std::string g_strIniPath;

namespace {

// The read buffer of the profile read is 128 bytes, terminator included.
constexpr std::size_t kReadBufferBytes = 128;

// One full left-to-right pass turning backslash + escape into replacement.
std::string replaceEscape(const std::string& text, char escape, char replacement, common::CodePage codePage) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = common::charLength(text, pos, codePage);
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
    return UnescapeProfileValue(text, common::systemCodePage());
}

std::string UnescapeProfileValue(const std::string& text, common::CodePage codePage) {
    std::string result = replaceEscape(text, 'n', '\n', codePage);
    result = replaceEscape(result, 't', '\t', codePage);
    result = replaceEscape(result, 'r', '\r', codePage);
    return replaceEscape(result, '"', '"', codePage);
}

std::string IniReadString(const ProfileSnapshot& file, const std::string& section, const std::string& key,
                          const std::string& def) {
    std::string value = readProfileValue(file.text(), section, key, def);
    if (value.size() > kReadBufferBytes - 1) {
        value.resize(kReadBufferBytes - 1);
    }
    return UnescapeProfileValue(value);
}

int IniReadInt(const ProfileSnapshot& file, const std::string& section, const std::string& key, int def) {
    return readProfileInt(file.text(), section, key, def);
}

void IniWriteString(ProfileUpdate& update, const std::string& section, const std::string& key,
                    const std::string& value) {
    update.add(section, key, value);
}

void IniWriteInt(ProfileUpdate& update, const std::string& section, const std::string& key, int value) {
    IniWriteString(update, section, key, std::to_string(value));
}

std::string IniReadString(const std::string& section, const std::string& key, const std::string& def,
                          const std::string& path) {
    return IniReadString(ProfileSnapshot(path), section, key, def);
}

int IniReadInt(const std::string& section, const std::string& key, int def, const std::string& path) {
    return IniReadInt(ProfileSnapshot(path), section, key, def);
}

bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path) {
    ProfileUpdate update(path);
    IniWriteString(update, section, key, value);
    return update.commit();
}

bool IniWriteInt(const std::string& section, const std::string& key, int value, const std::string& path) {
    ProfileUpdate update(path);
    IniWriteInt(update, section, key, value);
    return update.commit();
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
