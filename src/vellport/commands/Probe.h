// vellport probe: whether the network endpoints answer, without sending data to the displays.
#pragma once

#include <iosfwd>

namespace vellport {
struct Options;

inline constexpr const char* kProbeUsage =
    "  probe [COM<n>|URL]... [--baud RATE] [--settings FILE] [--parallel N] [-q] [--json]\n"
    "                              connect and negotiate without sending data: reachable (and the rate the\n"
    "                              server confirmed), refused, no answer, not RFC 2217, busy; with no\n"
    "                              target, every COM name that leads to a network endpoint\n";

// Probes the COM names and URLs given, or every COM name that leads to an endpoint, in parallel; a line per
// target and a summary, or one JSON document. Returns the exit status.
int runProbe(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
