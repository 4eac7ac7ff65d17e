// The port link library's C entry points: argument checks, name resolution, error lines; no exception
// escapes.
#include "VellPortDll.h"

#include "DeviceScan.h"
#include "NetworkLink.h"
#include "PermissionAdvice.h"
#include "PortName.h"
#include "PortParams.h"
#include "PortTable.h"
#include "SerialLink.h"

#include <QSerialPortInfo>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace {

using portlink::PortParams;
using portlink::PortTable;

constexpr std::size_t kLongestShownName = 64;

// What the thread's last failed call said, for callers that show the reason somewhere else than stderr.
thread_local std::string t_lastError;
// How far the thread's last send is known to have gone.
thread_local int t_lastDelivery = VELLPORT_DELIVERY_NONE;
thread_local std::optional<VellTlsSummary> t_lastTls;
// The group VellPortExplainPermission names, kept for the caller until the thread's next such call.
thread_local std::string t_permissionGroup;
// Callers that report failures themselves switch the stderr lines off.
std::atomic<bool> g_errorLines{true};

// Every int-returning entry point starts with a clean reason, so a success reads as ""; the release
// functions keep it, so a caller may release a result before reading why the call failed.
void clearLastError() {
    t_lastError.clear();
    t_lastDelivery = VELLPORT_DELIVERY_NONE;
}

// One write() per line, so lines from several threads never interleave.
void writeErrorLine(const std::string& text) {
    if (!g_errorLines.load(std::memory_order_relaxed)) {
        return;
    }
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
    std::string line = std::string(call) + "(" + shownName(port) +
                       "): " + (devicePath.empty() ? std::string("no device path") : devicePath) + ": " +
                       reason;
    writeErrorLine(line);
    t_lastError = std::move(line);
    return code;
}

int failName(const char* call, const char* port) {
    return fail(call, port, {}, VELLPORT_ERR_NAME,
                "not a port name (COM1 to COM255 or \\\\.\\COM1 to \\\\.\\COM255, no leading zeros)");
}

// Opens, configures, writes and drains one device path within the bound that started at start.
int sendToPath(const char* call, const char* port, const std::string& devicePath, const PortParams& params,
               portlink::SerialLink::Clock::time_point start, const unsigned char* data, int count) {
    const auto deadline = start + portlink::sendBound(params, count);
    portlink::SerialLink link;
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
        return fail(call, port, devicePath, code, reason);
    }
    t_lastDelivery = VELLPORT_DELIVERY_CONFIRMED;
    return VELLPORT_OK;
}

// Connects, negotiates and sends (or only probes) within the network bound that started at start.
int talkToUrl(const char* call, const char* port, const std::string& url, const portlink::Endpoint& endpoint,
              const PortParams& params, portlink::NetworkLink::Clock::time_point start,
              const unsigned char* data, int count, bool probe, int* confirmedRate) {
    std::string reason;
    portlink::EndpointOutcome outcome;
    const int code = portlink::talkToEndpoint(endpoint, params, start, data, count, probe, reason, outcome);
    t_lastTls = outcome.tls ? std::optional(outcome.tlsSummary) : std::nullopt;
    if (confirmedRate != nullptr) {
        *confirmedRate = outcome.confirmedRate;
    }
    if (code != VELLPORT_OK) {
        return fail(call, port, url, code, reason);
    }
    if (!probe) {
        t_lastDelivery =
            outcome.serverClosed ? VELLPORT_DELIVERY_CONFIRMED : VELLPORT_DELIVERY_ACKNOWLEDGED;
    }
    return VELLPORT_OK;
}

int sendToDevice(const char* port, int portNumber, const unsigned char* data, int count) {
    const std::lock_guard portLock(PortTable::instance().portLock(portNumber));
    const auto start = portlink::SerialLink::Clock::now();
    const PortParams params = PortTable::instance().params(portNumber);
    const portlink::Resolution resolution =
        portlink::resolvePort(portNumber, portlink::currentMapSources(portNumber), writeErrorLine);
    if (resolution.invalid) {
        return fail("SendData", port, resolution.invalid->place, VELLPORT_ERR_NAME,
                    resolution.invalid->reason);
    }
    const std::string& devicePath = resolution.devicePath;
    if (const std::optional<portlink::Endpoint> endpoint = portlink::parseEndpoint(devicePath)) {
        return talkToUrl("SendData", port, devicePath, *endpoint, params, start, data, count, false, nullptr);
    }
    return sendToPath("SendData", port, devicePath, params, start, data, count);
}

constexpr const char* kNotATarget =
    "not a target (an absolute device path, rfc2217://HOST:PORT or tcp://HOST:PORT)";

