// The vellport commands: list, devices, map, unmap, send and probe; exit statuses in vellport/ExitStatus.h.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vellport {
// Runs one command line (without the program name); what a user reads goes to out, errors and warnings to
// err. Returns the exit status.
int runVellPort(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
} // namespace vellport
