#include "PortParams.h"

#include <cctype>

namespace portlink {
namespace {

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

std::string describeParams(const PortParams& params) {
    return std::to_string(params.baudRate) + " " + std::to_string(params.dataBits) + upper(params.parity) +
           std::to_string(params.stopBits);
}

} // namespace portlink
