// Non-blocking connect and the reads and writes of one connection, all against one deadline (the name
// lookup's included) and with poll() alone, so hundreds of calls may be in flight without a thread each.
#include "NetworkLink.h"

#include "HostLookup.h"
#include "SocketWait.h"
#include "TlsModule.h"
#include "VellPortDll.h"
#include "common/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace portlink {
namespace {

using Clock = NetworkLink::Clock;
using common::errnoText;

// The host does not answer, whether the network says so at once or stays silent: the same box that is off
// gives either from run to run.
bool isUnreachable(int error) {
    return error == ENETUNREACH || error == EHOSTUNREACH || error == EHOSTDOWN || error == ENETDOWN;
}

} // namespace

NetworkLink::NetworkLink(Endpoint endpoint, const PortParams& params, Clock::time_point start,
                         std::chrono::microseconds bound)
    : m_endpoint(std::move(endpoint)), m_deadline(later(start, bound, Clock::time_point::max())),
      m_bound(std::chrono::ceil<std::chrono::milliseconds>(bound)),
      m_negotiation(rfc2217::lineRequest(params.baudRate, params.dataBits, params.parity, params.stopBits,
                                         params.flowControl)) {}

NetworkLink::~NetworkLink() {
    if (m_session != nullptr) {
        m_tls->close(m_session);
    }
}

std::string NetworkLink::address() const {
    const bool ipv6 = m_endpoint.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + m_endpoint.host + "]" : m_endpoint.host) + ":" + std::to_string(m_endpoint.port);
}

