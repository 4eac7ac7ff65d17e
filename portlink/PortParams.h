// The line parameters of one port as SetComParam stores them, their checks and the wire time they imply.
#pragma once

#include <chrono>
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

// Time on the wire for count bytes: start bit, data bits, parity bit and stop bits each.
std::chrono::microseconds wireTime(const PortParams& params, long long count);

// The longest bound a send is given: far beyond any send that can end, and short enough that a deadline a
// bound away from now stays inside the steady clock's range.
constexpr std::chrono::hours kLongestSendBound{24 * 365 * 100};

// How long SendData may take in all: 500 ms plus twice the wire time, at most kLongestSendBound.
std::chrono::microseconds sendBound(const PortParams& params, long long count);

// "9600 8N1", the way terminal programs write line settings.
std::string describeParams(const PortParams& params);

} // namespace portlink
