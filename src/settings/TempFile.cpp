// A temporary file next to the file it will replace; removed unless it was renamed into place.
#include "settings/TempFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

TempFile::TempFile(const std::string& directory, const std::string& baseName, unsigned mode) {
    std::random_device random;
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        const std::string path = directory + "/." + baseName + "." + suffix + ".tmp";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd = UniqueFd{fd};
            m_path = path;
            return;
        }
        m_creationError = errno;
        if (errno != EEXIST) {
            return;
        }
    }
}

TempFile::~TempFile() {
    if (!m_path.empty()) {
        m_fd.close();
        ::unlink(m_path.c_str());
    }
}

bool TempFile::commit(const std::string& target) {
    if (!valid() || ::fsync(m_fd.get()) != 0 || !m_fd.close()) {
        return false;
    }
    if (::rename(m_path.c_str(), target.c_str()) != 0) {
        return false;
    }
    m_path.clear();
    return true;
}
