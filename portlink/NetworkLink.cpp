// Non-blocking connect, RFC 2217 negotiation and a lossless close, all against one deadline (the name
// lookup's included) and with poll() alone, so hundreds of calls may be in flight without a thread each.
#include "NetworkLink.h"

#include "HostLookup.h"
#include "SendDeadline.h"
#include "TlsModule.h"
#include "VellPortDll.h"
#include "common/Deadline.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace portlink {
namespace {

using Clock = NetworkLink::Clock;

constexpr std::chrono::milliseconds kNetworkSlack{2000};
// The least time the bytes get on a raw port before the half-close. ser2net opens its device only as the
// connection comes, so the data and the close can reach it together, and a device whose queue reads empty (a
// pseudo-terminal) is then flushed before the bytes are out: seen in about 1 of 60 raw sends. On an RFC 2217
// port the device is open and set before the data leaves, and the wire time is enough.
constexpr std::chrono::milliseconds kRawHandOver{20};
constexpr std::size_t kReadChunk = 4096;
// How long a TLS target's server gets to speak first, as a plain telnet server does, before the ClientHello;
// twice the connect's round trip when that is longer.
constexpr std::chrono::milliseconds kPlainServerWait{20};
constexpr std::size_t kTlsErrorSize = 256;
constexpr const char* kRefusedOurCertificate = "it refused our certificate, or wants one; see tls/client.pem";
constexpr std::size_t kLongestServerText = 80;

using common::errnoText;
using common::remainingMilliseconds;

// from + wait, or cap when that is later or beyond the clock's range: a bound of centuries must not wrap.
Clock::time_point later(Clock::time_point from, std::chrono::microseconds wait, Clock::time_point cap) {
    return wait >= std::chrono::duration_cast<std::chrono::microseconds>(cap - from) ? cap : from + wait;
}

// Waits for events on fd until one comes or the deadline has passed, however far off the deadline is: 1
// ready, 0 the deadline passed, -1 failed (errno set).
int waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd waiting{fd, events, 0};
        const int ready = ::poll(&waiting, 1, remainingMilliseconds(deadline));
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return ready > 0 ? 1 : -1;
        }
        if (ready == 0 && Clock::now() >= deadline) {
            return 0;
        }
    }
}

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

// ser2net's words when it turns a client away ("Port already in use" while another client holds its
// device, "Device open failure" when its device cannot be opened) as a result with its reason; VELLPORT_OK
// for any other words. Only the words tell these from the rest.
int refusal(const std::string& said, const std::string& address, std::string& reason) {
    if (said.find("in use") != std::string::npos) {
        reason = "another client holds the port at " + address + " (it said \"" + said + "\")";
        return VELLPORT_ERR_BUSY;
    }
    if (said.find("Device open failure") != std::string::npos) {
        reason = "the server at " + address + " cannot open its serial device (it said \"" + said + "\")";
        return VELLPORT_ERR_NO_DEVICE;
    }
    return VELLPORT_OK;
}

// A server that closes before it was asked to has refused the client, in words or without.
int closedEarly(std::string what, const std::string& serverText, const std::string& address,
                std::string& reason) {
    const std::string said = serverWords(serverText);
    if (const int code = refusal(said, address, reason); code != VELLPORT_OK) {
        return code;
    }
    if (!said.empty()) {
        what += " (it said \"" + said + "\")";
    }
    reason = std::move(what);
    return VELLPORT_ERR_PROTOCOL;
}

// Keeps the first words a server sends, for the reason should it close early.
void keepText(std::string& kept, const std::uint8_t* bytes, std::size_t count) {
    kept.append(bytes, bytes + std::min(count, kLongestServerText - kept.size()));
}

void setOption(int fd, int level, int option) {
    const int on = 1;
    ::setsockopt(fd, level, option, &on, sizeof on);
}

// The host does not answer, whether the network says so at once or stays silent: the same box that is off
// gives either from run to run.
bool isUnreachable(int error) {
    return error == ENETUNREACH || error == EHOSTUNREACH || error == EHOSTDOWN || error == ENETDOWN;
}

} // namespace

std::chrono::microseconds networkBound(const PortParams& params, long long count) {
    return std::chrono::microseconds(kNetworkSlack) + 2 * wireTime(params, count);
}

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

int NetworkLink::confirmedRate() const {
    return static_cast<int>(m_negotiation.confirmedBaudRate().value_or(0));
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
    std::vector<const addrinfo*> candidates;
    for (const addrinfo& entry : lookup.addresses()) {
        candidates.push_back(&entry);
    }
    int code = VELLPORT_ERR_REFUSED;
    reason = "no address for " + address();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        // A silent first address leaves the later ones their share of the time; one reading of the clock, so
        // a share of a deadline at the clock's end stays within it.
        const Clock::time_point now = Clock::now();
        const auto share = (m_deadline - now) / static_cast<long>(candidates.size() - i);
        code = connectTo(*candidates[i], now + share, reason);
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
            const int error = errno;
            return connectFailure(error, reason);
        }
        const int ready = waitFor(socket.get(), POLLOUT, attemptDeadline);
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

