// A temporary file next to the file it will replace; removed unless it was renamed into place.
#pragma once

#include "common/UniqueFd.h"

#include <string>

namespace common {

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
    // Flushes to disk, renames over target and closes; the file is no longer ours afterwards. Succeeds once
    // the rename has, whatever the close says.
    bool commit(const std::string& target);
    // Removes the temporary files for baseName that a killed process left in directory. A file in use is
    // locked by its owner and stays.
    static void removeAbandoned(const std::string& directory, const std::string& baseName);

private:
    UniqueFd m_fd;
    std::string m_path;
    int m_creationError = 0;
};

} // namespace common
