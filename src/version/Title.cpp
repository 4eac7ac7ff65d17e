#include "version/Title.h"

#include "version/VersionRecord.h"

#include <unistd.h>
#include <vector>

namespace {

// The running program's path in full, however long: the link's target is not limited to any fixed buffer.
std::string runningProgramPath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        // A full buffer may mean the path was cut: try again with room to spare.
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

std::string programNameFromPath(const std::string& path, common::CodePage codePage) {
    // Walk whole characters so the second byte of a double-byte character is never taken for "/" or ".".
    std::size_t nameStart = 0;
    std::size_t lastDot = std::string::npos;
    for (std::size_t pos = 0; pos < path.size(); pos += common::charLength(path, pos, codePage)) {
        if (path[pos] == '/') {
            nameStart = pos + 1;
            lastDot = std::string::npos;
        } else if (path[pos] == '.') {
            lastDot = pos;
        }
    }
    // A dot that opens the file name (".tool") starts a hidden name, not an extension.
    if (lastDot == std::string::npos || lastDot == nameStart)
        return path.substr(nameStart);
    return path.substr(nameStart, lastDot - nameStart);
}

std::string MakeWindowTitle() {
    // The version comes from the running image itself, which stays right even if the file on disk was
    // replaced.
    return programNameFromPath(runningProgramPath(), common::systemCodePage()) + "-" +
           productVersionString(loadedVersionRecord());
}
