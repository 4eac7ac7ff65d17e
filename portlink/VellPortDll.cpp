#include "VellPortDll.h"

#include "DeviceScan.h"
#include "EntryGuard.h"
#include "PermissionAdvice.h"
#include "PortName.h"
#include "PortParams.h"
#include "PortTable.h"
#include "ResultStructs.h"
#include "Route.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

using portlink::fail;
using portlink::PortParams;

// The group VellPortExplainPermission names, kept for the caller until the thread's next such call.
thread_local std::string t_permissionGroup;

// Runs body(portNumber) as the entry point function(port); a name that is no port fails at once.
template <typename Body>
int guardedPort(const char* function, const char* port, Body&& body) {
    return portlink::guarded(function, port, [&]() -> int {
        const std::optional<int> portNumber = port != nullptr ? portlink::parsePortName(port) : std::nullopt;
        if (!portNumber) {
            return fail({}, VELLPORT_ERR_NAME,
                        "not a port name (COM1 to COM255 or \\\\.\\COM1 to \\\\.\\COM255, no leading zeros)");
        }
        return body(*portNumber);
    });
}

// Why count bytes at data cannot be sent, or "" when they can.
std::string byteCountProblem(const unsigned char* data, int count) {
    if (count < 0) {
        return "negative byte count " + std::to_string(count);
    }
    if (data == nullptr && count > 0) {
        return "null data pointer with " + std::to_string(count) + " bytes";
    }
    return {};
}

} // namespace

extern "C" {

int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits, int flowControl) {
    return guardedPort("SetComParam", port, [&](int portNumber) -> int {
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = portlink::checkParams(params); !problem.empty()) {
            // The target is named for the reader's sake only; map warnings were already given when sending.
            const portlink::Resolution resolution = portlink::resolveSilently(portNumber);
            return fail(resolution.invalid ? resolution.invalid->place + " (leads nowhere)"
                                           : resolution.target + " (not opened)",
                        VELLPORT_ERR_ARG, problem);
        }
        portlink::PortTable::instance().store(portNumber, portlink::normalisedParams(params));
        return VELLPORT_OK;
    });
}

int SendData(const char* port, const unsigned char* data, int count) {
    return guardedPort("SendData", port, [&](int portNumber) -> int {
        if (const std::string problem = byteCountProblem(data, count); !problem.empty()) {
            return fail({}, VELLPORT_ERR_ARG, problem);
        }
        return count == 0 ? VELLPORT_OK : portlink::sendToPort(portNumber, data, count);
    });
}

int GetUSBPort(void) {
    return portlink::guarded(
        "GetUSBPort", nullptr, [] { return portlink::countUsbAdapters(portlink::SystemRoots::current()); }, 0,
        false);
}

int VellPortDescribe(const char* port, VellPortInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return guardedPort("VellPortDescribe", port, [&](int portNumber) -> int {
        if (info == nullptr) {
            return fail({}, VELLPORT_ERR_ARG, "null result pointer");
        }
        const portlink::Resolution resolution = portlink::resolveSilently(portNumber);
        if (resolution.invalid) {
            return fail(resolution.invalid->place, VELLPORT_ERR_NAME, resolution.invalid->reason);
        }
        *info = portlink::newPortInfo(portNumber, resolution);
        return VELLPORT_OK;
    });
}

void VellPortFreeInfo(VellPortInfo* info) {
    portlink::freePortInfo(info);
}

int VellPortListDevices(VellPortDevice*** list) {
    return portlink::guarded("VellPortListDevices", "", [&]() -> int {
        if (list == nullptr) {
            return fail({}, VELLPORT_ERR_ARG, "null result pointer");
        }
        *list = nullptr;
        *list = portlink::newDeviceList(
            portlink::listDevices(portlink::SystemRoots::current(), portlink::resolveDeviceOnly));
        return VELLPORT_OK;
    });
}

const char* VellPortLastError(void) {
    return portlink::lastError();
}

int VellPortLastTls(struct VellPortTlsInfo* info) {
    const std::optional<VellTlsSummary>& tls = portlink::lastTls();
    if (info == nullptr || !tls) {
        return 0;
    }
    static_assert(sizeof info->subject == sizeof tls->subject && sizeof info->issuer == sizeof tls->issuer);
    std::memcpy(info->protocol, tls->protocol, sizeof info->protocol);
    std::memcpy(info->subject, tls->subject, sizeof info->subject);
    std::memcpy(info->issuer, tls->issuer, sizeof info->issuer);
    info->daysLeft = tls->daysLeft;
    info->clientCertificateSent = tls->clientCertificateSent;
    return 1;
}

int VellPortLastDelivery(void) {
    return portlink::lastDelivery();
}

void VellPortSetErrorLines(int enabled) {
    portlink::setErrorLines(enabled != 0);
}

int VellPortSendTo(const char* target, int baudRate, int dataBits, char parity, int stopBits, int flowControl,
                   const unsigned char* data, int count) {
    return portlink::guarded("VellPortSendTo", target, [&]() -> int {
        const std::string name = target != nullptr ? target : "";
        const std::optional<portlink::Endpoint> endpoint = portlink::parseEndpoint(name);
        if (name.empty() || (name.front() != '/' && !endpoint)) {
            return fail({}, VELLPORT_ERR_NAME,
                        "not a target (an absolute device path, " + std::string(portlink::kEndpointForms) +
                            ")");
        }
        if (const std::string problem = byteCountProblem(data, count); !problem.empty()) {
            return fail({}, VELLPORT_ERR_ARG, problem);
        }
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = portlink::checkParams(params); !problem.empty()) {
            return fail({}, VELLPORT_ERR_ARG, problem);
        }
        return count == 0
                   ? VELLPORT_OK
                   : portlink::sendToTarget(name, endpoint, portlink::normalisedParams(params), data, count);
    });
}

int VellPortProbe(const char* target, int baudRate, int dataBits, char parity, int stopBits, int flowControl,
                  int* confirmedRate) {
    return portlink::guarded("VellPortProbe", target, [&]() -> int {
        if (confirmedRate != nullptr) {
            *confirmedRate = 0;
        }
        const std::optional<portlink::Endpoint> endpoint =
            target != nullptr ? portlink::parseEndpoint(target) : std::nullopt;
        if (!endpoint) {
            return fail({}, VELLPORT_ERR_NAME,
                        "not an endpoint (" + std::string(portlink::kEndpointForms) + ")");
        }
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = portlink::checkParams(params); !problem.empty()) {
            return fail(target, VELLPORT_ERR_ARG, problem);
        }
        return portlink::probeEndpoint(target, *endpoint, portlink::normalisedParams(params), confirmedRate);
    });
}

int VellPortExplainPermission(const char* path, const char** group) {
    // Out of memory while naming the groups leaves the fix unknown, which NONE stands for.
    return portlink::guarded(
        "VellPortExplainPermission", path,
        [&]() -> int {
            if (group != nullptr) {
                *group = nullptr;
            }
            // The same access check a describe makes: only a refused device has a fix.
            if (path == nullptr || ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0 ||
                (errno != EACCES && errno != EPERM)) {
                return VELLPORT_FIX_NONE;
            }
            portlink::PermissionAdvice advice = portlink::permissionAdvice(path);
            if (group != nullptr && !advice.group.empty()) {
                t_permissionGroup = std::move(advice.group);
                *group = t_permissionGroup.c_str();
            }
            return portlink::fixCode(advice.fix);
        },
        VELLPORT_FIX_NONE);
}

void VellPortFreeDeviceList(VellPortDevice** list) {
    portlink::freeDeviceList(list);
}

} // extern "C"
