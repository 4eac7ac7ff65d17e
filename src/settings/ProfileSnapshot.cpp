// One reading of the settings file, for a run of reads that must see one state of it and read it only once.
#include "settings/ProfileSnapshot.h"

#include "settings/IniFile.h"
#include "settings/Profile.h"
#include "settings/ProfileFile.h"

namespace {

// The read buffer of the profile read is 128 bytes, terminator included.
constexpr std::size_t kReadBufferBytes = 128;

} // namespace

ProfileSnapshot::ProfileSnapshot(const std::string& path) : m_text(readProfileText(path)) {}

std::string ProfileSnapshot::readString(const std::string& section, const std::string& key,
                                        const std::string& def) const {
    std::string value = readProfileValue(m_text, section, key, def);
    if (value.size() > kReadBufferBytes - 1) {
        value.resize(kReadBufferBytes - 1);
    }
    return UnescapeProfileValue(value);
}

int ProfileSnapshot::readInt(const std::string& section, const std::string& key, int def) const {
    return readProfileInt(m_text, section, key, def);
}
