// Reads a small file of the user's or the system's without blocking on it and without opening anything else.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace vellport {

struct FileBytes {
    enum class Outcome { Read, Missing, Skipped };
    Outcome outcome = Outcome::Missing;
    std::string bytes;   // the whole file, when Read
    std::string problem; // why it was skipped, in plain words ("a FIFO, not a regular file")
};

// The bytes of the regular file at path when it holds at most limit of them. Nothing but a regular file is
// ever opened: a FIFO, a terminal, a directory, an unreadable file or one past limit is Skipped with the
// reason. No such file (a dangling link or a missing folder included) is Missing.
FileBytes readRegularFile(const std::string& path, std::size_t limit);

// "a FIFO", "a directory", ... for the file type in mode, as the user would call it.
const char* fileKind(mode_t mode);

} // namespace vellport
