// The targets of a send or a probe: COM names, device paths and endpoint URLs, from the command line or a
// targets file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct Target {
    std::string text; // as given: "COM3", "/dev/ttyUSB0", "rfc2217://box:2001"
    bool isComName = false;
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
