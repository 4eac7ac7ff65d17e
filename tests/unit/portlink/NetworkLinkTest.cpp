// Network targets against tiny in-test servers: each fault ends within the bound with its code and reason,
// and the bytes that do go out arrive as the protocol wants them.
#include "PortMap.h"
#include "StderrCapture.h"
#include "VellPortDll.h"
#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using common::UniqueFd;
using Clock = std::chrono::steady_clock;

const std::string kData("\x1B\xFF\x0A\x01", 4);
const std::string kEscapedData("\x1B\xFF\xFF\x0A\x01", 5);
const std::string kWillComPort("\xFF\xFB\x2C", 3);
// Twice the documented bound for four bytes at 9600 bits/s (2 s plus twice their wire time).
constexpr std::chrono::milliseconds kTwiceBound{2 * 2010};

// One connection on a free localhost port, served on its own thread in one of a few ways; keeps what the
// client sent.
class Responder {
public:
    enum class Part { Closed, Full, Silent, CloseAfterRequest, OtherRate, Rfc2217, Raw };

    explicit Responder(Part part) : m_part(part) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size), 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        if (part == Part::Closed) {
            ::close(std::exchange(m_listener, -1)); // nothing listens there now
            return;
        }
        ::listen(m_listener, part == Part::Full ? 0 : 1);
        if (part == Part::Full) {
            // A full accept queue drops further connection attempts, as a host that drops packets does.
            for (UniqueFd& filler : m_fillers) {
                filler = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
                [[maybe_unused]] const int started =
                    ::connect(filler.get(), reinterpret_cast<sockaddr*>(&address), size);
            }
            return;
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~Responder() { received(); }
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    int port() const { return m_port; }
    // Everything the client sent, once the server has ended.
    const std::string& received() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_listener >= 0) {
            ::close(std::exchange(m_listener, -1));
        }
        return m_received;
    }

private:
    void serve() {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(kTwiceBound.count())) != 1) {
            return;
        }
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (m_part == Part::CloseAfterRequest || m_part == Part::OtherRate || m_part == Part::Rfc2217) {
            sendText(client, m_part == Part::Rfc2217 ? "\xFF\xFB\x01\xFF\xFD\x2C" : "\xFF\xFD\x2C");
        }
        const auto deadline = Clock::now() + kTwiceBound;
        std::size_t answered = 0;
        for (char buffer[512]; Clock::now() < deadline;) {
            pollfd readable{client, POLLIN, 0};
            const ssize_t got = ::poll(&readable, 1, 50) == 1 ? ::read(client, buffer, sizeof buffer) : -2;
            if (got == 0 || got == -1) {
                break;
            }
            m_received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (m_part == Part::CloseAfterRequest && m_received.size() >= kWillComPort.size()) {
                break;
            }
            answered = confirm(client, answered);
        }
        ::close(client);
    }

    // Answers every complete SET request since offset from with its confirmation (the rate 4800 for the
    // OtherRate part); returns the offset after the last one.
    std::size_t confirm(int client, std::size_t from) {
        if (m_part != Part::OtherRate && m_part != Part::Rfc2217) {
            return from;
        }
        const std::string start("\xFF\xFA\x2C", 3);
        for (std::size_t at = m_received.find(start, from); at != std::string::npos;
             at = m_received.find(start, from)) {
            const std::size_t end = m_received.find("\xFF\xF0", at);
            if (end == std::string::npos) {
                break;
            }
            std::string value = m_received.substr(at + 4, end - at - 4);
            if (m_received[at + 3] == 1 && m_part == Part::OtherRate) {
                value = std::string("\x00\x00\x12\xC0", 4);
            }
            sendText(client, start + static_cast<char>(m_received[at + 3] + 100) + value + "\xFF\xF0");
            from = end + 2;
        }
        return from;
    }

    static void sendText(int client, const std::string& text) {
        [[maybe_unused]] const ssize_t ignored = ::write(client, text.data(), text.size());
    }

    Part m_part;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_received;
    std::array<UniqueFd, 3> m_fillers;
};

enum class Call { SendTo, SendDataMapped, Probe };
enum class Received { Anything, Nothing, NoData, EscapedData, PlainData };

