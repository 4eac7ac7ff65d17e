// Name lookup that can be abandoned, non-blocking connect, RFC 2217 negotiation and a lossless close, all
// against one deadline and with poll() alone, so hundreds of calls may be in flight without a thread each.
#include "NetworkLink.h"

#include "VellPortDll.h"
#include "common/Deadline.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace vellport {
namespace {

using Clock = NetworkLink::Clock;

constexpr std::chrono::milliseconds kNetworkSlack{2000};
// The least time the bytes get on a raw port before the half-close. ser2net opens its device only as the
// connection comes, so the data and the close can reach it together, and a device whose queue reads empty (a
// pseudo-terminal) is then flushed before the bytes are out: seen in about 1 of 60 raw sends. On an RFC 2217
// port the device is open and set before the data leaves, and the wire time is enough.
constexpr std::chrono::milliseconds kRawHandOver{20};
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kLongestServerText = 80;

using common::errnoText;
using common::remainingMilliseconds;

// A server's message as one line of printable ASCII, blanks folded, for an error line.
std::string serverWords(const std::string& text) {
    std::string words;
    for (const char c : text) {
        const bool printable = c > ' ' && c < 0x7F;
        if (printable) {
            words += c;
        } else if (!words.empty() && words.back() != ' ') {
            words += ' ';
        }
    }
    while (!words.empty() && words.back() == ' ') {
        words.pop_back();
    }
    return words;
}

// A server that closes before it was asked to has refused the client: ser2net says why in a line of text
// ("Port already in use" while another client holds its device). Only that text tells busy from the rest.
int closedEarly(std::string what, const std::string& serverText, std::string& reason) {
    const std::string said = serverWords(serverText);
    if (!said.empty()) {
        what += " (it said \"" + said + "\")";
    }
    reason = std::move(what);
    return said.find("in use") != std::string::npos ? VELLPORT_ERR_BUSY : VELLPORT_ERR_PROTOCOL;
}

// Keeps the first words a server sends, for the reason should it close early.
void keepText(std::string& kept, const std::uint8_t* bytes, std::size_t count) {
    kept.append(bytes, bytes + std::min(count, kLongestServerText - kept.size()));
}

struct AddressList {
    addrinfo* head = nullptr;
    AddressList() = default;
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    ~AddressList() {
        if (head != nullptr) {
            ::freeaddrinfo(head);
        }
    }
};

// A lookup handed to glibc's resolver threads; it must live until glibc lets go of it.
struct Lookup {
    std::string host;
    std::string service;
    addrinfo hints{};
    gaicb request{};
};

// Lookups given up that glibc could not cancel; freed by a later lookup once glibc has finished them.
std::mutex g_abandonedLock;
std::vector<std::unique_ptr<Lookup>> g_abandoned;

void freeFinishedLookups() {
    const std::lock_guard lock(g_abandonedLock);
    std::erase_if(g_abandoned, [](const std::unique_ptr<Lookup>& lookup) {
        if (::gai_error(&lookup->request) == EAI_INPROGRESS) {
            return false;
        }
        if (lookup->request.ar_result != nullptr) {
            ::freeaddrinfo(lookup->request.ar_result);
        }
        return true;
    });
}

void abandon(std::unique_ptr<Lookup> lookup) {
    if (::gai_cancel(&lookup->request) == EAI_CANCELED) {
        return;
    }
    const std::lock_guard lock(g_abandonedLock);
    g_abandoned.push_back(std::move(lookup));
}

addrinfo streamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

int lookupFailure(int error, const std::string& host, std::string& reason) {
    if (error == EAI_NONAME || error == EAI_NODATA || error == EAI_FAIL || error == EAI_ADDRFAMILY) {
        reason = "host name \"" + host + "\" not found";
    } else {
        reason = "name lookup of \"" + host + "\" failed: " + ::gai_strerror(error);
    }
    return VELLPORT_ERR_HOST;
}

// Numeric hosts need no lookup at all; names go to glibc's asynchronous resolver, waited on until the
// deadline and abandoned after it, so a hanging DNS server cannot stretch the call.
int resolve(const Endpoint& endpoint, Clock::time_point deadline, std::chrono::milliseconds bound,
            AddressList& addresses, std::string& reason) {
    const std::string service = std::to_string(endpoint.port);
    const addrinfo numeric = streamHints(AI_NUMERICHOST | AI_NUMERICSERV);
    if (::getaddrinfo(endpoint.host.c_str(), service.c_str(), &numeric, &addresses.head) == 0) {
        return VELLPORT_OK;
    }
    freeFinishedLookups();
    auto lookup = std::make_unique<Lookup>();
    lookup->host = endpoint.host;
    lookup->service = service;
    // No AI_ADDRCONFIG: a box with loopback alone would find no address for localhost's names.
    lookup->hints = streamHints(AI_NUMERICSERV);
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_service = lookup->service.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* requests[] = {&lookup->request};
    if (const int error = ::getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr); error != 0) {
        return lookupFailure(error, endpoint.host, reason);
    }
    const gaicb* const waitList[] = {&lookup->request};
    while (::gai_error(&lookup->request) == EAI_INPROGRESS) {
        const int left = remainingMilliseconds(deadline);
        if (left == 0) {
            abandon(std::move(lookup));
            reason = "no answer from the name lookup of \"" + endpoint.host + "\" within " +
                     std::to_string(bound.count()) + " ms";
            return VELLPORT_ERR_TIMEOUT;
        }
        const timespec timeout{left / 1000, static_cast<long>(left % 1000) * 1'000'000L};
        ::gai_suspend(waitList, 1, &timeout);
    }
    if (const int error = ::gai_error(&lookup->request); error != 0) {
        return lookupFailure(error, endpoint.host, reason);
    }
    addresses.head = std::exchange(lookup->request.ar_result, nullptr);
    return VELLPORT_OK;
}

