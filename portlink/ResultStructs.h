// The C result structs and codes of the public header, filled from the library's own findings; their strings
// are owned with malloc, so a C caller's free functions need no C++ runtime.
#pragma once

#include "DeviceScan.h"
#include "PermissionAdvice.h"
#include "PortMapping.h"
#include "VellPortDll.h"

#include <vector>

namespace portlink {

// The description of COM<portNumber> that resolution leads to; throws std::bad_alloc, leaving nothing behind.
VellPortInfo* newPortInfo(int portNumber, const Resolution& resolution);
void freePortInfo(VellPortInfo* info);

// The NULL-terminated list of found; throws std::bad_alloc, leaving nothing behind.
VellPortDevice** newDeviceList(const std::vector<FoundDevice>& found);
void freeDeviceList(VellPortDevice** list);

int fixCode(PermissionFix fix);

} // namespace portlink
