// The settings operations. The window reads through one snapshot of the file and writes through one update,
// so each of its runs of reads or writes touches the file once; the path forms read or write one value at a
// time.
#pragma once

#include <string>

class ProfileSnapshot;
class ProfileUpdate;

// Path of the settings file; set once at start-up (tests may set it).
extern std::string g_strIniPath;

// Reads with a 128-byte buffer: at most 127 bytes, cut before unescaping.
std::string IniReadString(const ProfileSnapshot& file, const std::string& section, const std::string& key,
                          const std::string& def);
int IniReadInt(const ProfileSnapshot& file, const std::string& section, const std::string& key, int def);
// Adds value, as passed (no escaping), to the update; it reaches the file when the update is committed.
void IniWriteString(ProfileUpdate& update, const std::string& section, const std::string& key,
                    const std::string& value);
// "%d" of value through IniWriteString.
void IniWriteInt(ProfileUpdate& update, const std::string& section, const std::string& key, int value);

// The same, each on its own reading or its own replacement of the file at path. Only tests and the fuzz
// targets call these and the g_strIniPath forms below; the program goes through loadCommSettings and
// saveCommSettings, which use the forms above.
std::string IniReadString(const std::string& section, const std::string& key, const std::string& def,
                          const std::string& path);
int IniReadInt(const std::string& section, const std::string& key, int def, const std::string& path);
// False when nothing could be written.
bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path);
bool IniWriteInt(const std::string& section, const std::string& key, int value, const std::string& path);

// The same on g_strIniPath.
std::string IniReadString(const std::string& section, const std::string& key, const std::string& def);
int IniReadInt(const std::string& section, const std::string& key, int def);
bool IniWriteString(const std::string& section, const std::string& key, const std::string& value);
bool IniWriteInt(const std::string& section, const std::string& key, int value);

// Turns \n, \t, \r and \" into their characters, in that order, one full pass each.
std::string UnescapeProfileValue(const std::string& text);
// The same, stepping through the text in the given code page instead of the system's.
namespace common {
enum class CodePage;
}
std::string UnescapeProfileValue(const std::string& text, common::CodePage codePage);
