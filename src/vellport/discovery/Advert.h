// ser2net's mDNS adverts as displays: the endpoint URL its gensio stack leads to, and the administrator's
// TXT.
#pragma once

#include "vellport/discovery/MdnsMessage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vellport::discovery {

struct Advert {
    std::string name; // the instance's own label, e.g. "front-desk"
    std::string host; // the SRV target, e.g. "counter-pi.local"
    std::uint16_t port = 0;
    std::vector<std::string> addresses; // IPv4 first, then IPv6, as the answers gave them
    std::string stack;                  // TXT gensiostack
    std::string url;                    // empty when the stack is not one vellport reaches
    std::string unsupported;            // why not, when url is empty
    std::vector<std::string> details;   // the other TXT entries ("location=front desk"), in the order sent
};

// The URL a ser2net gensio stack leads to on host and port, or why there is none: the URL in first, the
// reason in second (one of the two is empty).
std::pair<std::string, std::string> stackUrl(const std::string& stack, const std::string& host,
                                             std::uint16_t port);

// The adverts of serviceType in the answers, one per instance however many answers named it, in name order;
// only instances with an SRV record and TXT provider=ser2net.
std::vector<Advert> serialAdverts(const std::vector<MdnsAnswer>& answers, const Name& serviceType);

} // namespace vellport::discovery