int NetworkLink::readTls(std::uint8_t* buffer, std::size_t size, std::size_t& got, std::string& reason,
                         Clock::time_point until) {
    for (;;) {
        std::array<char, kTlsErrorSize> error{};
        const int step = m_tls->read(m_session, buffer, size, &got, error.data(), error.size());
        if (step == VELL_TLS_DONE) {
            setOption(m_socket.get(), IPPROTO_TCP, TCP_QUICKACK);
            m_heardData = true;
            return 1;
        }
        if (step == VELL_TLS_CLOSED && (m_heardData || m_halfClosed)) {
            return 0;
        }
        if (step == VELL_TLS_CLOSED || step == VELL_TLS_REFUSED || step == VELL_TLS_FAILED) {
            // Under TLS 1.3 a server that refuses the client's certificate, or wants one, shows it only so.
            reason = step == VELL_TLS_CLOSED ? std::string("the server closed right after the handshake: ") +
                                                   kRefusedOurCertificate
                                             : "the server at " + address() + " ended the TLS session (" +
                                                   error.data() + "): " + kRefusedOurCertificate;
            m_readFailure = VELLPORT_ERR_TLS;
            return -2;
        }
        const int ready = Clock::now() < until
                              ? waitFor(m_socket.get(), step == VELL_TLS_WANT_WRITE ? POLLOUT : POLLIN, until)
                              : 0;
        if (ready == 0) {
            return -1;
        }
        if (ready < 0) {
            reason = "reading from " + address() + " failed: " + errnoText(errno);
            return -2;
        }
    }
}

