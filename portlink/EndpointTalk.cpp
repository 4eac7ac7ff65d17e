#include "EndpointTalk.h"

#include "SendDeadline.h"
#include "ServerWords.h"
#include "SocketWait.h"
#include "VellPortDll.h"

#include <algorithm>
#include <array>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>

namespace portlink {
namespace {

using Clock = NetworkLink::Clock;

constexpr std::chrono::milliseconds kNetworkSlack{2000};
// The least time the bytes get on a raw port before the half-close. ser2net opens its device only as the
// connection comes, so the data and the close can reach it together, and a device whose queue reads empty (a
// pseudo-terminal) is then flushed before the bytes are out. On an RFC 2217 port the device is open and set
// before the data leaves, and the wire time is enough.
constexpr std::chrono::milliseconds kRawHandOver{20};
constexpr std::size_t kReadChunk = 4096;

// How long a call to a network target may take in all: 2 s plus twice the wire time of the bytes.
std::chrono::microseconds networkBound(const PortParams& params, long long count) {
    return std::chrono::microseconds(kNetworkSlack) + 2 * wireTime(params, count);
}

} // namespace

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
    int read = 0;
    std::size_t got = 0;
    while ((read = readSome(buffer.data(), buffer.size(), got, reason)) == 1) {
        keepServerText(buffer.data(), got, serverText);
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
