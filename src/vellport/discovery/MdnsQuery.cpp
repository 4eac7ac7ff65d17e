#include "vellport/discovery/MdnsQuery.h"

#include "common/Deadline.h"
#include "common/Text.h"
#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <utility>

namespace vellport::discovery {

namespace {

constexpr std::uint16_t kMdnsPort = 5353;
constexpr const char* kGroupV4 = "224.0.0.251";
constexpr const char* kGroupV6 = "ff02::fb";
// Link-local traffic: the hop limit mDNS uses, so a responder that checks it takes the question.
constexpr int kHopLimit = 255;
// The largest datagram an interface carries; a longer answer is cut and then refused by the parser.
constexpr std::size_t kLargestDatagram = 9000;

common::UniqueFd openSocket(int family) {
    common::UniqueFd socket(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.valid() && family == AF_INET6) {
        const int on = 1;
        ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &kHopLimit, sizeof kHopLimit);
    } else if (socket.valid()) {
        const unsigned char ttl = kHopLimit;
        ::setsockopt(socket.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    }
    return socket;
}

// The interface indexes, per family, of the interfaces that are up, multicast-capable and hold an address.
std::set<std::pair<int, unsigned>> multicastInterfaces() {
    std::set<std::pair<int, unsigned>> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return found;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0 ||
            (entry->ifa_flags & IFF_MULTICAST) == 0) {
            continue;
        }
        const int family = entry->ifa_addr->sa_family;
        if (const unsigned index = ::if_nametoindex(entry->ifa_name);
            index != 0 && (family == AF_INET || family == AF_INET6)) {
            found.emplace(family, index);
        }
    }
    ::freeifaddrs(list);
    return found;
}

bool sendOn(const common::UniqueFd& socket, int family, unsigned index, const Bytes& query) {
    if (family == AF_INET) {
        ip_mreqn request{};
        request.imr_ifindex = static_cast<int>(index);
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(kMdnsPort);
        ::inet_pton(AF_INET, kGroupV4, &group.sin_addr);
        return ::setsockopt(socket.get(), IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) == 0 &&
               ::sendto(socket.get(), query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&group),
                        sizeof group) == static_cast<ssize_t>(query.size());
    }
    sockaddr_in6 group{};
    group.sin6_family = AF_INET6;
    group.sin6_port = htons(kMdnsPort);
    group.sin6_scope_id = index;
    ::inet_pton(AF_INET6, kGroupV6, &group.sin6_addr);
    return ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) == 0 &&
           ::sendto(socket.get(), query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&group),
                    sizeof group) == static_cast<ssize_t>(query.size());
}

// VELLPORT_MDNS_ADDRESS as an IPv4 address and port, when it is set and one.
std::optional<sockaddr_in> chosenAddress() {
    const char* value = std::getenv("VELLPORT_MDNS_ADDRESS");
    const std::string_view text = value != nullptr ? value : "";
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    const long port = std::strtol(std::string(text.substr(colon + 1)).c_str(), nullptr, 10);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port <= 0 || port > 65535 ||
        ::inet_pton(AF_INET, std::string(text.substr(0, colon)).c_str(), &address.sin_addr) != 1) {
        return std::nullopt;
    }
    return address;
}

// Every datagram waiting on socket that comes from the port answers come from.
void takeAnswers(int socket, std::uint16_t answerPort, std::vector<Bytes>& answers) {
    Bytes buffer(kLargestDatagram);
    for (;;) {
        sockaddr_storage from{};
        socklen_t fromSize = sizeof from;
        const ssize_t size = ::recvfrom(socket, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < 0) {
            return;
        }
        const std::uint16_t port = from.ss_family == AF_INET6
                                       ? reinterpret_cast<sockaddr_in6*>(&from)->sin6_port
                                       : reinterpret_cast<sockaddr_in*>(&from)->sin_port;
        if (ntohs(port) == answerPort) {
            answers.emplace_back(buffer.begin(), buffer.begin() + size);
        }
    }
}

} // namespace

Gathered askAllInterfaces(const Bytes& query, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    Gathered gathered;
    std::vector<common::UniqueFd> sockets;
    std::uint16_t answerPort = kMdnsPort;
    // A test that meant one address never asks the real network instead.
    if (std::getenv("VELLPORT_MDNS_ADDRESS") != nullptr && !chosenAddress()) {
        gathered.problem = "VELLPORT_MDNS_ADDRESS is not IPV4:PORT";
        return gathered;
    }
    if (const std::optional<sockaddr_in> address = chosenAddress()) {
        answerPort = ntohs(address->sin_port);
        common::UniqueFd socket = openSocket(AF_INET);
        if (socket.valid() && ::sendto(socket.get(), query.data(), query.size(), 0,
                                       reinterpret_cast<const sockaddr*>(&*address),
                                       sizeof *address) == static_cast<ssize_t>(query.size())) {
            ++gathered.sent;
        }
        gathered.problem = "cannot send to " + std::string(std::getenv("VELLPORT_MDNS_ADDRESS")) + ": " +
                           common::errnoText(errno);
        sockets.push_back(std::move(socket));
    } else {
        common::UniqueFd ipv4 = openSocket(AF_INET);
        const int ipv4Error = errno;
        common::UniqueFd ipv6 = openSocket(AF_INET6);
        if (!ipv4.valid() && !ipv6.valid()) {
            gathered.problem = "no socket could be opened: " + common::errnoText(ipv4Error);
            return gathered;
        }
        for (const auto& [family, index] : multicastInterfaces()) {
            const common::UniqueFd& socket = family == AF_INET ? ipv4 : ipv6;
            if (socket.valid() && sendOn(socket, family, index, query)) {
                ++gathered.sent;
            } else {
                gathered.problem = "cannot send on an interface: " + common::errnoText(errno);
            }
        }
        if (gathered.sent == 0 && gathered.problem.empty()) {
            gathered.problem = "no interface is up and multicast-capable";
        }
        sockets.push_back(std::move(ipv4));
        sockets.push_back(std::move(ipv6));
    }
    if (gathered.sent == 0) {
        return gathered;
    }
    gathered.problem.clear();
    std::vector<pollfd> waits;
    for (const common::UniqueFd& socket : sockets) {
        if (socket.valid()) {
            waits.push_back({socket.get(), POLLIN, 0});
        }
    }
    // Several displays may answer, each at its own pace: the whole bound is waited for.
    while (const int left = common::remainingMilliseconds(deadline)) {
        if (::poll(waits.data(), waits.size(), left) < 0 && errno != EINTR) {
            break;
        }
        for (pollfd& wait : waits) {
            // An error (a port unreachable) is taken by the read too, or poll would report it again at once.
            if (wait.revents != 0) {
                takeAnswers(wait.fd, answerPort, gathered.answers);
            }
            wait.revents = 0;
        }
    }
    return gathered;
}

} // namespace vellport::discovery
