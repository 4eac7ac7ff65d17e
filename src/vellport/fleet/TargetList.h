// The targets of a send or a probe: COM names, device paths and endpoint URLs, from the command line or a
// targets file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellport {
struct Target {
    std::string text; // as given: "COM3", "/dev/ttyUSB0", "rfc2217://box:2001"
    bool isComName = false;
    int line = 0; // its line in the targets file; 0 for one given on the command line
    bool operator==(const Target&) const = default;
};

// A COM name, or (when it is not one) an absolute device path or an endpoint URL; throws UsageError saying
// why not, where says where it came from ("--to", "targets.txt:4").
Target requireTarget(const std::string& text, const std::string& where);

// The targets of a targets file (a UTF-8 byte order mark skipped): one a line, spaces around it and a CR
// before the line end ignored; blank lines and lines starting with '#' skipped. Throws UsageError naming the
// file and line of the first bad one.
std::vector<Target> parseTargetList(std::string_view text, const std::string& fileName);

// The targets file at path, read without blocking (a FIFO or device is refused, not waited on); throws
// UsageError when it cannot be read or holds a bad line.
std::vector<Target> readTargetList(const std::string& path);

// The place a target leads to (a device path or an endpoint URL) as a text that is equal for two targets
// exactly when they lead to the same place: a URL's scheme and host in any case and its port as a number; a
// device path with its symbolic links resolved, so a stable name and the node it points at are one. A host
// name and its address stay apart: telling them equal would take a lookup.
std::string destinationKey(std::string_view leadsTo);
} // namespace vellport
