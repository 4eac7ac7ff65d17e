// What the library tells about port names and serial devices, as text for people or JSON for scripts.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// COM1 to COM30 and any higher name a map names: device, rule, state and description, one line each.
int runList(bool json, std::ostream& out, std::ostream& err);
// The serial devices present, their details and the COM names that lead to each.
int runDevices(bool json, std::ostream& out, std::ostream& err);
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
