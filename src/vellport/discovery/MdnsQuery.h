// One mDNS question asked on every interface that is up and multicast-capable, and the answers gathered.
#pragma once

#include "vellport/discovery/MdnsMessage.h"

#include <chrono>
#include <string>
#include <vector>

namespace vellport::discovery {

// The answers that came from the mDNS port within the bound, as sent; sent counts the datagrams that left.
// problem says why nothing could be asked (no socket, no interface), empty when something was sent.
struct Gathered {
    std::vector<Bytes> answers;
    std::size_t sent = 0;
    std::string problem;
};

// Sends query from an ephemeral port (a legacy unicast query) to 224.0.0.251:5353 and [ff02::fb]:5353 on each
// interface, then gathers answers until bound has passed, whatever came. VELLPORT_MDNS_ADDRESS=IPV4:PORT asks
// that one address instead, for a responder on a link of the caller's own.
Gathered askAllInterfaces(const Bytes& query, std::chrono::milliseconds bound);

} // namespace vellport::discovery
