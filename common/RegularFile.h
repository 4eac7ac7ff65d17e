// Reads a small file of the user's or the system's without blocking on it and without opening anything else.
#pragma once

#include "common/UniqueFd.h"

#include <cstddef>
#include <string>
#include <sys/stat.h>

namespace common {

struct FileBytes {
    enum class Outcome { Read, Missing, Skipped };
    Outcome outcome = Outcome::Missing;
    std::string bytes;   // the whole file, when Read
    std::string problem; // why it was skipped, in plain words ("a FIFO, not a regular file")
    int error = 0;       // the errno value of the call that failed, when one did
};

// The regular file at path, open for reading: fd is valid and status is the open file's. Nothing but a
// regular file is ever opened, and the open can neither block (a FIFO or a terminal swapped in meanwhile)
// nor make a terminal the controlling one; a file that is no longer the one looked at before the open is
// refused. When fd is not valid, refusal says why: Missing for no such file (a dangling link or a missing
// folder included), Skipped with the problem otherwise.
struct OpenedFile {
    UniqueFd fd;
    struct stat status {};
    FileBytes refusal;
};
OpenedFile openRegularFile(const std::string& path);

// The bytes of the regular file at path when it holds at most limit of them, opened as above; a file past
// limit is Skipped with error EFBIG, and one that grows past it while it is read as well.
FileBytes readRegularFile(const std::string& path, std::size_t limit);

// "a FIFO", "a directory", ... for the file type in mode, as the user would call it.
const char* fileKind(mode_t mode);

} // namespace common
