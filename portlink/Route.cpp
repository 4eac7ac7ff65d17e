#include "Route.h"

#include "EndpointTalk.h"
#include "EntryGuard.h"
#include "PortTable.h"
#include "SendDeadline.h"
#include "SerialLink.h"

#include <chrono>
#include <mutex>

namespace portlink {
namespace {

using Clock = std::chrono::steady_clock;

// Opens, configures, writes and drains one device path within the bound that started at start.
int sendToPath(const std::string& path, const PortParams& params, Clock::time_point start,
               const unsigned char* data, int count) {
    const auto deadline = start + sendBound(params, count);
    SerialLink link;
    std::string reason;
    int code = link.open(path, params, reason);
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
        return fail(path, code, reason);
    }
    setDelivery(VELLPORT_DELIVERY_CONFIRMED);
    return VELLPORT_OK;
}

// Connects, negotiates and sends (or only probes) within the network bound that started at start.
int talkToUrl(const std::string& url, const Endpoint& endpoint, const PortParams& params,
              Clock::time_point start, const unsigned char* data, int count, bool probe, int* confirmedRate) {
    std::string reason;
    EndpointOutcome outcome;
    const int code = talkToEndpoint(endpoint, params, start, data, count, probe, reason, outcome);
    setTls(outcome.tls ? std::optional(outcome.tlsSummary) : std::nullopt);
    if (confirmedRate != nullptr) {
        *confirmedRate = outcome.confirmedRate;
    }
    if (code != VELLPORT_OK) {
        return fail(url, code, reason);
    }
    if (!probe) {
        setDelivery(outcome.serverClosed ? VELLPORT_DELIVERY_CONFIRMED : VELLPORT_DELIVERY_ACKNOWLEDGED);
    }
    return VELLPORT_OK;
}

} // namespace

int sendToPort(int portNumber, const unsigned char* data, int count) {
    const std::lock_guard portLock(PortTable::instance().portLock(portNumber));
    const auto start = Clock::now();
    const PortParams params = PortTable::instance().params(portNumber);
    const Resolution resolution = resolvePort(portNumber, currentMapSources(portNumber), writeErrorLine);
    if (resolution.invalid) {
        return fail(resolution.invalid->place, VELLPORT_ERR_NAME, resolution.invalid->reason);
    }
    return sendToTarget(resolution.target, parseEndpoint(resolution.target), params, data, count, start);
}

int sendToTarget(const std::string& target, const std::optional<Endpoint>& endpoint, const PortParams& params,
                 const unsigned char* data, int count, std::chrono::steady_clock::time_point start) {
    if (endpoint) {
        return talkToUrl(target, *endpoint, params, start, data, count, false, nullptr);
    }
    return sendToPath(target, params, start, data, count);
}

int probeEndpoint(const std::string& url, const Endpoint& endpoint, const PortParams& params,
                  int* confirmedRate) {
    return talkToUrl(url, endpoint, params, Clock::now(), nullptr, 0, true, confirmedRate);
}

Resolution resolveSilently(int portNumber) {
    return resolvePort(portNumber, currentMapSources(portNumber), [](const std::string&) {});
}

Resolution resolveDeviceOnly(int portNumber) {
    Resolution resolution = resolveSilently(portNumber);
    if (parseEndpoint(resolution.target)) {
        resolution.target.clear();
    }
    return resolution;
}

} // namespace portlink
