// One opening of a serial device: open with its lock, apply the line parameters, write, drain within a
// deadline.
#pragma once

#include "PortParams.h"

#include <QSerialPort>
#include <chrono>
#include <string>

namespace portlink {

class SerialLink {
public:
    using Clock = std::chrono::steady_clock;

    // Each step returns a VellPortResult code; on failure reason says why in plain words.
    int open(const std::string& devicePath, const PortParams& params, std::string& reason);
    int write(const unsigned char* data, int count, Clock::time_point deadline, std::string& reason);
    int drain(const PortParams& params, Clock::time_point deadline, std::string& reason);
    // Drops what is still queued for the device, so that closing does not wait for it.
    void discard();

    // The port as the library configured it, for checks of what a pseudo-terminal cannot report.
    const QSerialPort& port() const { return m_port; }

private:
    int applyParams(const PortParams& params, std::string& reason);
    int reopenKeepingSettings(const std::string& devicePath, const PortParams& params, std::string& reason);
    int openFailure(const std::string& devicePath, std::string& reason) const;

    QSerialPort m_port; // closes on destruction, so every return path releases the device and its lock file
};

} // namespace portlink