void setOption(int fd, int level, int option) {
    const int on = 1;
    ::setsockopt(fd, level, option, &on, sizeof on);
}

bool isUnreachable(int error) {
    return error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH || error == EADDRNOTAVAIL ||
           error == ENETDOWN || error == EHOSTDOWN || error == EAFNOSUPPORT;
}

} // namespace

std::chrono::microseconds networkBound(const PortParams& params, long long count) {
    return std::chrono::microseconds(kNetworkSlack) + 2 * wireTime(params, count);
}

NetworkLink::NetworkLink(Endpoint endpoint, const PortParams& params, Clock::time_point start,
                         std::chrono::microseconds bound)
    : m_endpoint(std::move(endpoint)), m_deadline(start + bound),
      m_bound(std::chrono::ceil<std::chrono::milliseconds>(bound)),
      m_negotiation(rfc2217::lineRequest(params.baudRate, params.dataBits, params.parity, params.stopBits,
                                         params.flowControl)) {}

std::string NetworkLink::address() const {
    const bool ipv6 = m_endpoint.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + m_endpoint.host + "]" : m_endpoint.host) + ":" + std::to_string(m_endpoint.port);
}

std::string NetworkLink::boundText() const {
    return std::to_string(m_bound.count()) + " ms";
}

int NetworkLink::confirmedRate() const {
    return static_cast<int>(m_negotiation.confirmedBaudRate().value_or(0));
}

