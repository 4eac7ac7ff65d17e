// The serial-or-network route: what a COM name leads to, then the serial link for a device path or the
// network link for an endpoint URL. Failures go through the entry guard's fail().
#pragma once

#include "PortMapping.h"
#include "PortName.h"
#include "PortParams.h"

#include <chrono>
#include <optional>
#include <string>

namespace portlink {

// Sends to what COM<portNumber> leads to, under the port's lock, with the parameters stored for it.
int sendToPort(int portNumber, const unsigned char* data, int count);

// Sends to a device path, or to endpoint when one is given, within the send bound from start.
int sendToTarget(const std::string& target, const std::optional<Endpoint>& endpoint, const PortParams& params,
                 const unsigned char* data, int count,
                 std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now());

// Connects and negotiates params without sending; confirmedRate, when not null, gets the rate the server
// confirmed (0 on a raw port or on failure).
int probeEndpoint(const std::string& url, const Endpoint& endpoint, const PortParams& params,
                  int* confirmedRate);

// Map warnings are SendData's to give; a description, asked for often, stays silent.
Resolution resolveSilently(int portNumber);

// resolveSilently with an endpoint URL's target left empty: a URL is no device, and a listing must not take
// it for a path relative to the working folder.
Resolution resolveDeviceOnly(int portNumber);

} // namespace portlink
