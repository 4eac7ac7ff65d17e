// The port link library's result codes by name, as vellport prints them.
#pragma once

#include <string>

namespace vellport {
// "VELLPORT_ERR_NO_DEVICE" for -3, and so on; the number itself for an unknown result.
std::string resultName(int result);
// The same name as a word in a line: "no device" for VELLPORT_ERR_NO_DEVICE, "ok" for VELLPORT_OK.
std::string resultWord(int result);
} // namespace vellport
