// Replacing a file's bytes at once: readers see the old bytes or the new, never a mix.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace common {

// Replaces the file at path (where a chain of symbolic links ends; the links stay) with what edit makes of
// its bytes: under a lock on its folder, through a temporary file flushed and renamed into place with the
// old file's mode, owner and group, so a reader sees the old bytes or the new, never a mix. A file whose
// owner or group the writer cannot give a new file (another user's, or a group it is not in) is rewritten
// where it is instead, room reserved first, so saving never narrows who may write it. edit gets nullopt for a
// file that does not exist yet and returns nullopt to leave the file as it is. A path that is not a regular
// writable file is left alone, and so is one of more than limit bytes (EFBIG). Returns 0, or the errno value
// of what failed.
int replaceFileBytes(
    const std::string& path,
    const std::function<std::optional<std::string>(const std::optional<std::string>& oldBytes)>& edit,
    std::size_t limit = std::numeric_limits<std::size_t>::max());

} // namespace common
