// The line parameters of one port as SetComParam stores them, and their checks.
#pragma once

#include <string>

namespace portlink {

struct PortParams {
    int baudRate = 9600;
    int dataBits = 8;
    char parity = 'N'; // upper case once checked
    int stopBits = 1;
    int flowControl = 0; // 0 none, 1 hardware, 2 software
};

// Empty when the values are acceptable, otherwise the reason in plain words.
std::string checkParams(const PortParams& params);

// The values with the parity letter in upper case, for storage.
PortParams normalisedParams(const PortParams& params);

// "9600 8N1", the way terminal programs write line settings.
std::string describeParams(const PortParams& params);

} // namespace portlink
