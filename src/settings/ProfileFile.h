// The profile file on disk, read whole and stored through one atomic replacement; the format itself lives in
// IniFile.h.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The most a profile file holds: far more than any settings a person keeps, yet a sparse or runaway file past
// it is read as empty and never rewritten, so it cannot exhaust memory.
inline constexpr std::size_t kLargestProfileFile = std::size_t{64} << 20;

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
