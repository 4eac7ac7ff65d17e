#include "settings/ProfileFile.h"

#include "common/FileReplacement.h"
#include "settings/IniFile.h"

bool storeProfileEntries(const std::string& path, const std::vector<ProfileEntry>& entries) {
    std::vector<const ProfileEntry*> storable;
    for (const auto& entry : entries) {
        if (isStorableProfileEntry(entry.section, entry.key, entry.value)) {
            storable.push_back(&entry);
        }
    }
    const bool allStorable = storable.size() == entries.size();
    if (storable.empty()) {
        return false;
    }
    bool refused = false;
    const auto edit = [&](const std::optional<std::string>& oldBytes) -> std::optional<std::string> {
        const std::string& bytes = oldBytes ? *oldBytes : std::string{};
        const ProfileEncoding encoding = detectProfileEncoding(bytes);
        const std::string oldText = decodeProfileText(bytes);
        // A UTF-16 file whose text does not survive the trip through the code page is left alone.
        if (encodeProfileText(oldText, encoding) != bytes) {
            refused = true;
            return std::nullopt;
        }
        std::string newText = oldText;
        for (const auto* entry : storable) {
            newText = writeProfileValue(newText, entry->section, entry->key, entry->value);
        }
        if (oldBytes && newText == oldText) {
            return std::nullopt;
        }
        auto newBytes = encodeProfileText(newText, encoding);
        refused = !newBytes;
        return newBytes;
    };
    return common::replaceFileBytes(path, edit, kLargestProfileFile) == 0 && !refused && allStorable;
}
