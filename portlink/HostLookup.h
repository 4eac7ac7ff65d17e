// A host's addresses within a call's deadline: names go to getaddrinfo on threads of the library's own, which
// a name server that never answers may keep a little past the deadline, but no caller waits for beyond it.
#pragma once

#include <chrono>
#include <cstddef>
#include <netdb.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace portlink {

// At most this many lookup threads at once, those a hanging name server keeps included; a lookup beyond them
// waits within its deadline for one to end. Each thread has a stack of kLookupStack bytes.
inline constexpr std::size_t kMostLookupThreads = 256;
inline constexpr std::size_t kLookupStack = std::size_t{128} * 1024;

class HostLookup {
public:
    using Clock = std::chrono::steady_clock;

    HostLookup() = default;
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // Finds the stream addresses of host for port before deadline: a numeric address at once, a name by
    // getaddrinfo (so /etc/hosts, mDNS and every other source nsswitch.conf names answer as for any program).
    // Lookups of one name at the same time share one thread. Returns a VellPortResult code; on failure reason
    // says why (bound is the call's, for the words).
    int find(const std::string& host, int port, Clock::time_point deadline, std::chrono::milliseconds bound,
             std::string& reason);

    // After a successful find: the addresses in getaddrinfo's order, each entry's ai_addr pointing into this
    // object (ai_next is not set).
    const std::vector<addrinfo>& addresses() const { return m_entries; }

private:
    void keep(std::vector<sockaddr_storage> found, int port);

    std::vector<sockaddr_storage> m_storage;
    std::vector<addrinfo> m_entries;
};

} // namespace portlink
