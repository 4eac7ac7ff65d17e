// vellport list: where each COM name leads, by which rule, and what is there now.
#pragma once

#include "vellport/CommandLine.h"

#include <iosfwd>

namespace vellport {
// COM1 to COM30 and any higher name a map names (or whose own map line is not valid): device or URL, rule,
// state and description, one line each or one JSON document. Returns the exit status.
int runList(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
