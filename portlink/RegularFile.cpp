// Bounded reading of the map files and sysfs attributes: a FIFO or a device in their place must not hang a
// caller, and opening a serial device (which raises its modem lines) is never a side effect of reading.
#include "RegularFile.h"

#include "common/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellport {
namespace {

FileBytes failed(int error) {
    FileBytes result;
    if (error != ENOENT && error != ENOTDIR) {
        result.outcome = FileBytes::Outcome::Skipped;
        result.problem = std::string("cannot be read: ") + std::strerror(error);
    }
    return result;
}

FileBytes skipped(std::string problem) {
    FileBytes result;
    result.outcome = FileBytes::Outcome::Skipped;
    result.problem = std::move(problem);
    return result;
}

FileBytes notRegular(mode_t mode) {
    return skipped(std::string(fileKind(mode)) + ", not a regular file");
}

FileBytes tooLarge(std::size_t limit) {
    return skipped("larger than " + std::to_string(limit) + " bytes");
}

} // namespace

FileBytes readRegularFile(const std::string& path, std::size_t limit) {
    // Checked before opening, so a FIFO or a device is never opened at all.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return failed(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return notRegular(status.st_mode);
    }
    const common::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        return failed(errno);
    }
    // Again on what was opened: the path may lead elsewhere by now.
    if (::fstat(file.get(), &status) != 0) {
        return failed(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return notRegular(status.st_mode);
    }
    if (static_cast<std::size_t>(status.st_size) > limit) {
        return tooLarge(limit);
    }
    FileBytes result;
    result.outcome = FileBytes::Outcome::Read;
    result.bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return failed(errno);
        }
        if (count == 0) {
            return result;
        }
        // A file that grows while it is read is cut off here, not followed.
        if (static_cast<std::size_t>(count) > limit - result.bytes.size()) {
            return tooLarge(limit);
        }
        result.bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

const char* fileKind(mode_t mode) {
    if (S_ISREG(mode)) {
        return "a regular file";
    }
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    return "a block device";
}

} // namespace vellport
