// The settings operations: one value at a time, straight to the profile file, no cache.
#pragma once

#include <string>

// Path of the settings file; set once at start-up (tests may set it).
extern std::string g_strIniPath;

// Reads with a 128-byte buffer: at most 127 bytes, cut before unescaping.
std::string IniReadString(const std::string& section, const std::string& key, const std::string& def,
                          const std::string& path);
int IniReadInt(const std::string& section, const std::string& key, int def, const std::string& path);
// Stores value as passed (no escaping). False when nothing could be written.
bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path);
// "%d" of value through IniWriteString.
bool IniWriteInt(const std::string& section, const std::string& key, int value, const std::string& path);

// The same on g_strIniPath.
std::string IniReadString(const std::string& section, const std::string& key, const std::string& def);
int IniReadInt(const std::string& section, const std::string& key, int def);
bool IniWriteString(const std::string& section, const std::string& key, const std::string& value);
bool IniWriteInt(const std::string& section, const std::string& key, int value);

// Turns \n, \t, \r and \" into their characters, in that order, one full pass each.
std::string UnescapeProfileValue(const std::string& text);
// The same, stepping through the text in the given code page instead of the system's.
enum class CodePage;
std::string UnescapeProfileValue(const std::string& text, CodePage codePage);
