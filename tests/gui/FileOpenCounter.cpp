// Counts how often Option.ini in a folder is opened for reading and replaced, through inotify.
#include "FileOpenCounter.h"

#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

FileOpenCounter::FileOpenCounter(const QString& folder) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (m_fd >= 0)
        ::inotify_add_watch(m_fd, folder.toLocal8Bit().constData(),
                            IN_OPEN | IN_CLOSE_NOWRITE | IN_CLOSE_WRITE | IN_MOVED_TO);
}

FileOpenCounter::~FileOpenCounter() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FileOpens FileOpenCounter::Take() {
    FileOpens counts{-1, -1};
    if (m_fd < 0)
        return counts; // no watch: matches no expectation
    counts = {0, 0};
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return counts;
        for (ssize_t offset = 0; offset < length;) {
            inotify_event event{};
            std::memcpy(&event, buffer + offset, sizeof event);
            const char* name = buffer + offset + sizeof event;
            const bool ours = event.len > 0 && std::strcmp(name, "Option.ini") == 0;
            // A read is an open that closes without writing; a replacement is a rename onto the name (the
            // closing of the renamed temporary file is not counted again).
            if (ours && (event.mask & IN_CLOSE_NOWRITE))
                ++counts.first;
            if (ours && (event.mask & IN_MOVED_TO))
                ++counts.second;
            offset += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
}
