// One reading of the settings file, for a run of reads that must see one state of it and read it only once.
#pragma once

#include <string>
#include <string_view>

class ProfileSnapshot {
public:
    // Reads the whole file now; an absent or unreadable file reads as empty, so every value is its default.
    explicit ProfileSnapshot(const std::string& path);
    // The bytes of a file read by the caller (with a size cap, say), in any encoding the file may have.
    static ProfileSnapshot fromBytes(std::string_view raw);

    // The file's text in the system code page.
    const std::string& text() const { return m_text; }

private:
    ProfileSnapshot() = default;

    std::string m_text;
};
