// vellport discover: the displays that ser2net advertises over mDNS, each with a ready map line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vellport {

// arguments start with "discover". Exit status 0 with adverts or none, 1 when nothing could be asked,
// 2 for wrong usage.
int runDiscover(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace vellport
