// One connection to a network endpoint (ser2net's RFC 2217 or raw TCP port) within one deadline: name
// lookup, connect, negotiation, data, and a close that loses nothing.
#pragma once

#include "PortName.h"
#include "PortParams.h"
#include "Rfc2217.h"
#include "TlsTrust.h"
#include "common/UniqueFd.h"
#include "tls/TlsApi.h"

#include <chrono>
#include <string>

struct addrinfo;

namespace portlink {

class NetworkLink {
public:
    using Clock = std::chrono::steady_clock;

    // start + bound is the deadline of every step.
    NetworkLink(Endpoint endpoint, const PortParams& params, Clock::time_point start,
                std::chrono::microseconds bound);
    NetworkLink(const NetworkLink&) = delete;
    NetworkLink& operator=(const NetworkLink&) = delete;
    ~NetworkLink();

    // Each step returns a VellPortResult code; on failure reason says why in plain words.
    int connect(std::string& reason);
    // A TLS target: makes sure the server is not a plain one that speaks first, then the handshake against
    // the pinned trust. Writes nothing to a server that spoke.
    int secure(std::string& reason);
    // After secure: what the session is, for a probe.
    VellTlsSummary tlsSummary() const;
    // RFC 2217 only: waits for the server's request for the option, sets the line and waits for the four
    // confirmations. Writes nothing before the request came.
    int negotiate(std::string& reason);
    // The bytes as data: 0xFF doubled on a telnet connection.
    int write(const unsigned char* data, int count, std::string& reason);
    // Gives the bytes their time to pass the server (settle), half-closes and waits for the server to close,
    // so ser2net has passed on what it holds.
    int finish(std::chrono::microseconds settle, std::string& reason);
    // After a successful finish: the server closed its end (rather than only acknowledging the bytes).
    bool serverClosed() const { return m_serverClosed; }

    // The rate the server confirmed, 0 before that or on a raw port.
    int confirmedRate() const { return static_cast<int>(m_negotiation.confirmedBaudRate().value_or(0)); }
    // "HOST:PORT", IPv6 addresses in brackets.
    std::string address() const;

private:
    static constexpr std::size_t kTlsErrorSize = 256;
    static constexpr const char* kRefusedOurCertificate =
        "it refused our certificate, or wants one; see tls/client.pem";

    int connectTo(const ::addrinfo& candidate, Clock::time_point attemptDeadline, std::string& reason);
    int connectFailure(int error, std::string& reason) const;
    int writeAll(const std::uint8_t* bytes, std::size_t count, std::string& reason);
    // Waits for bytes within the deadline and reads them: 1 read, 0 closed by the server, -1 timed out,
    // -2 failed (reason set, m_readFailure the result). Waits until the deadline, or until until when given.
    int readSome(std::uint8_t* buffer, std::size_t size, std::size_t& got, std::string& reason,
                 Clock::time_point until = Clock::time_point::max());
    int readTls(std::uint8_t* buffer, std::size_t size, std::size_t& got, std::string& reason,
                Clock::time_point until);
    // A plain server speaks first: reads what it said, and judges it without writing a byte.
    int plainServer(std::string& reason);
    std::string boundText() const;
    // Keeps the first words the server sends, for the reason should it refuse the client.
    void keepServerText(const std::uint8_t* bytes, std::size_t count, std::string& kept);

    Endpoint m_endpoint;
    Clock::time_point m_deadline;
    std::chrono::milliseconds m_bound;
    rfc2217::Negotiation m_negotiation;
    common::UniqueFd m_socket;
    bool m_serverClosed = false;
    bool m_wroteData = false;
    Clock::duration m_connectTime{};
    TlsTrust m_trust;
    const VellTlsApi* m_tls = nullptr;
    void* m_session = nullptr;
    bool m_heardData = false;
    bool m_halfClosed = false;
    int m_readFailure = 0;
};

} // namespace portlink