// The C results own their strings with malloc, so a C caller's free function needs no C++ runtime.
char* copyText(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Unknown details stay NULL rather than empty, as the header promises.
char* copyKnownText(const std::string& text) {
    return text.empty() ? nullptr : copyText(text);
}

void freeText(const char* text) {
    std::free(const_cast<char*>(text));
}

void fillDetails(VellPortDeviceDetails& out, const portlink::DeviceDetails& details) {
    out.vendorId = details.vendorId;
    out.productId = details.productId;
    out.isUsb = details.isUsb ? 1 : 0;
    out.kernelName = copyKnownText(details.kernelName);
    out.driver = copyKnownText(details.driver);
    out.manufacturer = copyKnownText(details.manufacturer);
    out.product = copyKnownText(details.product);
    out.serialNumber = copyKnownText(details.serialNumber);
    out.byIdPath = copyKnownText(details.byIdPath);
}

void freeDetails(const VellPortDeviceDetails& details) {
    for (const char* text : {details.kernelName, details.driver, details.manufacturer, details.product,
                             details.serialNumber, details.byIdPath}) {
        freeText(text);
    }
}

int ruleCode(portlink::PortRule rule) {
    switch (rule) {
    case portlink::PortRule::Environment:
        return VELLPORT_RULE_ENVIRONMENT;
    case portlink::PortRule::UserMap:
        return VELLPORT_RULE_USER_MAP;
    case portlink::PortRule::SystemMap:
        return VELLPORT_RULE_SYSTEM_MAP;
    case portlink::PortRule::Fixed:
        break;
    }
    return VELLPORT_RULE_DEFAULT;
}

int stateCode(portlink::DeviceState state) {
    switch (state) {
    case portlink::DeviceState::Present:
        return VELLPORT_STATE_PRESENT;
    case portlink::DeviceState::NotDevice:
        return VELLPORT_STATE_NOT_DEVICE;
    case portlink::DeviceState::NoHardware:
        return VELLPORT_STATE_NO_HARDWARE;
    case portlink::DeviceState::NoPermission:
        return VELLPORT_STATE_NO_PERMISSION;
    case portlink::DeviceState::Missing:
        break;
    }
    return VELLPORT_STATE_MISSING;
}

// Map warnings are SendData's to give; a description, asked for often, stays silent.
portlink::Resolution resolveSilently(int portNumber) {
    return portlink::resolvePort(portNumber, portlink::currentMapSources(portNumber),
                                 [](const std::string&) {});
}

// A URL is no device: the listing must not take it for a path relative to the working folder.
portlink::Resolution resolveDeviceOnly(int portNumber) {
    portlink::Resolution resolution = resolveSilently(portNumber);
    if (portlink::parseEndpoint(resolution.devicePath)) {
        resolution.devicePath.clear();
    }
    return resolution;
}

VellPortInfo* newPortInfo(int portNumber, const portlink::Resolution& resolution) {
    auto* info = static_cast<VellPortInfo*>(std::calloc(1, sizeof(VellPortInfo)));
    if (info == nullptr) {
        throw std::bad_alloc();
    }
    try {
        // A network target is told as such, never connected to: a description must stay fast.
        const bool network = portlink::parseEndpoint(resolution.devicePath).has_value();
        const portlink::PathDescription description =
            network ? portlink::PathDescription{}
                    : portlink::describePath(resolution.devicePath, portlink::SystemRoots::current());
        info->portNumber = portNumber;
        info->rule = ruleCode(resolution.rule);
        info->state = network ? VELLPORT_STATE_NETWORK : stateCode(description.state);
        info->portName = copyText("COM" + std::to_string(portNumber));
        info->devicePath = copyText(resolution.devicePath);
        info->mapFile = copyKnownText(resolution.mapFile);
        info->realPath = copyKnownText(description.realPath);
        fillDetails(info->details, description.details);
    } catch (...) {
        VellPortFreeInfo(info);
        throw;
    }
    return info;
}

void freeDevice(VellPortDevice* device) {
    freeText(device->path);
    freeDetails(device->details);
    if (device->portNames != nullptr) {
        for (const char* const* name = device->portNames; *name != nullptr; ++name) {
            freeText(*name);
        }
        std::free(const_cast<const char**>(device->portNames));
    }
    std::free(device);
}

VellPortDevice* newDevice(const portlink::FoundDevice& found) {
    auto* device = static_cast<VellPortDevice*>(std::calloc(1, sizeof(VellPortDevice)));
    if (device == nullptr) {
        throw std::bad_alloc();
    }
    try {
        device->path = copyText(found.path);
        fillDetails(device->details, found.details);
        auto** names = static_cast<const char**>(std::calloc(found.portNumbers.size() + 1, sizeof(char*)));
        if (names == nullptr) {
            throw std::bad_alloc();
        }
        device->portNames = names;
        for (const int portNumber : found.portNumbers) {
            names[device->portCount] = copyText("COM" + std::to_string(portNumber));
            ++device->portCount;
        }
    } catch (...) {
        freeDevice(device);
        throw;
    }
    return device;
}

} // namespace

