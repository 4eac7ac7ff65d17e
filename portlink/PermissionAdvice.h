// Why the calling user may not open a device, and the one fix that applies, from the device's owner, group
// and mode and the user's groups.
#pragma once

#include <string>

namespace vellport {

// Why the user may not open the device and the one fix that applies, in one line.
std::string permissionReason(const std::string& devicePath);

} // namespace vellport
