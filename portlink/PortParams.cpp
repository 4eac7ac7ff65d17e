// Checks and timing of a port's line parameters.
#include "PortParams.h"

#include <cctype>

namespace portlink {
namespace {

constexpr std::chrono::milliseconds kSendSlack{500};

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

} // namespace

std::string checkParams(const PortParams& params) {
    if (params.baudRate <= 0) {
        return "baud rate " + std::to_string(params.baudRate) + " is not greater than 0";
    }
    if (params.dataBits < 5 || params.dataBits > 8) {
        return "data bits " + std::to_string(params.dataBits) + " not in 5..8";
    }
    const char parity = upper(params.parity);
    if (parity != 'N' && parity != 'E' && parity != 'O' && parity != 'M' && parity != 'S') {
        return "parity " + std::to_string(static_cast<unsigned char>(params.parity)) +
               " is not one of N, E, O, M, S";
    }
    if (params.stopBits != 1 && params.stopBits != 2) {
        return "stop bits " + std::to_string(params.stopBits) + " not 1 or 2";
    }
    if (params.flowControl < 0 || params.flowControl > 2) {
        return "flow control " + std::to_string(params.flowControl) +
               " not 0 (none), 1 (hardware) or 2 (software)";
    }
    return {};
}

PortParams normalisedParams(const PortParams& params) {
    PortParams result = params;
    result.parity = upper(params.parity);
    return result;
}

std::chrono::microseconds wireTime(const PortParams& params, long long count) {
    const long long bitsPerByte =
        1 + params.dataBits + (upper(params.parity) == 'N' ? 0 : 1) + params.stopBits;
    const long double microseconds = static_cast<long double>(count) * bitsPerByte * 1e6L / params.baudRate;
    // Saturates at a quarter of the range, so twice it plus a slack, as the bounds take it, still fits.
    constexpr auto kLongest = std::chrono::microseconds::max() / 4;
    if (microseconds >= static_cast<long double>(kLongest.count())) {
        return kLongest;
    }
    return std::chrono::microseconds(static_cast<long long>(microseconds + 0.5L));
}

std::chrono::microseconds sendBound(const PortParams& params, long long count) {
    const std::chrono::microseconds longest = kLongestSendBound;
    const std::chrono::microseconds wire = wireTime(params, count);
    if (wire >= (longest - kSendSlack) / 2) {
        return longest;
    }
    return kSendSlack + 2 * wire;
}

std::string describeParams(const PortParams& params) {
    return std::to_string(params.baudRate) + " " + std::to_string(params.dataBits) + upper(params.parity) +
           std::to_string(params.stopBits);
}

} // namespace portlink
