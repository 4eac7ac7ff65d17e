// Records the port link calls the window makes, in place of the real library.
#pragma once

#include <string>
#include <vector>

struct PortCall {
    std::string function;
    std::string port;
    int baud = 0;
    int dataBits = 0;
    char parity = 0;
    int stopBits = 0;
    int flow = 0;
    std::vector<unsigned char> bytes;
};

std::vector<PortCall>& RecordedPortCalls();