extern "C" {

int SetComParam(const char* port, int baudRate, int dataBits, char parity, int stopBits, int flowControl) {
    clearLastError();
    try {
        const std::optional<int> portNumber = port ? portlink::parsePortName(port) : std::nullopt;
        if (!portNumber) {
            return failName("SetComParam", port);
        }
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = portlink::checkParams(params); !problem.empty()) {
            // The path is named for the reader's sake only; map warnings were already given when sending.
            const portlink::Resolution resolution = resolveSilently(*portNumber);
            return fail("SetComParam", port,
                        resolution.invalid ? resolution.invalid->place + " (leads nowhere)"
                                           : resolution.devicePath + " (not opened)",
                        VELLPORT_ERR_ARG, problem);
        }
        PortTable::instance().store(*portNumber, portlink::normalisedParams(params));
        return VELLPORT_OK;
    } catch (const std::exception& error) {
        return fail("SetComParam", port, {}, VELLPORT_ERR_IO, std::string("internal error: ") + error.what());
    } catch (...) {
        return fail("SetComParam", port, {}, VELLPORT_ERR_IO, "internal error");
    }
}

int SendData(const char* port, const unsigned char* data, int count) {
    clearLastError();
    try {
        const std::optional<int> portNumber = port ? portlink::parsePortName(port) : std::nullopt;
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
    clearLastError();
    try {
        int adapters = 0;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            if (info.hasVendorIdentifier()) {
                ++adapters;
            }
        }
        return adapters;
    } catch (...) {
        t_lastError = "GetUSBPort(): no device path: internal error while listing ports";
        writeErrorLine(t_lastError);
        return 0;
    }
}

int VellPortDescribe(const char* port, VellPortInfo** info) {
    clearLastError();
    try {
        if (info != nullptr) {
            *info = nullptr;
        }
        const std::optional<int> portNumber = port ? portlink::parsePortName(port) : std::nullopt;
        if (!portNumber) {
            return failName("VellPortDescribe", port);
        }
        if (info == nullptr) {
            return fail("VellPortDescribe", port, {}, VELLPORT_ERR_ARG, "null result pointer");
        }
        const portlink::Resolution resolution = resolveSilently(*portNumber);
        if (resolution.invalid) {
            return fail("VellPortDescribe", port, resolution.invalid->place, VELLPORT_ERR_NAME,
                        resolution.invalid->reason);
        }
        *info = newPortInfo(*portNumber, resolution);
        return VELLPORT_OK;
    } catch (const std::bad_alloc&) {
        return fail("VellPortDescribe", port, {}, VELLPORT_ERR_IO, "out of memory");
    } catch (const std::exception& error) {
        return fail("VellPortDescribe", port, {}, VELLPORT_ERR_IO,
                    std::string("internal error: ") + error.what());
    } catch (...) {
        return fail("VellPortDescribe", port, {}, VELLPORT_ERR_IO, "internal error");
    }
}

void VellPortFreeInfo(VellPortInfo* info) {
    if (info == nullptr) {
        return;
    }
    for (const char* text : {info->portName, info->devicePath, info->mapFile, info->realPath}) {
        freeText(text);
    }
    freeDetails(info->details);
    std::free(info);
}

int VellPortListDevices(VellPortDevice*** list) {
    clearLastError();
    if (list == nullptr) {
        return fail("VellPortListDevices", "", {}, VELLPORT_ERR_ARG, "null result pointer");
    }
    *list = nullptr;
    VellPortDevice** devices = nullptr;
    try {
        const std::vector<portlink::FoundDevice> found =
            portlink::listDevices(portlink::SystemRoots::current(), resolveDeviceOnly);
        // An array of pointers, NULL-terminated, is the list the header promises.
        devices = static_cast<VellPortDevice**>(
            std::calloc(found.size() + 1, sizeof *devices)); // NOLINT(bugprone-sizeof-expression)
        if (devices == nullptr) {
            throw std::bad_alloc();
        }
        for (std::size_t i = 0; i < found.size(); ++i) {
            devices[i] = newDevice(found[i]);
        }
        *list = devices;
        return VELLPORT_OK;
    } catch (...) {
        VellPortFreeDeviceList(devices);
        return fail("VellPortListDevices", "", {}, VELLPORT_ERR_IO,
                    "out of memory or internal error while listing");
    }
}

const char* VellPortLastError(void) {
    return t_lastError.c_str();
}

