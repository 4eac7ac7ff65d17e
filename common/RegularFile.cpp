// A FIFO or a device in place of a file must not hang a caller, and opening a serial device (which raises its
// modem lines) is never a side effect of reading.
#include "common/RegularFile.h"

#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace common {
namespace {

// Read in steps of this much beyond what the file's size announced (sysfs attributes announce a page).
constexpr std::size_t kReadStep = 65536;

FileBytes failed(int error) {
    FileBytes result;
    result.error = error;
    if (error != ENOENT && error != ENOTDIR) {
        result.outcome = FileBytes::Outcome::Skipped;
        result.problem = "cannot be read: " + errnoText(error);
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
    FileBytes result = skipped("larger than " + std::to_string(limit) + " bytes");
    result.error = EFBIG;
    return result;
}

} // namespace

OpenedFile openRegularFile(const std::string& path) {
    OpenedFile opened;
    // Checked before opening, so a FIFO or a device is never opened at all.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        opened.refusal = failed(errno);
        return opened;
    }
    if (!S_ISREG(before.st_mode)) {
        opened.refusal = notRegular(before.st_mode);
        return opened;
    }
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        opened.refusal = failed(errno);
        return opened;
    }
    // Again on what was opened: the path may lead elsewhere by now.
    if (::fstat(file.get(), &opened.status) != 0) {
        opened.refusal = failed(errno);
        return opened;
    }
    if (!S_ISREG(opened.status.st_mode)) {
        opened.refusal = notRegular(opened.status.st_mode);
        return opened;
    }
    if (opened.status.st_dev != before.st_dev || opened.status.st_ino != before.st_ino) {
        opened.refusal = skipped("replaced while it was opened");
        return opened;
    }
    opened.fd = std::move(file);
    return opened;
}

FileBytes readRegularFile(const std::string& path, std::size_t limit) {
    OpenedFile file = openRegularFile(path);
    if (!file.fd.valid()) {
        return std::move(file.refusal);
    }
    const auto size = static_cast<std::uintmax_t>(file.status.st_size);
    if (size > limit) {
        return tooLarge(limit);
    }
    FileBytes result;
    result.outcome = FileBytes::Outcome::Read;
    std::string& bytes = result.bytes;
    // One byte more than announced, so that the end shows without a second buffer.
    bytes.resize(static_cast<std::size_t>(size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // A file that grows while it is read is cut off at the limit, not followed.
            if (done > limit) {
                return tooLarge(limit);
            }
            bytes.resize(done + std::min(kReadStep, limit - done + 1));
        }
        const ssize_t count = ::read(file.fd.get(), bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return failed(errno);
        }
        if (count == 0) {
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    if (done > limit) {
        return tooLarge(limit);
    }
    bytes.resize(done);
    return result;
}

const char* fileKind(mode_t mode) {
    static constexpr std::pair<mode_t, const char*> kKinds[] = {{S_IFREG, "a regular file"},
                                                                {S_IFDIR, "a directory"},
                                                                {S_IFIFO, "a FIFO"},
                                                                {S_IFSOCK, "a socket"},
                                                                {S_IFCHR, "a character device"}};
    const auto* kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const auto& entry) { return entry.first == (mode & S_IFMT); });
    return kind != std::end(kKinds) ? kind->second : "a block device";
}

} // namespace common
