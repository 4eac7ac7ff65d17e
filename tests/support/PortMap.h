// Points COM names at devices through VELLPORT_COMn, the port link library's own override, for as long as it
// lives.
#pragma once

#include <string>
#include <vector>

class PortMap {
public:
    PortMap() = default;
    PortMap(int portNumber, const std::string& device) { map(portNumber, device); }
    ~PortMap();
    PortMap(const PortMap&) = delete;
    PortMap& operator=(const PortMap&) = delete;

    void map(int portNumber, const std::string& device);

private:
    std::vector<std::string> m_variables;
};
