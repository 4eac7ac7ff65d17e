// Another program holding a serial device open: a child process that opens it through Qt SerialPort (its lock
// file and exclusive open) and keeps it until released.
#pragma once

#include <string>
#include <sys/types.h>

class PortHolder {
public:
    PortHolder() = default;
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    // Releases the device and reaps the child.
    ~PortHolder();

    // True once the child holds device; false when it could not open it within a few seconds.
    bool hold(const std::string& device);
    void release();

private:
    pid_t m_pid = -1;
    int m_release = -1;
};
