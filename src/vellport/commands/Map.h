// vellport map and unmap: a COM name's line in the user's or the system's map file, every other byte kept.
#pragma once

#include "vellport/CommandLine.h"

#include <iosfwd>

namespace vellport {
// Makes COM<n> lead to a device path or an endpoint URL (its form checked, nothing connected). Returns the
// exit status.
int runMap(const Options& options, std::ostream& out, std::ostream& err);
// Removes the map file's lines for COM<n>; an absent file is not created. Returns the exit status.
int runUnmap(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
