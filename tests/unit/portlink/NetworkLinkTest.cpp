// Network targets against tiny in-test servers: each fault ends within the bound with its code and reason,
// and the bytes that do go out arrive as the protocol wants them.
#include "Child.h"
#include "FileHandle.h"
#include "PortMap.h"
#include "StderrCapture.h"
#include "VellPortDll.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using vellport::FileHandle;
using Clock = std::chrono::steady_clock;

const std::string kData("\x1B\xFF\x0A\x01", 4);
const std::string kEscapedData("\x1B\xFF\xFF\x0A\x01", 5);
const std::string kWillComPort("\xFF\xFB\x2C", 3);
// Twice the documented bound for four bytes at 9600 bits/s (2 s plus twice their wire time): how long a
// server waits for its client.
constexpr std::chrono::milliseconds kTwiceBound{2 * 2010};
// What a call may take beyond its bound on a loaded machine.
constexpr std::chrono::milliseconds kLateness{1000};

// One connection on a free localhost port, served on its own thread in one of a few ways; keeps what the
// client sent.
class Responder {
public:
    enum class Part {
        Closed,
        Full,
        Silent,
        CloseAfterRequest,
        OtherRate,
        Rfc2217,
        Raw,
        OptionFlood,            // telnet option requests without end, never the COM-PORT-OPTION
        DataFlood,              // raw data without end, past the client's half-close too
        ConfirmThenOptionFlood, // confirms the settings, then IAC DO 0 IAC DONT 0 without end
        LateRefusal,            // raw: ser2net's refusal and its close 50 ms late, as through a tunnel
        ConfirmThenRefusal,     // confirms the settings, then the same
        NeverReads              // raw: takes the connection and keeps it open, reading nothing
    };

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
            for (FileHandle& filler : m_fillers) {
                filler = FileHandle(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
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
        if (m_part == Part::CloseAfterRequest || m_part == Part::OtherRate || confirmsAll()) {
            sendText(client, confirmsAll() ? "\xFF\xFB\x01\xFF\xFD\x2C" : "\xFF\xFD\x2C");
        }
        const std::string flood = floodChunk();
        const auto accepted = Clock::now();
        // Flooding and refusing servers go on past the client's half-close.
        const bool refuses = m_part == Part::LateRefusal || m_part == Part::ConfirmThenRefusal;
        const auto deadline = accepted + kTwiceBound;
        std::size_t answered = 0;
        bool reading = m_part != Part::NeverReads;
        for (char buffer[512]; Clock::now() < deadline;) {
            if (refuses && Clock::now() >= accepted + std::chrono::milliseconds(50)) {
                sendText(client, "Port already in use\r\n");
                break;
            }
            const bool flooding =
                !flood.empty() && (m_part != Part::ConfirmThenOptionFlood || m_confirmed >= 4);
            pollfd ready{client, static_cast<short>((reading ? POLLIN : 0) | (flooding ? POLLOUT : 0)), 0};
            if (::poll(&ready, 1, 10) < 1) {
                continue;
            }
            if ((ready.revents & POLLOUT) != 0 &&
                ::send(client, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN) {
                break;
            }
            if (!reading || (ready.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t got = ::read(client, buffer, sizeof buffer);
            if (got <= 0 && flood.empty() && !refuses) {
                break;
            }
            reading = got > 0;
            m_received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (m_part == Part::CloseAfterRequest && m_received.size() >= kWillComPort.size()) {
                break;
            }
            answered = confirm(client, answered);
        }
        ::close(client);
    }

    // What a flooding server sends again and again, a few kilobytes at a time; empty for the others.
    std::string floodChunk() const {
        std::string unit = m_part == Part::DataFlood ? "display talks " : "";
        if (m_part == Part::OptionFlood || m_part == Part::ConfirmThenOptionFlood) {
            unit = std::string("\xFF\xFD\x01\xFF\xFE\x01", 6);
            unit[2] = unit[5] = m_part == Part::OptionFlood ? 1 : 0;
        }
        std::string chunk;
        while (!unit.empty() && chunk.size() < 4096) {
            chunk += unit;
        }
        return chunk;
    }

    // Answers every complete SET request since offset from with its confirmation (the rate 4800 for the
    // OtherRate part); returns the offset after the last one.
    std::size_t confirm(int client, std::size_t from) {
        if (m_part != Part::OtherRate && !confirmsAll()) {
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
            ++m_confirmed;
            from = end + 2;
        }
        return from;
    }

    // Asks for the option with another request before it, and confirms every setting as asked.
    bool confirmsAll() const {
        return m_part == Part::Rfc2217 || m_part == Part::ConfirmThenOptionFlood ||
               m_part == Part::ConfirmThenRefusal;
    }

    static void sendText(int client, const std::string& text) {
        [[maybe_unused]] const ssize_t ignored = ::write(client, text.data(), text.size());
    }

    Part m_part;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_received;
    int m_confirmed = 0;
    std::array<FileHandle, 3> m_fillers;
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
    int delivery = VELLPORT_DELIVERY_NONE; // what VellPortLastDelivery tells after the call
    int rate = 9600;         // for SendTo and Probe
    bool flatMemory = false; // the call runs in a child whose peak memory grows by less than 1 MiB
    int count = 4;           // SendTo's count: kData, or as many zero bytes
};

// NOLINTNEXTLINE(readability-identifier-naming): the name gtest looks for
void PrintTo(const NetworkCase& row, std::ostream* out) {
    *out << row.label;
}

// The documented bound of a row's call: 2 s plus twice the wire time of its bytes (10 bits each).
std::chrono::duration<double> boundOf(const NetworkCase& row) {
    const double bytes = row.call == Call::Probe ? 0 : row.count;
    return std::chrono::duration<double>(2.0 + 2 * bytes * 10 / row.rate);
}

// A field of a process's status in KiB ("RssAnon:", say); -1 once it has ended.
long long statusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) {
            return std::stoll(line.substr(field.size()));
        }
    }
    return -1;
}

// What a call gave, in memory a child shares with the test.
struct Outcome {
    int result = 0;
    int confirmedRate = -1;
    int delivery = -1;
};

class NetworkTargets : public testing::TestWithParam<NetworkCase> {};

TEST_P(NetworkTargets, EndWithinTheBoundWithTheirResult) {
    const NetworkCase& row = GetParam();
    Responder responder(row.part);
    char url[128];
    std::snprintf(url, sizeof url, row.url, responder.port());
    const PortMap map(78, url);
    // Zero pages the kernel shares cost no memory, whatever the count.
    void* zeros = ::mmap(nullptr, static_cast<std::size_t>(row.count), PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    const auto* bytes = static_cast<const unsigned char*>(row.count == 4 ? kData.data() : zeros);
    auto* shared = static_cast<Outcome*>(
        ::mmap(nullptr, sizeof(Outcome), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(shared, MAP_FAILED);
    const auto call = [&] {
        Outcome& outcome = *new (shared) Outcome;
        switch (row.call) {
        case Call::SendTo:
            outcome.result = VellPortSendTo(url, row.rate, 8, 'N', 1, 0, bytes, row.count);
            break;
        case Call::SendDataMapped:
            outcome.result = SendData("COM78", bytes, 4);
            break;
        case Call::Probe:
            outcome.result = VellPortProbe(url, row.rate, 8, 'N', 1, 0, &outcome.confirmedRate);
            break;
        }
        outcome.delivery = VellPortLastDelivery();
        return 0;
    };

    StderrCapture capture;
    const auto start = Clock::now();
    long long growthKiB = 0;
    if (row.flatMemory) {
        // In a child of its own, whose anonymous memory is read while the call runs: the growth is the
        // call's.
        Child child(call);
        const long long before = statusKiB(child.pid(), "RssAnon:");
        std::optional<ChildResult> ended;
        while (!(ended = child.poll()) && Clock::now() < start + boundOf(row) + kLateness) {
            growthKiB = std::max(growthKiB, statusKiB(child.pid(), "RssAnon:") - before);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(ended && ended->exitCode == 0);
    } else {
        call();
    }
    const auto elapsed = Clock::now() - start;
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    const Outcome outcome = *shared;
    ::munmap(shared, sizeof(Outcome));
    ::munmap(zeros, static_cast<std::size_t>(row.count));

    EXPECT_EQ(outcome.result, row.result);
    EXPECT_EQ(outcome.delivery, row.delivery);
    if (row.flatMemory) {
        EXPECT_LT(growthKiB, 1024);
    }
    EXPECT_LT(elapsed, boundOf(row) + kLateness);
    if (row.result == VELLPORT_OK) {
        EXPECT_TRUE(lines.empty());
    } else {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines.front().find(url), std::string::npos) << lines.front();
        EXPECT_NE(lines.front().find(row.reasonPart), std::string::npos) << lines.front();
    }
    if (row.call == Call::Probe) {
        EXPECT_EQ(outcome.confirmedRate, row.confirmedRate);
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
        NetworkCase{"no_route_to_the_host_times_out", Part::Closed, "tcp://224.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_TIMEOUT, "no route to host: the box is off or unreachable",
                    Received::Anything, 0},
        NetworkCase{"connection_attempt_dropped", Part::Full, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_TIMEOUT, "no answer from", Received::Anything, 0},
        NetworkCase{
            "accepts_and_never_speaks", Part::Silent, "rfc2217://127.0.0.1:%d", Call::SendTo,
            VELLPORT_ERR_PROTOCOL,
            "no answer to the RFC 2217 opening within 2.009 s: the server is silent, or the port is raw "
            "TCP (then map it as tcp://)",
            Received::Nothing, 0},
        NetworkCase{"closes_mid_negotiation", Part::CloseAfterRequest, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_PROTOCOL, "closed the connection during", Received::NoData, 0},
        NetworkCase{"half_a_gigabyte_at_1_baud_keeps_its_bound", Part::CloseAfterRequest,
                    "rfc2217://127.0.0.1:%d", Call::SendTo, VELLPORT_ERR_PROTOCOL,
                    "closed the connection during", Received::NoData, 0, VELLPORT_DELIVERY_NONE, 1, false,
                    500'000'000},
        NetworkCase{"confirms_another_rate", Part::OtherRate, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_SETTING, "4800 bits/s instead of 9600", Received::NoData, 0},
        NetworkCase{"unresolvable_name", Part::Closed, "rfc2217://x.invalid:%d", Call::SendTo,
                    VELLPORT_ERR_HOST, "x.invalid", Received::Anything, 0},
        NetworkCase{"mapped_name_sends_ff_doubled", Part::Rfc2217, "rfc2217://127.0.0.1:%d",
                    Call::SendDataMapped, VELLPORT_OK, "", Received::EscapedData, 0,
                    VELLPORT_DELIVERY_CONFIRMED},
        NetworkCase{"raw_port_gets_the_bytes_alone", Part::Raw, "tcp://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_OK, "", Received::PlainData, 0, VELLPORT_DELIVERY_CONFIRMED},
        NetworkCase{"probe_tells_the_other_rate", Part::OtherRate, "rfc2217://127.0.0.1:%d", Call::Probe,
                    VELLPORT_ERR_SETTING, "4800 bits/s", Received::NoData, 4800},
        NetworkCase{"option_flood_never_asking_for_the_option", Part::OptionFlood, "rfc2217://127.0.0.1:%d",
                    Call::SendTo, VELLPORT_ERR_PROTOCOL,
                    "did not ask for the RFC 2217 serial port option within 2.009 s", Received::Nothing, 0},
        NetworkCase{"raw_probe_of_a_server_that_never_stops_talking", Part::DataFlood, "tcp://127.0.0.1:%d",
                    Call::Probe, VELLPORT_OK, "", Received::Nothing, 0},
        NetworkCase{"option_flood_after_the_confirmations_keeps_memory_flat", Part::ConfirmThenOptionFlood,
                    "rfc2217://127.0.0.1:%d", Call::SendTo, VELLPORT_OK, "", Received::EscapedData, 0,
                    VELLPORT_DELIVERY_ACKNOWLEDGED, 110, true},
        NetworkCase{"raw_refusal_after_the_half_close_is_busy", Part::LateRefusal, "tcp://127.0.0.1:%d",
                    Call::SendTo, VELLPORT_ERR_BUSY, "Port already in use", Received::PlainData, 0},
        NetworkCase{"rfc2217_refusal_after_the_data_is_busy", Part::ConfirmThenRefusal,
                    "rfc2217://127.0.0.1:%d", Call::SendTo, VELLPORT_ERR_BUSY, "Port already in use",
                    Received::EscapedData, 0},
        NetworkCase{"busy_probe_names_no_data", Part::LateRefusal, "tcp://127.0.0.1:%d", Call::Probe,
                    VELLPORT_ERR_BUSY, "another client holds", Received::Nothing, 0},
        NetworkCase{"raw_server_that_never_reads_is_acknowledged_only", Part::NeverReads,
                    "tcp://127.0.0.1:%d", Call::SendTo, VELLPORT_OK, "", Received::Nothing, 0,
                    VELLPORT_DELIVERY_ACKNOWLEDGED}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
