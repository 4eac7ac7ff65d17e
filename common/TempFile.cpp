#include "common/TempFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {
namespace {

constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kRandomDigits = 8;

bool isTempNameFor(const std::string& name, const std::string& baseName) {
    const std::string prefix = "." + baseName + ".";
    if (name.size() != prefix.size() + kRandomDigits + kSuffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(kSuffix)) {
        return false;
    }
    return std::ranges::all_of(std::string_view(name).substr(prefix.size(), kRandomDigits),
                               [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// Whether path still names the file open as fd (a cleaner may have removed it before we locked it).
bool stillNamed(const std::string& path, int fd) {
    struct stat byName {};
    struct stat byFd {};
    return ::stat(path.c_str(), &byName) == 0 && ::fstat(fd, &byFd) == 0 && byName.st_dev == byFd.st_dev &&
           byName.st_ino == byFd.st_ino;
}

} // namespace

TempFile::TempFile(const std::string& directory, const std::string& baseName, unsigned mode) {
    std::random_device random;
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        const std::string path = directory + "/." + baseName + "." + suffix + std::string{kSuffix};
        const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (created >= 0) {
            // The lock tells removeAbandoned the file is in use; it goes when we close or are killed.
            UniqueFd file{created};
            if (::flock(created, LOCK_EX) != 0) {
                m_creationError = errno;
                ::unlink(path.c_str());
                return;
            }
            if (stillNamed(path, created)) {
                m_fd = std::move(file);
                m_path = path;
                return;
            }
            m_creationError = EEXIST;
            continue;
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
    if (!valid() || ::fsync(m_fd.get()) != 0) {
        return false;
    }
    // Renamed while still open and locked, so no cleaner can take it for abandoned in between.
    if (::rename(m_path.c_str(), target.c_str()) != 0) {
        return false;
    }
    m_path.clear();
    // The new file is in place and on disk; a close failing now cannot take that back, so the save stands.
    const bool closed = m_fd.close();
    static_cast<void>(closed);
    return true;
}

void TempFile::removeAbandoned(const std::string& directory, const std::string& baseName) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isTempNameFor(name, baseName)) {
            continue;
        }
        const std::string path = directory + "/" + name;
        const UniqueFd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY)};
        struct stat status {};
        // Unlinked while we hold the lock, so an owner that locks after us sees its name gone and starts
        // over.
        if (file.valid() && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode) &&
            ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 && stillNamed(path, file.get())) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

} // namespace common
