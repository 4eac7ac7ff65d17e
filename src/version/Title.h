// The window title: the program file's name and its product version.
#pragma once

#include "common/CodePage.h"

#include <string>

// "a.b.c.d" from the fixed version record of the file at path, or "" when there is none.
std::string GetProductVersionString(const std::string& path);
// The file name of path without its last extension (the whole file name when it has none).
std::string programNameFromPath(const std::string& path, common::CodePage codePage);
// "%s-%s" of the running program's name and version.
std::string MakeWindowTitle();