struct NetworkCase {
    const char* label;
    Responder::Part part;
    const char* url; // %d stands for the responder's port
    Call call;
    int result;
    const char* reasonPart;
    Received received;
    int confirmedRate;
};

// NOLINTNEXTLINE(readability-identifier-naming): the name gtest looks for
void PrintTo(const NetworkCase& row, std::ostream* out) {
    *out << row.label;
}

class NetworkTargets : public testing::TestWithParam<NetworkCase> {};

TEST_P(NetworkTargets, EndWithinTheBoundWithTheirResult) {
    const NetworkCase& row = GetParam();
    Responder responder(row.part);
    char url[128];
    std::snprintf(url, sizeof url, row.url, responder.port());
    const PortMap map(78, url);
    const auto* bytes = reinterpret_cast<const unsigned char*>(kData.data());
    int confirmedRate = -1;

    StderrCapture capture;
    const auto start = Clock::now();
    int result = 0;
    switch (row.call) {
    case Call::SendTo:
        result = VellPortSendTo(url, 9600, 8, 'N', 1, 0, bytes, 4);
        break;
    case Call::SendDataMapped:
        result = SendData("COM78", bytes, 4);
        break;
    case Call::Probe:
        result = VellPortProbe(url, 9600, 8, 'N', 1, 0, &confirmedRate);
        break;
    }
    const auto elapsed = Clock::now() - start;
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());

    EXPECT_EQ(result, row.result);
    EXPECT_LT(elapsed, kTwiceBound);
    if (row.result == VELLPORT_OK) {
        EXPECT_TRUE(lines.empty());
    } else {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines.front().find(url), std::string::npos) << lines.front();
        EXPECT_NE(lines.front().find(row.reasonPart), std::string::npos) << lines.front();
    }
    if (row.call == Call::Probe) {
        EXPECT_EQ(confirmedRate, row.confirmedRate);
    }
    const std::string& received = responder.received();
    switch (row.received) {
    case Received::Anything:
        break;
    case Received::Nothing:
        EXPECT_EQ(received, "");
        break;
    case Received::NoData:
        EXPECT_EQ(received.find(kEscapedData), std::string::npos);
        break;
    case Received::EscapedData:
        EXPECT_TRUE(received.starts_with(kWillComPort));
        EXPECT_TRUE(received.ends_with(kEscapedData));
        break;
    case Received::PlainData:
        EXPECT_EQ(received, kData);
        break;
    }
}

using Part = Responder::Part;

INSTANTIATE_TEST_SUITE_P(
    Faults, NetworkTargets,
    testing::Values(
        NetworkCase{"refused", Part::Closed, "rfc2217://127.0.0.1:%d", Call::SendTo, VELLPORT_ERR_REFUSED,
                    "refused", Received::Anything, 0},
        NetworkCase{"connection_attempt_dropped", Part::Full, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_TIMEOUT, "no answer from", Received::Anything, 0},
        NetworkCase{"accepts_and_never_speaks", Part::Silent, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_PROTOCOL, "no RFC 2217 negotiation", Received::Nothing, 0},
        NetworkCase{"closes_mid_negotiation", Part::CloseAfterRequest, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_PROTOCOL, "closed the connection during", Received::NoData, 0},
        NetworkCase{"confirms_another_rate", Part::OtherRate, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_SETTING, "4800 bits/s instead of 9600", Received::NoData, 0},
        NetworkCase{"unresolvable_name", Part::Closed, "rfc2217://x.invalid:%d", Call::SendTo,
                    VELLPORT_ERR_HOST, "x.invalid", Received::Anything, 0},
        NetworkCase{"mapped_name_sends_ff_doubled", Part::Rfc2217, "rfc2217://127.0.0.1:%d",
                    Call::SendDataMapped, VELLPORT_OK, "", Received::EscapedData, 0},
        NetworkCase{"raw_port_gets_the_bytes_alone", Part::Raw, "tcp://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_OK, "", Received::PlainData, 0},
        NetworkCase{"probe_tells_the_other_rate", Part::OtherRate, "rfc2217://127.0.0.1:%d", Call::Probe,
                    VELLPORT_ERR_SETTING, "4800 bits/s", Received::NoData, 4800}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
