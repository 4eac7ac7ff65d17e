// The TLS side of a connection: a check that the server is no plain one that speaks first, the handshake,
// and the reads and writes through the session.
#include "NetworkLink.h"
#include "ServerWords.h"
#include "SocketWait.h"
#include "VellPortDll.h"
#include "common/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace portlink {
namespace {

using Clock = NetworkLink::Clock;

// How long a TLS target's server gets to speak first, as a plain telnet server does, before the ClientHello;
// twice the connect's round trip when that is longer.
constexpr std::chrono::milliseconds kPlainServerWait{20};

using common::errnoText;

} // namespace

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

} // namespace portlink