int NetworkLink::connect(std::string& reason) {
    AddressList addresses;
    if (const int code = resolve(m_endpoint, m_deadline, m_bound, addresses, reason); code != VELLPORT_OK) {
        return code;
    }
    std::vector<const addrinfo*> candidates;
    for (const addrinfo* entry = addresses.head; entry != nullptr; entry = entry->ai_next) {
        candidates.push_back(entry);
    }
    int code = VELLPORT_ERR_REFUSED;
    reason = "no address for " + address();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        // A silent first address leaves the later ones their share of the time.
        const auto share = (m_deadline - Clock::now()) / static_cast<long>(candidates.size() - i);
        code = connectTo(*candidates[i], Clock::now() + share, reason);
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
    if (::connect(socket.get(), candidate.ai_addr, candidate.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            const int error = errno;
            return connectFailure(error, reason);
        }
        pollfd waiting{socket.get(), POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&waiting, 1, remainingMilliseconds(attemptDeadline));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            reason = "no answer from " + address() + " within " + boundText();
            return VELLPORT_ERR_TIMEOUT;
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
    m_socket = std::move(socket);
    return VELLPORT_OK;
}

int NetworkLink::connectFailure(int error, std::string& reason) const {
    if (error == ECONNREFUSED) {
        reason = address() + " refused the connection (nothing listens on that port)";
        return VELLPORT_ERR_REFUSED;
    }
    if (error == ETIMEDOUT) {
        reason = "no answer from " + address() + " within " + boundText();
        return VELLPORT_ERR_TIMEOUT;
    }
    reason = "cannot connect to " + address() + ": " + errnoText(error);
    return isUnreachable(error) ? VELLPORT_ERR_REFUSED : VELLPORT_ERR_IO;
}

int NetworkLink::readSome(std::uint8_t* buffer, std::size_t size, std::size_t& got, std::string& reason) {
    got = 0;
    for (;;) {
        pollfd waiting{m_socket.get(), POLLIN, 0};
        const int ready = ::poll(&waiting, 1, remainingMilliseconds(m_deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
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
        const ssize_t written = ::send(m_socket.get(), bytes + sent, count - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (errno == EPIPE || errno == ECONNRESET) {
            reason = "the server at " + address() + " closed the connection early";
            return VELLPORT_ERR_PROTOCOL;
        }
        if (errno != EAGAIN && errno != EINTR) {
            reason = "writing to " + address() + " failed: " + errnoText(errno);
            return VELLPORT_ERR_IO;
        }
        pollfd waiting{m_socket.get(), POLLOUT, 0};
        if (::poll(&waiting, 1, remainingMilliseconds(m_deadline)) == 0) {
            reason = "the server at " + address() + " took " + std::to_string(sent) + " of " +
                     std::to_string(count) + " bytes within " + boundText();
            return VELLPORT_ERR_TIMEOUT;
        }
    }
    return VELLPORT_OK;
}

int NetworkLink::negotiate(std::string& reason) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    std::string serverText;
    while (!m_negotiation.confirmed()) {
        std::size_t got = 0;
        const int read = readSome(buffer.data(), buffer.size(), got, reason);
        if (read == -2) {
            return VELLPORT_ERR_IO;
        }
        if (read == -1) {
            if (!m_negotiation.comPortAgreed()) {
                reason =
                    "no RFC 2217 negotiation within " + boundText() + " (a raw TCP port? map it as tcp://)";
                return VELLPORT_ERR_PROTOCOL;
            }
            reason =
                "the server at " + address() + " did not confirm the line settings within " + boundText();
            return VELLPORT_ERR_TIMEOUT;
        }
        if (read == 0) {
            return closedEarly(
                m_negotiation.comPortAgreed()
                    ? "the server at " + address() + " closed the connection during the RFC 2217 negotiation"
                    : "the server at " + address() + " closed the connection without RFC 2217 negotiation",
                serverText, reason);
        }
        m_negotiation.feed(buffer.data(), got);
        // Before the settings are in, text from the server is its reason for closing ("Port already in
        // use"), not a display's reply.
        const rfc2217::Bytes text = m_negotiation.takeData();
        keepText(serverText, text.data(), text.size());
        const rfc2217::Bytes answer = m_negotiation.takeOutgoing();
        if (const int code = writeAll(answer.data(), answer.size(), reason); code != VELLPORT_OK) {
            return code;
        }
        if (m_negotiation.comPortRefused()) {
            reason = "the server at " + address() + " withdrew the RFC 2217 serial port option";
            return VELLPORT_ERR_PROTOCOL;
        }
    }
    if (std::string mismatch = m_negotiation.settingMismatch(); !mismatch.empty()) {
        reason = std::move(mismatch);
        return VELLPORT_ERR_SETTING;
    }
    return VELLPORT_OK;
}

int NetworkLink::write(const unsigned char* data, int count, std::string& reason) {
    if (m_endpoint.kind == Endpoint::Kind::RawTcp) {
        return writeAll(data, static_cast<std::size_t>(count), reason);
    }
    const rfc2217::Bytes escaped = rfc2217::escapeData(data, static_cast<std::size_t>(count));
    return writeAll(escaped.data(), escaped.size(), reason);
}

int NetworkLink::finish(std::chrono::microseconds settle, std::string& reason) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    std::string serverText;
    // ser2net flushes its device when the client's end closes (TCIOFLUSH after an empty TIOCOUTQ): bytes it
    // handed on but not yet through would be lost, so they get their wire time before the half-close.
    const Clock::time_point settled = std::min(Clock::now() + settle, m_deadline);
    for (auto left = settled - Clock::now(); left > Clock::duration::zero(); left = settled - Clock::now()) {
        // ppoll, to the microsecond: a few bytes' wire time is shorter than poll()'s millisecond.
        const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
        const timespec timeout{microseconds / 1'000'000, (microseconds % 1'000'000) * 1000};
        pollfd waiting{m_socket.get(), POLLIN, 0};
        if (::ppoll(&waiting, 1, &timeout, nullptr) == 1) {
            std::size_t got = 0;
            const int read = readSome(buffer.data(), buffer.size(), got, reason);
            if (read == 0) {
                // Before our half-close: the server turned the connection away, and the bytes went nowhere.
                return closedEarly("the server at " + address() +
                                       " closed the connection before the data was through",
                                   serverText, reason);
            }
            if (read == -2) {
                return VELLPORT_ERR_IO;
            }
            if (read == -1) {
                break;
            }
            if (m_endpoint.kind == Endpoint::Kind::RawTcp) {
                keepText(serverText, buffer.data(), got);
            } else {
                // Only the data of a telnet stream is text; its commands would read as stray letters.
                m_negotiation.feed(buffer.data(), got);
                const rfc2217::Bytes text = m_negotiation.takeData();
                keepText(serverText, text.data(), text.size());
            }
        }
    }
    ::shutdown(m_socket.get(), SHUT_WR);
    for (;;) {
        std::size_t got = 0;
        const int read = readSome(buffer.data(), buffer.size(), got, reason);
        if (read == 0) {
            m_serverClosed = true;
            return VELLPORT_OK;
        }
        if (read == -2) {
            return VELLPORT_ERR_IO;
        }
        if (read == -1) {
            break;
        }
    }
    // A server that keeps the connection open has still taken every byte once its stack acknowledged them.
    int unacknowledged = 0;
    if (::ioctl(m_socket.get(), SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0) {
        return VELLPORT_OK;
    }
    reason = "the server at " + address() + " did not acknowledge " + std::to_string(unacknowledged) +
             " bytes within " + boundText();
    return VELLPORT_ERR_TIMEOUT;
}

int talkToEndpoint(const Endpoint& endpoint, const PortParams& params, NetworkLink::Clock::time_point start,
                   const unsigned char* data, int count, bool probe, std::string& reason,
                   EndpointOutcome& outcome) {
    outcome = {};
    NetworkLink link(endpoint, params, start, networkBound(params, probe ? 0 : count));
    int code = link.connect(reason);
    if (code == VELLPORT_OK && endpoint.kind == Endpoint::Kind::Rfc2217) {
        code = link.negotiate(reason);
        outcome.confirmedRate = link.confirmedRate();
    }
    if (code != VELLPORT_OK) {
        return code;
    }
    if (probe) {
        // A raw port says nothing when it takes a client, only when it turns one away: give it the hand-over
        // time to do so, with no data.
        return endpoint.kind == Endpoint::Kind::RawTcp ? link.finish(kRawHandOver, reason) : code;
    }
    code = link.write(data, count, reason);
    if (code == VELLPORT_OK) {
        const std::chrono::microseconds settle = wireTime(params, count);
        code = link.finish(endpoint.kind == Endpoint::Kind::RawTcp
                               ? std::max<std::chrono::microseconds>(settle, kRawHandOver)
                               : settle,
                           reason);
    }
    outcome.serverClosed = link.serverClosed();
    return code;
}

} // namespace vellport
