#include "settings/ProfileSnapshot.h"

#include "settings/IniFile.h"
#include "settings/ProfileFile.h"

ProfileSnapshot::ProfileSnapshot(const std::string& path) : m_text(readProfileText(path)) {}

ProfileSnapshot ProfileSnapshot::fromBytes(std::string_view raw) {
    ProfileSnapshot snapshot;
    snapshot.m_text = decodeProfileText(raw);
    return snapshot;
}
