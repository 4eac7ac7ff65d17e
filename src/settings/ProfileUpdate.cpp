#include "settings/ProfileUpdate.h"

ProfileUpdate::ProfileUpdate(std::string path) : m_path(std::move(path)) {}

void ProfileUpdate::add(const std::string& section, const std::string& key, const std::string& value) {
    m_entries.push_back({section, key, value});
}

bool ProfileUpdate::commit() const {
    return storeProfileEntries(m_path, m_entries);
}
