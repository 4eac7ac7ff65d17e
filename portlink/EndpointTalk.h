// One whole call to a network endpoint: the connection, the negotiation, the bytes, and a close that loses
// none of them to ser2net's flush.
#pragma once

#include "NetworkLink.h"
#include "PortName.h"
#include "PortParams.h"
#include "tls/TlsApi.h"

#include <chrono>
#include <string>

namespace portlink {

// What a successful call learnt beyond its result.
struct EndpointOutcome {
    int confirmedRate = 0;     // the rate the RFC 2217 server confirmed; 0 on a raw port
    bool serverClosed = false; // the server closed its end after ours: it passed the bytes on
    bool tls = false;          // a TLS session was made; tlsSummary tells what it was
    VellTlsSummary tlsSummary{};
};

// One whole call to an endpoint within networkBound from start: connect, negotiate (RFC 2217), then either
// send the bytes and close without losing them, or, for a probe, close at once without data. Returns a
// VellPortResult code; reason says why on failure.
int talkToEndpoint(const Endpoint& endpoint, const PortParams& params, NetworkLink::Clock::time_point start,
                   const unsigned char* data, int count, bool probe, std::string& reason,
                   EndpointOutcome& outcome);

} // namespace portlink
