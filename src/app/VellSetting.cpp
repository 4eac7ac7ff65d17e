#include "VellSetting.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

std::string g_strAppDir;

std::string queryCurrentDirectory() {
    // Directories may be far longer than the 260 bytes the original allowed: grow until the path fits.
    std::vector<char> buffer(256);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (std::size_t{1} << 24)) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}
