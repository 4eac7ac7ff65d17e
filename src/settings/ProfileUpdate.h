// Values gathered for one replacement of the settings file, so another instance sees all of them or none.
#pragma once

#include "settings/ProfileFile.h"

#include <string>
#include <vector>

class ProfileUpdate {
public:
    explicit ProfileUpdate(std::string path);

    // Adds one value to store; the file is untouched until commit().
    void add(const std::string& section, const std::string& key, const std::string& value);
    // Stores everything added, in order, in one replacement of the file under one lock. False when not all
    // could be stored; whenever the file itself cannot be written, it stays byte-identical.
    bool commit() const;

private:
    std::string m_path;
    std::vector<ProfileEntry> m_entries;
};
