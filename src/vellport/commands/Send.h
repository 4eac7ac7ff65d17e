// vellport send: the screen saver switched as the window's Open and Close buttons do, on one display or on
// many at once.
#pragma once

#include <iosfwd>

namespace vellport {
struct Options;

inline constexpr const char* kSendUsage =
    "  send on|off [--port COM<n>]... [--to TARGET]... [--targets FILE] [--baud RATE]\n"
    "              [--settings FILE] [--parallel N] [--strict] [-q] [--json]\n"
    "                              switch the screen saver as the window's Open and Close buttons do;\n"
    "                              with no target, the port VellSetting saved; one --port prints nothing\n"
    "                              on success (a failure is one line on standard error); several targets\n"
    "                              are sent to in parallel, a line each as it ends, then a summary;\n"
    "                              targets that lead to one place are sent to once\n";

// One --port (or none: the saved port) sends as the window does, silent on success; several targets, --to,
// --targets or --json send in parallel with a line per target and a summary. Returns the exit status.
int runSend(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
