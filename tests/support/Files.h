// Whole-file reads and writes for tests, and the temporary files a save may leave behind.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Replaces the file with exactly bytes; throws when that fails.
void WriteBytes(const std::string& path, std::string_view bytes);
// The file's bytes; a missing or unreadable file reads as "<absent>".
std::string ReadBytes(const std::string& path);
// The names of the temporary files a save leaves next to its file (".<name>.<random>.tmp") in directory.
std::vector<std::string> TempFilesIn(const std::string& directory);
