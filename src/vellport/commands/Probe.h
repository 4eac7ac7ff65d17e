// vellport probe: whether the network endpoints answer, without sending data to the displays.
#pragma once

#include "vellport/CommandLine.h"

#include <iosfwd>

namespace vellport {
// Probes the COM names and URLs given, or every COM name that leads to an endpoint, in parallel; a line per
// target and a summary, or one JSON document. Returns the exit status.
int runProbe(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