int VellPortLastTls(struct VellPortTlsInfo* info) {
    if (info == nullptr || !t_lastTls) {
        return 0;
    }
    static_assert(sizeof info->subject == sizeof t_lastTls->subject &&
                  sizeof info->issuer == sizeof t_lastTls->issuer);
    std::memcpy(info->protocol, t_lastTls->protocol, sizeof info->protocol);
    std::memcpy(info->subject, t_lastTls->subject, sizeof info->subject);
    std::memcpy(info->issuer, t_lastTls->issuer, sizeof info->issuer);
    info->daysLeft = t_lastTls->daysLeft;
    info->clientCertificateSent = t_lastTls->clientCertificateSent;
    return 1;
}

int VellPortLastDelivery(void) {
    return t_lastDelivery;
}

void VellPortSetErrorLines(int enabled) {
    g_errorLines.store(enabled != 0, std::memory_order_relaxed);
}

int VellPortSendTo(const char* target, int baudRate, int dataBits, char parity, int stopBits, int flowControl,
                   const unsigned char* data, int count) {
    clearLastError();
    try {
        const std::string_view name = target != nullptr ? std::string_view(target) : std::string_view();
        const std::optional<portlink::Endpoint> endpoint = portlink::parseEndpoint(name);
        if (name.empty() || (name.front() != '/' && !endpoint)) {
            return fail("VellPortSendTo", target, {}, VELLPORT_ERR_NAME, kNotATarget);
        }
        if (count < 0 || (data == nullptr && count > 0)) {
            return fail("VellPortSendTo", target, {}, VELLPORT_ERR_ARG,
                        count < 0 ? "negative byte count " + std::to_string(count)
                                  : "null data pointer with " + std::to_string(count) + " bytes");
        }
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = portlink::checkParams(params); !problem.empty()) {
            return fail("VellPortSendTo", target, {}, VELLPORT_ERR_ARG, problem);
        }
        if (count == 0) {
            return VELLPORT_OK;
        }
        if (endpoint) {
            return talkToUrl("VellPortSendTo", target, std::string(name), *endpoint,
                             portlink::normalisedParams(params), portlink::NetworkLink::Clock::now(), data,
                             count, false, nullptr);
        }
        return sendToPath("VellPortSendTo", target, std::string(name), portlink::normalisedParams(params),
                          portlink::SerialLink::Clock::now(), data, count);
    } catch (const std::exception& error) {
        return fail("VellPortSendTo", target, {}, VELLPORT_ERR_IO,
                    std::string("internal error: ") + error.what());
    } catch (...) {
        return fail("VellPortSendTo", target, {}, VELLPORT_ERR_IO, "internal error");
    }
}

int VellPortProbe(const char* target, int baudRate, int dataBits, char parity, int stopBits, int flowControl,
                  int* confirmedRate) {
    clearLastError();
    if (confirmedRate != nullptr) {
        *confirmedRate = 0;
    }
    try {
        const std::optional<portlink::Endpoint> endpoint =
            target != nullptr ? portlink::parseEndpoint(target) : std::nullopt;
        if (!endpoint) {
            return fail("VellPortProbe", target, {}, VELLPORT_ERR_NAME,
                        "not an endpoint (rfc2217://HOST:PORT or tcp://HOST:PORT)");
        }
        const PortParams params{baudRate, dataBits, parity, stopBits, flowControl};
        if (const std::string problem = portlink::checkParams(params); !problem.empty()) {
            return fail("VellPortProbe", target, target, VELLPORT_ERR_ARG, problem);
        }
        return talkToUrl("VellPortProbe", target, target, *endpoint, portlink::normalisedParams(params),
                         portlink::NetworkLink::Clock::now(), nullptr, 0, true, confirmedRate);
    } catch (const std::exception& error) {
        return fail("VellPortProbe", target, {}, VELLPORT_ERR_IO,
                    std::string("internal error: ") + error.what());
    } catch (...) {
        return fail("VellPortProbe", target, {}, VELLPORT_ERR_IO, "internal error");
    }
}

int VellPortExplainPermission(const char* path, const char** group) {
    clearLastError();
    if (group != nullptr) {
        *group = nullptr;
    }
    try {
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
        switch (advice.fix) {
        case portlink::PermissionFix::JoinGroup:
            return VELLPORT_FIX_JOIN_GROUP;
        case portlink::PermissionFix::LogInAgain:
            return VELLPORT_FIX_LOG_IN_AGAIN;
        case portlink::PermissionFix::UdevRule:
            return VELLPORT_FIX_UDEV_RULE;
        case portlink::PermissionFix::SystemRefuses:
            break;
        }
        return VELLPORT_FIX_SYSTEM;
    } catch (...) {
        // Out of memory while naming the groups: the fix is unknown, which NONE stands for.
        return VELLPORT_FIX_NONE;
    }
}

void VellPortFreeDeviceList(VellPortDevice** list) {
    if (list == nullptr) {
        return;
    }
    for (VellPortDevice** device = list; *device != nullptr; ++device) {
        freeDevice(*device);
    }
    std::free(list);
}

} // extern "C"
