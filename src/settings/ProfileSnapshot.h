// One reading of the settings file, for a run of reads that must see one state of it and read it only once.
#pragma once

#include "settings/ProfileFile.h"

#include <cstddef>
#include <string>

class ProfileSnapshot {
public:
    // Reads the whole file now; an absent, unreadable or too large file reads as empty, so every value is its
    // default.
    explicit ProfileSnapshot(const std::string& path, std::size_t largestFile = kLargestProfileFile);

    // The file's text in the system code page: UTF-16 files converted, others as they are.
    const std::string& text() const { return m_text; }
    // Whether the file was larger than largestFile, which a caller may take for no settings file at all.
    bool tooLarge() const { return m_tooLarge; }

private:
    std::string m_text;
    bool m_tooLarge = false;
};
