// The profile (INI) format: finding and replacing one value in file content held in memory, no file access.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The stored value of key in the first section of that name, quotes removed; nullopt when the section or the
// key is absent, or when the key's first line has no "=".
std::optional<std::string> findProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);
// A fallback value as the profile read hands it out: trailing blanks and one pair of surrounding quotes
// removed.
std::string profileDefault(std::string_view def);
// The stored value, or the cleaned-up default when there is none.
std::string readProfileValue(std::string_view content, std::string_view section, std::string_view key,
                             std::string_view def);

// Leading blanks, sign, 0x/0o/0b prefix, digits up to the first other character, wrapped into 32 bits.
int parseProfileInt(std::string_view text);
// The integer read: absent or empty values give def, anything else goes through parseProfileInt.
int readProfileInt(std::string_view content, std::string_view section, std::string_view key, int def);

// Whether a section, key and value can be stored without breaking the line structure of the file.
bool isStorableProfileEntry(std::string_view section, std::string_view key, std::string_view value);
// The content after storing value under key: in place when the key exists, right after the section's last
// entry when the section does, as a new section at the end otherwise. Every other byte is kept; new lines end
// in CR LF. Returns the content unchanged when the key already holds value. Check isStorableProfileEntry
// first.
std::string writeProfileValue(std::string_view content, std::string_view section, std::string_view key,
                              std::string_view value);

// How the bytes of a profile file hold its text.
enum class ProfileEncoding {
    Bytes,   // 8-bit text in the system code page, with or without a UTF-8 mark
    Utf16Le, // with its FF FE mark
    Utf16Be, // with its FE FF mark
};
ProfileEncoding detectProfileEncoding(std::string_view raw);
// UTF-16 content converted to the system code page (unmappable characters become "?"); other content as is.
std::string decodeProfileText(std::string_view raw);
// The system code page text turned back into the file's encoding, mark included; nullopt when it cannot be.
std::optional<std::string> encodeProfileText(std::string_view text, ProfileEncoding encoding);
