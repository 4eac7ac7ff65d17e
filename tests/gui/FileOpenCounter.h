// Counts how often Option.ini in a folder is opened for reading and replaced, through inotify.
#pragma once

#include <QString>
#include <utility>

// Reads of Option.ini, and versions of it moved into place or closed after writing.
using FileOpens = std::pair<int, int>;

class FileOpenCounter {
public:
    explicit FileOpenCounter(const QString& folder);
    ~FileOpenCounter();
    FileOpenCounter(const FileOpenCounter&) = delete;
    FileOpenCounter& operator=(const FileOpenCounter&) = delete;

    // The events since the last call.
    FileOpens Take();

private:
    int m_fd = -1;
};