std::string NetworkLink::boundText() const {
    // Seconds, to the millisecond only where the bound has them: "2 s", "2.009 s".
    std::string text = std::to_string(m_bound.count() / 1000);
    if (const auto milliseconds = static_cast<int>(m_bound.count() % 1000); milliseconds != 0) {
        std::string fraction = std::to_string(1000 + milliseconds).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

int NetworkLink::connect(std::string& reason) {
    // Before any packet: a target without trust to check it against is not contacted at all.
    if (m_endpoint.tls && !findTlsTrust(m_endpoint.host, m_trust, reason)) {
        return VELLPORT_ERR_TLS;
    }
    if (m_endpoint.tls && (m_tls = tlsModule(reason)) == nullptr) {
        return VELLPORT_ERR_TLS;
    }
    HostLookup lookup;
    if (const int code = lookup.find(m_endpoint.host, m_endpoint.port, m_deadline, m_bound, reason);
        code != VELLPORT_OK) {
        return code;
    }
    const std::vector<addrinfo>& candidates = lookup.addresses();
    int code = VELLPORT_ERR_REFUSED;
    reason = "no address for " + address();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        // A silent first address leaves the later ones their share of the time; one reading of the clock, so
        // a share of a deadline at the clock's end stays within it.
        const Clock::time_point now = Clock::now();
        const auto share = (m_deadline - now) / static_cast<long>(candidates.size() - i);
        code = connectTo(candidates[i], now + share, reason);
        if (code == VELLPORT_OK || Clock::now() >= m_deadline) {
            break;
        }
    }
    return code;
}

int NetworkLink::connectTo(const addrinfo& candidate, Clock::time_point attemptDeadline,
                           std::string& reason) {
    common::UniqueFd socket(::socket(
        candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, candidate.ai_protocol));
    if (!socket.valid()) {
        reason = "cannot make a socket: " + errnoText(errno);
        return VELLPORT_ERR_IO;
    }
    // Small commands and small replies: neither side may hold them back for coalescing.
    setOption(socket.get(), IPPROTO_TCP, TCP_NODELAY);
    const Clock::time_point connecting = Clock::now();
    if (::connect(socket.get(), candidate.ai_addr, candidate.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            return connectFailure(errno, reason);
        }
        const int ready = waitFor(socket.get(), POLLOUT, attemptDeadline);
        if (ready == 0) {
            return connectFailure(ETIMEDOUT, reason);
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (ready < 0 || ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            error = errno;
        }
        if (error != 0) {
            return connectFailure(error, reason);
        }
    }
    setOption(socket.get(), IPPROTO_TCP, TCP_QUICKACK);
    m_connectTime = Clock::now() - connecting;
    m_socket = std::move(socket);
    return VELLPORT_OK;
}

int NetworkLink::connectFailure(int error, std::string& reason) const {
    if (error == ECONNREFUSED) {
        reason = "the box answered, and nothing listens on that port";
        return VELLPORT_ERR_REFUSED;
    }
    if (isUnreachable(error)) {
        reason =
            "no route to host: the box is off or unreachable (" + address() + ": " + errnoText(error) + ")";
        return VELLPORT_ERR_TIMEOUT;
    }
    if (error == ETIMEDOUT) {
        reason = "no answer from " + address() + " within " + boundText();
        return VELLPORT_ERR_TIMEOUT;
    }
    reason = "cannot connect to " + address() + ": " + errnoText(error);
    return VELLPORT_ERR_IO;
}

int NetworkLink::readSome(std::uint8_t* buffer, std::size_t size, std::size_t& got, std::string& reason,
                          Clock::time_point until) {
    got = 0;
    until = std::min(until, m_deadline);
    m_readFailure = VELLPORT_ERR_IO;
    if (m_session != nullptr) {
        return readTls(buffer, size, got, reason, until);
    }
    for (;;) {
        // Past the deadline nothing more is read, however much keeps coming: a server that never stops
        // talking must not stretch the call.
        const int ready = Clock::now() < until ? waitFor(m_socket.get(), POLLIN, until) : 0;
        if (ready == 0) {
            return -1;
        }
        const ssize_t count = ready < 0 ? -1 : ::recv(m_socket.get(), buffer, size, 0);
        if (count > 0) {
            // Quick acknowledgement is not sticky: asked again after every read, so replies are not held.
            setOption(m_socket.get(), IPPROTO_TCP, TCP_QUICKACK);
            got = static_cast<std::size_t>(count);
            return 1;
        }
        if (count == 0 || errno == ECONNRESET) {
            return 0;
        }
        if (errno != EINTR && errno != EAGAIN) {
            reason = "reading from " + address() + " failed: " + errnoText(errno);
            return -2;
        }
    }
}

int NetworkLink::writeAll(const std::uint8_t* bytes, std::size_t count, std::string& reason) {
    std::size_t sent = 0;
    while (sent < count) {
        // A plain send's outcome reads as a session's step, so both share the waiting and the words.
        std::array<char, kTlsErrorSize> error{};
        std::size_t written = 0;
        int step = VELL_TLS_WANT_WRITE;
        if (m_session != nullptr) {
            step = m_tls->write(m_session, bytes + sent, count - sent, &written, error.data(), error.size());
        } else if (const ssize_t result = ::send(m_socket.get(), bytes + sent, count - sent, MSG_NOSIGNAL);
                   result > 0) {
            step = VELL_TLS_DONE;
            written = static_cast<std::size_t>(result);
        } else if (errno == EPIPE || errno == ECONNRESET) {
            step = VELL_TLS_CLOSED;
        } else if (errno != EAGAIN && errno != EINTR) {
            reason = "writing to " + address() + " failed: " + errnoText(errno);
            return VELLPORT_ERR_IO;
        }
        if (step == VELL_TLS_DONE) {
            sent += written;
            continue;
        }
        if (step == VELL_TLS_CLOSED) {
            reason = "the server at " + address() + " closed the connection early";
            return VELLPORT_ERR_PROTOCOL;
        }
        if (step == VELL_TLS_REFUSED || step == VELL_TLS_FAILED) {
            reason = "the server at " + address() + " ended the TLS session (" + error.data() +
                     "): " + kRefusedOurCertificate;
            return VELLPORT_ERR_TLS;
        }
        if (waitFor(m_socket.get(), step == VELL_TLS_WANT_READ ? POLLIN : POLLOUT, m_deadline) == 0) {
            reason = "the server at " + address() + " took " + std::to_string(sent) + " of " +
                     std::to_string(count) + " bytes within " + boundText();
            return VELLPORT_ERR_TIMEOUT;
        }
    }
    return VELLPORT_OK;
}

} // namespace portlink
