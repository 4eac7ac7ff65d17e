// The vellport commands: list, devices, map, unmap and send, with their exit statuses.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Exit statuses: success; the library or a file write failed; wrong usage or unusable input.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs one command line (without the program name); what a user reads goes to out, errors and warnings to
// err.
int runVellPort(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// "VELLPORT_ERR_NO_DEVICE" for -3, and so on; the number itself for an unknown result.
std::string resultName(int result);
