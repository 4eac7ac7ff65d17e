// Fuzzes map targets: an accepted endpoint URL written out again parses to the same endpoint, and a map line
// takes exactly the targets mapTargetProblem accepts.
#include "PortName.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "%s: [%.*s]\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

std::string format(const portlink::Endpoint& endpoint) {
    const bool ipv6 = endpoint.host.find(':') != std::string::npos;
    return std::string(endpoint.kind == portlink::Endpoint::Kind::Rfc2217 ? "rfc2217" : "tcp") +
           (endpoint.tls ? "+tls://" : "://") + (ipv6 ? "[" + endpoint.host + "]" : endpoint.host) + ":" +
           std::to_string(endpoint.port) + (endpoint.name.empty() ? "" : "?name=" + endpoint.name);
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view target(reinterpret_cast<const char*>(data), size);

    if (const auto endpoint = portlink::parseEndpoint(target)) {
        if (endpoint->port < 1 || endpoint->port > 65535 || endpoint->host.empty()) {
            fail("accepted an endpoint without host or port", target);
        }
        if (portlink::parseEndpoint(format(*endpoint)) != endpoint) {
            fail("the endpoint written out again parses differently", target);
        }
        if (!portlink::mapTargetProblem(target).empty()) {
            fail("an endpoint refused as a map target", target);
        }
    }

    const std::string_view path = trimmed(target);
    const portlink::MapLine line = portlink::parseMapLine("COM7=" + std::string(target));
    const bool accepted = !path.empty() && portlink::mapTargetProblem(path).empty();
    if ((line.kind == portlink::MapLine::Kind::Entry) != accepted) {
        fail(accepted ? "a map line refused an accepted target" : "a map line took a refused target", target);
    }
    if (accepted && (line.portNumber != 7 || line.target != path)) {
        fail("a map line changed its target", target);
    }
    return 0;
}
