// What the library tells about port names and serial devices, as text for people or JSON for scripts.
#pragma once

#include "VellPortDll.h"

#include <QJsonObject>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellport {
// The highest COM name the library takes.
inline constexpr int kLastPort = 255;

// Owners of what the library hands out.
struct InfoDeleter {
    void operator()(VellPortInfo* info) const { VellPortFreeInfo(info); }
};
using InfoPointer = std::unique_ptr<VellPortInfo, InfoDeleter>;

struct DeviceListDeleter {
    void operator()(VellPortDevice** list) const { VellPortFreeDeviceList(list); }
};
using DeviceListPointer = std::unique_ptr<VellPortDevice*, DeviceListDeleter>;

// The value, or "" for a null pointer.
std::string textOrEmpty(const char* value);
// A device's details as vellport's JSON shows them, with the adapter's description.
QJsonObject detailsJson(const VellPortDeviceDetails& details);
// The /dev/serial/by-id name of the device at a /dev/ttyUSB<k> path, when the library knows one.
std::optional<std::string> stableNameSuggestion(const std::string& devicePath);

// Where a COM name leads as VellPortDescribe says it: the device path or endpoint URL, and the state.
struct PortDestination {
    std::string target;
    int state = 0;
};
std::optional<PortDestination> describeDestination(const std::string& portName);
// The COM names that lead to a network endpoint, with their URLs, in number order.
std::vector<std::pair<std::string, std::string>> networkPorts();
} // namespace vellport
