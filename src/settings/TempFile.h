// A temporary file next to the file it will replace; removed unless it was renamed into place.
#pragma once

#include "settings/UniqueFd.h"

#include <string>

class TempFile {
public:
    // Creates a new, empty file in directory with the given mode (before the umask); check valid().
    TempFile(const std::string& directory, const std::string& baseName, unsigned mode);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // errno of the failed creation, for telling a locked directory from other failures.
    int creationError() const { return m_creationError; }
    // Flushes to disk, closes, and renames over target; the file is no longer ours afterwards.
    bool commit(const std::string& target);

private:
    UniqueFd m_fd;
    std::string m_path;
    int m_creationError = 0;
};
