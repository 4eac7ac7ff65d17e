// Reading and safely replacing the profile file on disk; the format itself lives in IniFile.h.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The file's text in the system code page: UTF-16 files converted, others as they are; empty when absent.
std::string readProfileText(const std::string& path);
// One value to store under a key of a section.
struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
};
// Stores several values with one replacement of the file under one lock, so another instance sees all of them
// or none. The file ends as if each had been stored in turn; entries that cannot be stored are skipped and
// make the result false. Whenever the file itself cannot be written, it stays byte-identical.
bool storeProfileEntries(const std::string& path, const std::vector<ProfileEntry>& entries);
// The same for values of one section.
bool storeProfileValues(const std::string& path, const std::string& section,
                        const std::vector<std::pair<std::string, std::string>>& entries);

// Replaces the file at path (where a chain of symbolic links ends; the links stay) with what edit makes of
// its bytes, the way the settings are stored: under a lock on its folder, through a temporary file flushed
// and renamed into place with the old file's mode, owner and group, so a reader sees the old bytes or the
// new, never a mix. A file whose owner or group the writer cannot give a new file (another user's, or a group
// it is not in) is rewritten where it is instead, room reserved first, so saving never narrows who may write
// it. edit gets nullopt for a file that does not exist yet and returns nullopt to leave the file as it is. A
// path that is not a regular writable file is left alone. Returns 0, or the errno value of what failed.
int replaceFileBytes(
    const std::string& path,
    const std::function<std::optional<std::string>(const std::optional<std::string>& oldBytes)>& edit);
