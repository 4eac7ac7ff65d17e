#include "common/FileReplacement.h"

#include "common/RegularFile.h"
#include "common/TempFile.h"
#include "common/UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace common {
namespace {

constexpr int kMaxLinkHops = 40; // as the kernel's own limit for path resolution

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a chain of symbolic links ends at, so a write replaces the target and leaves the link a link.
std::optional<std::string> resolveLinks(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::string target(static_cast<std::size_t>(status.st_size) + 256, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            return std::nullopt;
        }
        target.resize(static_cast<std::size_t>(length));
        path = target.front() == '/' ? target : directoryOf(path) + "/" + target;
    }
    return std::nullopt;
}

bool writeAll(int fd, const std::string& bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool isReadOnly(const std::string& path, const struct stat& status) {
    // The mode bits count even for root, as the read-only attribute does on Windows.
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

enum class Replacement { Done, Failed, OwnershipNotKept };

// Hands the new file the old one's owner and group, so saving never narrows who may write it. Root can give
// any; anyone else keeps the owner only when it is them and the group only when they belong to it.
bool keepOwnership(int fd, const struct stat& existing) {
    if (::geteuid() == 0) {
        return ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
    }
    if (existing.st_uid != ::geteuid()) {
        return false;
    }
    struct stat created {};
    return ::fstat(fd, &created) == 0 &&
           (created.st_gid == existing.st_gid || ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) == 0);
}

Replacement replaceThroughTempFile(TempFile& temp, const std::string& target, const std::string& bytes,
                                   const struct stat* existing) {
    if (existing != nullptr && !keepOwnership(temp.fd(), *existing)) {
        return Replacement::OwnershipNotKept;
    }
    if (!writeAll(temp.fd(), bytes, 0)) {
        return Replacement::Failed;
    }
    // Only now, and after the change of owner (which clears the set-id bits), so no one reads a half-written
    // file.
    if (existing != nullptr && ::fchmod(temp.fd(), existing->st_mode & 07777) != 0) {
        return Replacement::Failed;
    }
    if (!temp.commit(target)) {
        return Replacement::Failed;
    }
    UniqueFd directory{::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.valid()) {
        ::fsync(
            directory.get()); // the rename is done; a failed directory flush changes nothing for the caller
    }
    return Replacement::Done;
}

// For a writable file in a directory that takes no new files: rewrite it where it is.
bool rewriteInPlace(const std::string& target, const std::string& bytes, off_t oldSize) {
    UniqueFd file{::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (!file.valid()) {
        return false;
    }
    const auto newSize = static_cast<off_t>(bytes.size());
    // Reserve the room first, so a full disk fails before a single old byte is overwritten.
    if (newSize > oldSize && ::posix_fallocate(file.get(), 0, newSize) != 0) {
        // A partial reservation may have grown the file; the old bytes are all still there.
        const bool restored = ::ftruncate(file.get(), oldSize) == 0;
        static_cast<void>(restored);
        return false;
    }
    return writeAll(file.get(), bytes, 0) && ::ftruncate(file.get(), newSize) == 0 &&
           ::fsync(file.get()) == 0 && file.close();
}

// Serialises each read-modify-write between processes, so two instances saving at once cannot undo each
// other's values. Locks the directory: the file itself is replaced by every save. Gives up
// waiting after a bound: a save without the lock beats a program that hangs on close.
UniqueFd lockDirectory(const std::string& directory) {
    UniqueFd lock{::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (!lock.valid()) {
        return lock;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            return UniqueFd{};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return lock;
}

} // namespace

int replaceFileBytes(
    const std::string& path,
    const std::function<std::optional<std::string>(const std::optional<std::string>& oldBytes)>& edit,
    std::size_t limit) {
    // errno of the step that failed, or EIO for one that sets none.
    const auto failure = [] { return errno != 0 ? errno : EIO; };
    const auto target = resolveLinks(path);
    if (!target) {
        return ELOOP;
    }
    const UniqueFd lock = lockDirectory(directoryOf(*target));
    struct stat status {};
    errno = 0;
    const bool exists = ::stat(target->c_str(), &status) == 0;
    if (!exists && errno != ENOENT) {
        return failure();
    }
    if (exists && !S_ISREG(status.st_mode)) {
        return S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    }
    if (exists && isReadOnly(*target, status)) {
        return EACCES;
    }
    std::optional<std::string> oldBytes;
    if (exists) {
        FileBytes old = readRegularFile(*target, limit);
        if (old.outcome != FileBytes::Outcome::Read) {
            return old.error != 0 ? old.error : EIO;
        }
        oldBytes = std::move(old.bytes);
    }
    const std::optional<std::string> newBytes = edit(oldBytes);
    if (!newBytes) {
        return 0;
    }
    {
        TempFile temp{directoryOf(*target), baseNameOf(*target), exists ? 0600u : 0666u};
        if (temp.valid()) {
            errno = 0;
            const Replacement replaced =
                replaceThroughTempFile(temp, *target, *newBytes, exists ? &status : nullptr);
            if (replaced == Replacement::Failed) {
                return failure();
            }
            if (replaced == Replacement::Done) {
                // What a save killed half-way left behind goes with the next save that works.
                TempFile::removeAbandoned(directoryOf(*target), baseNameOf(*target));
                return 0;
            }
        } else {
            const bool directoryLocked = temp.creationError() == EACCES || temp.creationError() == EPERM;
            if (!exists || !directoryLocked) {
                return temp.creationError() != 0 ? temp.creationError() : EIO;
            }
        }
    }
    // A file of another owner, or of a group the writer is not in, keeps both by being rewritten where it is.
    errno = 0;
    return rewriteInPlace(*target, *newBytes, status.st_size) ? 0 : failure();
}

} // namespace common
