// vellport send: the screen saver switched as the window's Open and Close buttons do, on one display or on
// many at once.
#pragma once

#include "vellport/CommandLine.h"

#include <iosfwd>

namespace vellport {
// One --port (or none: the saved port) sends as the window does, silent on success; several targets, --to,
// --targets or --json send in parallel with a line per target and a summary. Returns the exit status.
int runSend(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
