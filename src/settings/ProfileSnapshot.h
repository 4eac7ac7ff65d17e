// One reading of the settings file, for a run of reads that must see one state of it and read it only once.
#pragma once

#include <string>

class ProfileSnapshot {
public:
    // Reads the whole file now; an absent or unreadable file reads as empty, so every value is its default.
    explicit ProfileSnapshot(const std::string& path);

    // As IniReadString: at most 127 bytes, cut before unescaping.
    std::string readString(const std::string& section, const std::string& key, const std::string& def) const;
    // As IniReadInt.
    int readInt(const std::string& section, const std::string& key, int def) const;

private:
    std::string m_text;
};
