// The port link library's C entry points: argument checks, name resolution, error lines; no exception
// escapes.
#include "VellPortDll.h"

#include "PortName.h"
#include "PortParams.h"
#include "PortTable.h"
#include "SerialLink.h"

#include <QSerialPortInfo>
#include <cstdio>
#include <exception>
#include <unistd.h>

namespace {

using vellport::PortParams;
using vellport::PortTable;

constexpr std::size_t kLongestShownName = 64;

// One write() per line, so lines from several threads never interleave.
void writeErrorLine(const std::string& text) {
    const std::string line = "VellPortDll: " + text + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

std::string shownName(const char* port) {
    if (port == nullptr) {
        return "(null)";
    }
    std::string shown = "\"";
    const std::string_view name(port);
    for (std::size_t i = 0; i < name.size() && i < kLongestShownName; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (name.size() > kLongestShownName) {
        shown += "...";
    }
    return shown + "\"";
}

int fail(const char* call, const char* port, const std::string& devicePath, int code,
         const std::string& reason) {
    writeErrorLine(std::string(call) + "(" + shownName(port) +
                   "): " + (devicePath.empty() ? std::string("no device path") : devicePath) + ": " + reason);
    return code;
}

int failName(const char* call, const char* port) {
    return fail(call, port, {}, VELLPORT_ERR_NAME,
                "not a port name (COM1 to COM255 or \\\\.\\COM1 to \\\\.\\COM255, no leading zeros)");
}

int sendToDevice(const char* port, int portNumber, const unsigned char* data, int count) {
    const std::lock_guard portLock(PortTable::instance().portLock(portNumber));
    const auto start = vellport::SerialLink::Clock::now();
    const PortParams params = PortTable::instance().params(portNumber);
    const auto deadline = start + vellport::sendBound(params, count);
    const std::string devicePath =
        vellport::resolveDevicePath(portNumber, vellport::currentMapSources(portNumber), writeErrorLine);

    vellport::SerialLink link;
    std::string reason;
    int code = link.open(devicePath, params, reason);
    if (code == VELLPORT_OK) {
        code = link.write(data, count, deadline, reason);
    }
    if (code == VELLPORT_OK) {
        code = link.drain(params, deadline, reason);
    }
    if (code == VELLPORT_ERR_TIMEOUT) {
        link.discard();
    }
    if (code != VELLPORT_OK) {
        return fail("SendData", port, devicePath, code, reason);
    }
    return VELLPORT_OK;
}

} // namespace

extern "C" {

int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits, int flowControl) {
    try {
        const std::optional<int> portNumber = port ? vellport::parsePortName(port) : std::nullopt;
        if (!portNumber) {
            return failName("SetComParam", port);
        }
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = vellport::checkParams(params); !problem.empty()) {
            // The path is named for the reader's sake only; map warnings were already given when sending.
            const std::string devicePath = vellport::resolveDevicePath(
                *portNumber, vellport::currentMapSources(*portNumber), [](const std::string&) {});
            return fail("SetComParam", port, devicePath + " (not opened)", VELLPORT_ERR_ARG, problem);
        }
        PortTable::instance().store(*portNumber, vellport::normalisedParams(params));
        return VELLPORT_OK;
    } catch (const std::exception& error) {
        return fail("SetComParam", port, {}, VELLPORT_ERR_IO, std::string("internal error: ") + error.what());
    } catch (...) {
        return fail("SetComParam", port, {}, VELLPORT_ERR_IO, "internal error");
    }
}

int SendData(const char* port, const unsigned char* data, int count) {
    try {
        const std::optional<int> portNumber = port ? vellport::parsePortName(port) : std::nullopt;
        if (!portNumber) {
            return failName("SendData", port);
        }
        if (count < 0 || (data == nullptr && count > 0)) {
            return fail("SendData", port, {}, VELLPORT_ERR_ARG,
                        count < 0 ? "negative byte count " + std::to_string(count)
                                  : "null data pointer with " + std::to_string(count) + " bytes");
        }
        if (count == 0) {
            return VELLPORT_OK;
        }
        return sendToDevice(port, *portNumber, data, count);
    } catch (const std::exception& error) {
        return fail("SendData", port, {}, VELLPORT_ERR_IO, std::string("internal error: ") + error.what());
    } catch (...) {
        return fail("SendData", port, {}, VELLPORT_ERR_IO, "internal error");
    }
}

int GetUSBPort(void) {
    try {
        int adapters = 0;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            if (info.hasVendorIdentifier()) {
                ++adapters;
            }
        }
        return adapters;
    } catch (...) {
        writeErrorLine("GetUSBPort(): no device path: internal error while listing ports");
        return 0;
    }
}

} // extern "C"
