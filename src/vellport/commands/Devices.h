// vellport devices: the serial devices present and the COM names that lead to each.
#pragma once

#include "vellport/CommandLine.h"

#include <iosfwd>

namespace vellport {
// Each device with its details, stable name and COM names, as text or one JSON document. Returns the exit
// status.
int runDevices(const Options& options, std::ostream& out, std::ostream& err);
} // namespace vellport
