// The program's chief header: the two working paths fixed at start-up.
#pragma once

#include <string>

// The working directory as the platform reported it at start-up.
extern std::string g_strAppDir;
// g_strAppDir + "/Option.ini"; defined with the settings operations that read it.
extern std::string g_strIniPath;

// The process's working directory exactly as getcwd reports it, of any length; "" when it cannot be
// determined.
std::string queryCurrentDirectory();
