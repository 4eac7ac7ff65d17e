// vellport map and unmap: a COM name's line in the user's or the system's map file, every other byte kept.
#pragma once

#include <iosfwd>

namespace vellport {
struct Options;

inline constexpr const char* kMapUsage =
    "  map COM<n> TARGET [--system] [-q]\n"
    "                              make COM<n> lead to TARGET in the user's map file: an absolute\n"
    "                              device path, rfc2217://HOST:PORT or tcp://HOST:PORT (nothing connected)\n";
inline constexpr const char* kUnmapUsage =
    "  unmap COM<n> [--system] [-q]    remove the map file's lines for COM<n>\n";

// Makes COM<n> lead to a device path or an endpoint URL (its form checked, nothing connected). Returns the
// exit status.
int runMap(const Options& options, std::ostream& out, std::ostream& err);
// Removes the map file's lines for COM<n>; an absent file is not created. Returns the exit status.
int runUnmap(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