int NetworkLink::writeTls(const std::uint8_t* bytes, std::size_t count, std::string& reason) {
    std::size_t sent = 0;
    while (sent < count) {
        std::array<char, kTlsErrorSize> error{};
        std::size_t written = 0;
        const int step =
            m_tls->write(m_session, bytes + sent, count - sent, &written, error.data(), error.size());
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

int NetworkLink::plainServer(std::string& reason) {
    std::array<std::uint8_t, kLongestServerText> said{};
    const ssize_t count = ::recv(m_socket.get(), said.data(), said.size(), 0);
    if (count < 0) {
        reason = "reading from " + address() + " failed: " + errnoText(errno);
        return VELLPORT_ERR_IO;
    }
    if (count > 0 && said[0] == rfc2217::kIac) {
        reason = "the server at " + address() + " is a plain RFC 2217 port: map it as rfc2217://";
        return VELLPORT_ERR_PROTOCOL;
    }
    const std::string text(said.begin(), said.begin() + count);
    return closedEarly("the server at " + address() +
                           (count == 0
                                ? " closed the connection before the TLS handshake"
                                : " spoke before the TLS handshake, as a plain port does (map it as tcp://)"),
                       text, address(), reason);
}

int NetworkLink::secure(std::string& reason) {
    // The session is set up (no byte written) while the server has its time to speak first.
    const Clock::time_point listenedFrom = Clock::now();
    std::array<char, kTlsErrorSize> error{};
    const std::string name = m_endpoint.name.empty() ? m_endpoint.host : m_endpoint.name;
    const VellTlsCredentials credentials{m_trust.ca.data(),
                                         m_trust.ca.size(),
                                         m_trust.clientCertificate.empty() ? nullptr
                                                                           : m_trust.clientCertificate.data(),
                                         m_trust.clientCertificate.size(),
                                         m_trust.clientKey.empty() ? nullptr : m_trust.clientKey.data(),
                                         m_trust.clientKey.size(),
                                         name.c_str()};
    m_session = m_tls->open(m_socket.get(), &credentials, error.data(), error.size());
    if (m_session == nullptr) {
        reason = std::string(error.data()) + " (in " + m_trust.folder + ")";
        return VELLPORT_ERR_TLS;
    }
    // A TLS client speaks first; a plain server that did would get the ClientHello as data for its device.
    const auto wait = std::max<Clock::duration>(kPlainServerWait, 2 * m_connectTime);
    const int spoke =
        waitFor(m_socket.get(), POLLIN,
                later(listenedFrom, std::chrono::duration_cast<std::chrono::microseconds>(wait), m_deadline));
    if (spoke != 0) {
        return plainServer(reason);
    }
    for (;;) {
        const int step = m_tls->handshake(m_session, error.data(), error.size());
        if (step == VELL_TLS_DONE) {
            return VELLPORT_OK;
        }
        if (step == VELL_TLS_CLOSED || step == VELL_TLS_REFUSED) {
            reason = "the server at " + address() + " ended the TLS handshake" +
                     (step == VELL_TLS_REFUSED ? " (" + std::string(error.data()) + ")" : std::string()) +
                     ": " + kRefusedOurCertificate;
            return VELLPORT_ERR_TLS;
        }
        if (step == VELL_TLS_FAILED) {
            reason = "TLS with " + address() + ": " + error.data() + " (trust from " + m_trust.folder + ")";
            return VELLPORT_ERR_TLS;
        }
        if (waitFor(m_socket.get(), step == VELL_TLS_WANT_WRITE ? POLLOUT : POLLIN, m_deadline) == 0) {
            reason = "no TLS handshake with " + address() + " within " + boundText();
            return VELLPORT_ERR_TIMEOUT;
        }
    }
}

VellTlsSummary NetworkLink::tlsSummary() const {
    VellTlsSummary summary{};
    if (m_session != nullptr) {
        m_tls->summary(m_session, &summary);
    }
    return summary;
}

int NetworkLink::writeAll(const std::uint8_t* bytes, std::size_t count, std::string& reason) {
    if (m_session != nullptr) {
        return writeTls(bytes, count, reason);
    }
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
        if (waitFor(m_socket.get(), POLLOUT, m_deadline) == 0) {
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
    bool heard = false;
    while (!m_negotiation.confirmed()) {
        std::size_t got = 0;
        const int read = readSome(buffer.data(), buffer.size(), got, reason);
        if (read == -2) {
            return m_readFailure;
        }
        if (read == -1) {
            if (!m_negotiation.comPortAgreed() && heard) {
                const std::string what = "telnet without the option, or a raw TCP port whose device talks";
                reason = "the server at " + address() +
                         " did not ask for the RFC 2217 serial port option within " + boundText() +
                         ", though it sent other bytes: " + what + " (then map it as tcp://)";
                return VELLPORT_ERR_PROTOCOL;
            }
            if (!m_negotiation.comPortAgreed()) {
                reason = "no answer to the RFC 2217 opening within " + boundText() +
                         ": the server is silent, or the port is raw TCP (then map it as tcp://)";
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
                serverText, address(), reason);
        }
        heard = true;
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
    m_wroteData = count > 0;
    if (m_endpoint.kind == Endpoint::Kind::RawTcp) {
        return writeAll(data, static_cast<std::size_t>(count), reason);
    }
    const rfc2217::Bytes escaped = rfc2217::escapeData(data, static_cast<std::size_t>(count));
    return writeAll(escaped.data(), escaped.size(), reason);
}

void NetworkLink::keepServerText(const std::uint8_t* bytes, std::size_t count, std::string& kept) {
    if (m_endpoint.kind == Endpoint::Kind::RawTcp) {
        keepText(kept, bytes, count);
        return;
    }
    // Only the data of a telnet stream is text; its commands would read as stray letters.
    m_negotiation.feed(bytes, count);
    const rfc2217::Bytes text = m_negotiation.takeData();
    keepText(kept, text.data(), text.size());
}

int NetworkLink::finish(std::chrono::microseconds settle, std::string& reason) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    std::string serverText;
    // ser2net flushes its device when the client's end closes (TCIOFLUSH after an empty TIOCOUTQ): bytes it
    // handed on but not yet through would be lost, so they get their wire time before the half-close.
    const Clock::time_point settled = later(Clock::now(), settle, m_deadline);
    for (auto left = settled - Clock::now(); left > Clock::duration::zero(); left = settled - Clock::now()) {
        // ppoll, to the microsecond: a few bytes' wire time is shorter than poll()'s millisecond.
        const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
        const timespec timeout{microseconds / 1'000'000, (microseconds % 1'000'000) * 1000};
        pollfd waiting{m_socket.get(), POLLIN, 0};
        if (::ppoll(&waiting, 1, &timeout, nullptr) == 1) {
            std::size_t got = 0;
            const int read = readSome(buffer.data(), buffer.size(), got, reason, settled);
            if (read == 0) {
                // Before our half-close: the server turned the connection away, and the bytes went nowhere.
                return closedEarly("the server at " + address() +
                                       (m_wroteData ? " closed the connection before the data was through"
                                                    : " turned the connection away"),
                                   serverText, address(), reason);
            }
            if (read == -2) {
                return m_readFailure;
            }
            if (read == -1) {
                break;
            }
            keepServerText(buffer.data(), got, serverText);
        }
    }
    if (m_session != nullptr) {
        m_tls->closeNotify(m_session);
    }
    m_halfClosed = true;
    ::shutdown(m_socket.get(), SHUT_WR);
    // What the server says until its close counts too: through a tunnel its refusal may come only now.
    int read = 1;
    while (read == 1) {
        std::size_t got = 0;
        read = readSome(buffer.data(), buffer.size(), got, reason);
        if (read == 1) {
            keepServerText(buffer.data(), got, serverText);
        }
    }
    if (read == -2) {
        return m_readFailure;
    }
    if (const int code = refusal(serverWords(serverText), address(), reason); code != VELLPORT_OK) {
        return code;
    }
    if (read == 0) {
        m_serverClosed = true;
        return VELLPORT_OK;
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
    if (code == VELLPORT_OK && endpoint.tls) {
        code = link.secure(reason);
        outcome.tls = code == VELLPORT_OK;
        outcome.tlsSummary = link.tlsSummary();
    }
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

} // namespace portlink
