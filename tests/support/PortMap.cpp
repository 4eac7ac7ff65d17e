// Points COM names at devices through VELLPORT_COMn for as long as it lives.
#include "PortMap.h"

#include <cstdlib>

PortMap::~PortMap() {
    for (const std::string& variable : m_variables) {
        ::unsetenv(variable.c_str());
    }
}

void PortMap::map(int portNumber, const std::string& device) {
    const std::string variable = "VELLPORT_COM" + std::to_string(portNumber);
    ::setenv(variable.c_str(), device.c_str(), 1);
    m_variables.push_back(variable);
}
