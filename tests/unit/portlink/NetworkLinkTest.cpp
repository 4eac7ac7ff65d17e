// Network targets against tiny in-test servers and resolvers: each fault ends within the bound with its code
// and reason, and the bytes that do go out arrive as the protocol wants them.
#include "Child.h"
#include "Files.h"
#include "PortMap.h"
#include "Simulator.h"
#include "StderrCapture.h"
#include "TempDir.h"
#include "VellPortDll.h"
#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cxxabi.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
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
// Telnet option requests without end (DO ECHO, DON'T ECHO), sent 96 KiB at a time.
const std::string kFlood = [] {
    std::string flood("\xFF\xFD\x01\xFF\xFE\x01");
    while (flood.size() < 65536) {
        flood += flood;
    }
    return flood;
}();

// One connection on a free localhost port, served on its own thread in one of a few ways; keeps what the
// client sent. Babble reads nothing and floods until the client's full close; the parts from Rfc2217 on
// confirm every setting, then Flood floods as Babble does, and Busy says ser2net's "Port already in use" and
// closes 50 ms after the connection, as through a tunnel.
class Responder {
public:
    enum class Part { Closed, Full, Silent, CloseAfterRequest, OtherRate, Raw, Babble, Rfc2217, Flood, Busy };

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
        if (m_part == Part::CloseAfterRequest) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // it asks late, as through a tunnel
        }
        if (m_part == Part::CloseAfterRequest || m_part == Part::OtherRate || m_part >= Part::Rfc2217) {
            sendText(client, m_part >= Part::Rfc2217 ? "\xFF\xFB\x01\xFF\xFD\x2C" : "\xFF\xFD\x2C");
        }
        const auto accepted = Clock::now();
        std::size_t answered = 0;
        for (char buffer[512]; Clock::now() < accepted + kTwiceBound;) {
            const bool flooding = m_part == Part::Babble || (m_part == Part::Flood && m_confirmed == 4);
            if (m_part == Part::Busy && Clock::now() >= accepted + std::chrono::milliseconds(50)) {
                sendText(client, "Port already in use\r\n");
                break;
            }
            if (flooding && ::send(client, kFlood.data(), kFlood.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN) {
                break;
            }
            // Flooding and refusing servers go on past the client's half-close; Babble reads nothing.
            const int events = (m_part == Part::Babble ? 0 : POLLIN) | (flooding ? POLLOUT : 0);
            pollfd ready{client, static_cast<short>(events), 0};
            ::poll(&ready, 1, 10);
            const ssize_t got = (ready.revents & POLLIN) != 0 ? ::read(client, buffer, sizeof buffer) : -2;
            if ((got == 0 || got == -1) && !flooding && m_part != Part::Busy) {
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
        if (m_part != Part::OtherRate && m_part < Part::Rfc2217) {
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

    static void sendText(int client, const std::string& text) {
        [[maybe_unused]] const ssize_t ignored = ::write(client, text.data(), text.size());
    }

    Part m_part;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_received;
    int m_confirmed = 0;
    std::array<UniqueFd, 3> m_fillers;
};

enum class Call { SendTo, SendDataMapped, Probe };
enum class Received { Anything, Nothing, NoData, EscapedData, PlainData };
// Where names are looked up: as this machine does, or in a child process: behind dnssim in namespaces of its
// own (answers after 1.2 s, none for "hung" names), or with no descriptor or no thread left to start.
enum class Resolver { System, StandIn, NoDescriptors, NoThreads };

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
    int rate = 9600;                       // for SendTo and Probe
    int count = 4;                         // for SendTo: kData's, or as many zero bytes
    Resolver resolver = Resolver::System;
    int hungBefore = 0;        // lookups of names never answered, given up before the call
    int alongside = 0;         // calls at the same time to other names answered late, ending as the row says
    bool exitsMidCall = false; // the process exits while the calls are in flight, and must end cleanly
};

// NOLINTNEXTLINE(readability-identifier-naming): the name gtest looks for
void PrintTo(const NetworkCase& row, std::ostream* out) {
    *out << row.label;
}

// The process's anonymous memory in KiB, read without allocating any.
long long anonymousKiB() {
    char text[4096] = {};
    const UniqueFd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    [[maybe_unused]] const ssize_t got = ::read(status.get(), text, sizeof text - 1);
    const char* field = std::strstr(text, "RssAnon:");
    return field != nullptr ? std::strtoll(field + std::strlen("RssAnon:"), nullptr, 10) : -1;
}

class NetworkTargets : public testing::TestWithParam<NetworkCase> {};

int callTarget(Call call, const std::string& url, int* confirmedRate = nullptr, int rate = 9600,
               const unsigned char* data = nullptr, int count = 4) {
    const auto* bytes = data != nullptr ? data : reinterpret_cast<const unsigned char*>(kData.data());
    switch (call) {
    case Call::SendTo:
        return VellPortSendTo(url.c_str(), rate, 8, 'N', 1, 0, bytes, count);
    case Call::SendDataMapped:
        return SendData("COM78", bytes, 4);
    case Call::Probe:
        return VellPortProbe(url.c_str(), 9600, 8, 'N', 1, 0, confirmedRate);
    }
    return VELLPORT_ERR_ARG;
}

// Calls every target at once, the last on this thread; each ends within the bound with result and reasonPart.
void expectCallsEnd(Call call, const std::vector<std::string>& urls, int result, const char* reasonPart) {
    const auto expectEnds = [&](const std::string& url) {
        const auto start = Clock::now();
        EXPECT_EQ(callTarget(call, url), result) << url << ": " << VellPortLastError();
        EXPECT_LT(Clock::now() - start, kTwiceBound) << url;
        EXPECT_NE(std::string(VellPortLastError()).find(reasonPart), std::string::npos)
            << VellPortLastError();
    };
    std::vector<std::jthread> others;
    for (std::size_t i = 0; i + 1 < urls.size(); ++i) {
        others.emplace_back(expectEnds, urls[i]);
    }
    if (!urls.empty()) {
        expectEnds(urls.back());
    }
}

// A process's calls on other threads as it exits, and whether exit() has run every library's finalisers.
std::atomic<int> g_callsInFlight{0};
std::atomic<bool> g_finalised{false};

template <typename Condition>
void waitUntil(Condition done, std::chrono::milliseconds limit) {
    for (const auto until = Clock::now() + limit; !done() && Clock::now() < until;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// exit() runs this after every library's finalisers (it is registered before any of them, for no library in
// particular), and waits here for the calls still running: they find whatever exit() freed.
void holdExit(void*) {
    g_finalised = true;
    waitUntil([] { return g_callsInFlight == 0; }, 2 * kTwiceBound);
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const kHoldExit)() = [] {
    abi::__cxa_atexit(holdExit, nullptr, nullptr);
};

// Namespaces of this process's own (root only): loopback up, and a resolv.conf that names 127.0.0.1 alone.
bool useResolverOnLoopback(const TempDir& folder) {
    WriteBytes(folder.file("resolv.conf"), "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
    ifreq loopback{};
    std::snprintf(loopback.ifr_name, sizeof loopback.ifr_name, "lo");
    loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    const bool mounted =
        ::unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount(folder.file("resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return mounted && ::ioctl(socket.get(), SIOCSIFFLAGS, &loopback) == 0;
}

constexpr int kCannotSetUp = 77;

// The row's calls in a child process prepared as row.resolver says: 0 when all ended as the row says.
int callInChild(const NetworkCase& row, const std::string& url, int port) {
    const TempDir folder;
    Simulator names(Simulator::Program::Dnssim);
    VellPortSetErrorLines(0);
    // Descriptors run out after a first call, as in a fleet (UBSan's first type checks need one).
    const bool ranBefore =
        row.resolver == Resolver::NoDescriptors && callTarget(row.call, url) != VELLPORT_OK;
    const int firstFree = ::dup(0);
    ::close(firstFree);
    const rlimit noDescriptorLeft{static_cast<rlim_t>(firstFree), static_cast<rlim_t>(firstFree)};
    const rlimit noThreadLeft{0, 0};
    const bool ready = (row.resolver == Resolver::StandIn && useResolverOnLoopback(folder) &&
                        names.start({"127.0.0.1", "1200"})) ||
                       (ranBefore && ::setrlimit(RLIMIT_NOFILE, &noDescriptorLeft) == 0) ||
                       (row.resolver == Resolver::NoThreads && (::geteuid() != 0 || BecomeNobody()) &&
                        ::setrlimit(RLIMIT_NPROC, &noThreadLeft) == 0);
    if (!ready) {
        return kCannotSetUp;
    }
    // Distinct names in a domain: dnssim never answers ".hung.test", and ".slow.test" late.
    const auto namedUrls = [port](int count, const std::string& domain) {
        std::vector<std::string> urls;
        for (int i = 0; i < count; ++i) {
            urls.push_back("tcp://n" + std::to_string(i) + domain + ":" + std::to_string(port));
        }
        return urls;
    };
    expectCallsEnd(row.call, namedUrls(row.hungBefore, ".hung.test"), VELLPORT_ERR_TIMEOUT,
                   "no answer from the name lookup");
    std::vector<std::string> urls = namedUrls(row.alongside, ".slow.test");
    urls.push_back(url);
    if (row.exitsMidCall) {
        // The call alongside is in flight at exit; the row's own starts once exit() has run every finaliser.
        g_callsInFlight = static_cast<int>(urls.size());
        for (const std::string& target : urls) {
            std::thread([call = row.call, target, afterFinalisers = &target == &urls.back()] {
                waitUntil([afterFinalisers] { return !afterFinalisers || g_finalised; }, kTwiceBound);
                callTarget(call, target);
                --g_callsInFlight;
            }).detach();
        }
        EXPECT_TRUE(names.readLine()) << "no query reached dnssim";
        std::exit(testing::Test::HasFailure() ? 1 : 0);
    }
    expectCallsEnd(row.call, urls, row.result, row.reasonPart);
    return testing::Test::HasFailure() ? 1 : 0;
}

TEST_P(NetworkTargets, EndWithinTheBoundWithTheirResult) {
    const NetworkCase& row = GetParam();
    Responder responder(row.part);
    char url[128];
    std::snprintf(url, sizeof url, row.url, responder.port());
    if (row.resolver != Resolver::System) {
        const ChildResult child =
            RunInChild([&] { return callInChild(row, url, responder.port()); }, 3 * kTwiceBound);
        if (child.exitCode == kCannotSetUp) {
            GTEST_SKIP() << "needs root: a mount and network namespace of its own";
        }
        EXPECT_EQ(child.exitCode, 0) << "signal " << child.signal.value_or(0);
        return;
    }
    const PortMap map(78, url);
    // Zero pages the kernel shares cost no memory, whatever the count.
    const auto size = static_cast<std::size_t>(row.count);
    void* zeros = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    const auto* bytes = static_cast<const unsigned char*>(row.count == 4 ? kData.data() : zeros);
    int confirmedRate = -1;
    // The memory is read every 5 ms while the call runs: no server may make it grow.
    std::atomic<bool> running{true};
    long long grownKiB = 0;
    std::thread sampler([&, before = anonymousKiB()] {
        for (; running; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            grownKiB = std::max(grownKiB, anonymousKiB() - before);
        }
    });

    StderrCapture capture;
    const auto start = Clock::now();
    const int result = callTarget(row.call, url, &confirmedRate, row.rate, bytes, row.count);
    const auto elapsed = Clock::now() - start;
    const int delivery = VellPortLastDelivery();
    running = false;
    sampler.join();
    ::munmap(zeros, size);
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());

    EXPECT_EQ(result, row.result);
    EXPECT_EQ(delivery, row.delivery);
    EXPECT_LT(grownKiB, 1024);
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
                    "the box answered, and nothing listens on that port", Received::Anything, 0},
        NetworkCase{"no_route_to_the_host_times_out", Part::Closed, "tcp://224.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_TIMEOUT, "no route to host: the box is off", Received::Anything, 0},
        NetworkCase{"connection_attempt_dropped", Part::Full, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_TIMEOUT, "no answer from", Received::Anything, 0},
        NetworkCase{"accepts_and_never_speaks", Part::Silent, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_PROTOCOL, "within 2.009 s: the server is silent", Received::Nothing, 0},
        NetworkCase{"tls_without_a_pinned_ca_sends_nothing", Part::Silent, "rfc2217+tls://127.0.0.1:%d",
                    Call::SendTo, VELLPORT_ERR_TLS, "no ca.pem to check the server against",
                    Received::Nothing, 0},
        NetworkCase{"closes_mid_negotiation", Part::CloseAfterRequest, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_PROTOCOL, "closed the connection during", Received::NoData, 0},
        NetworkCase{"half_a_gigabyte_at_1_baud", Part::CloseAfterRequest, "rfc2217://127.0.0.1:%d",
                    Call::SendTo, VELLPORT_ERR_PROTOCOL, "closed the connection during", Received::NoData, 0,
                    VELLPORT_DELIVERY_NONE, 1, 500'000'000},
        NetworkCase{"confirms_another_rate", Part::OtherRate, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_SETTING, "4800 bits/s instead of 9600", Received::NoData, 0},
        NetworkCase{"unresolvable_name", Part::Closed, "rfc2217://x.invalid:%d", Call::SendTo,
                    VELLPORT_ERR_HOST, "x.invalid", Received::Anything, 0, VELLPORT_DELIVERY_NONE, 9600, 4,
                    Resolver::StandIn},
        NetworkCase{"sixty_names_on_a_slow_resolver", Part::Closed, "tcp://slow.test:%d", Call::SendTo,
                    VELLPORT_ERR_REFUSED, "nothing listens", Received::Anything, 0, VELLPORT_DELIVERY_NONE,
                    9600, 4, Resolver::StandIn, 0, 59},
        NetworkCase{"localhost_after_300_hung_lookups", Part::Closed, "tcp://localhost:%d", Call::SendTo,
                    VELLPORT_ERR_REFUSED, "nothing listens", Received::Anything, 0, VELLPORT_DELIVERY_NONE,
                    9600, 4, Resolver::StandIn, 300},
        NetworkCase{"lookups_in_flight_at_exit", Part::Closed, "tcp://last.hung.test:%d", Call::SendTo,
                    VELLPORT_ERR_TIMEOUT, "", Received::Anything, 0, VELLPORT_DELIVERY_NONE, 9600, 4,
                    Resolver::StandIn, 0, 1, true},
        NetworkCase{"lookup_out_of_descriptors", Part::Closed, "tcp://localhost:%d", Call::SendTo,
                    VELLPORT_ERR_IO, "out of file descriptors", Received::Anything, 0, VELLPORT_DELIVERY_NONE,
                    9600, 4, Resolver::NoDescriptors},
        NetworkCase{"no_thread_for_the_lookup", Part::Closed, "tcp://localhost:%d", Call::SendTo,
                    VELLPORT_ERR_IO, "cannot start a thread", Received::Anything, 0, VELLPORT_DELIVERY_NONE,
                    9600, 4, Resolver::NoThreads},
        NetworkCase{"mapped_name_sends_ff_doubled", Part::Rfc2217, "rfc2217://127.0.0.1:%d",
                    Call::SendDataMapped, VELLPORT_OK, "", Received::EscapedData, 0,
                    VELLPORT_DELIVERY_CONFIRMED},
        NetworkCase{"raw_port_gets_the_bytes_alone", Part::Raw, "tcp://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_OK, "", Received::PlainData, 0, VELLPORT_DELIVERY_CONFIRMED},
        NetworkCase{"probe_tells_the_other_rate", Part::OtherRate, "rfc2217://127.0.0.1:%d", Call::Probe,
                    VELLPORT_ERR_SETTING, "4800 bits/s", Received::NoData, 4800},
        NetworkCase{"option_flood_before_the_option", Part::Babble, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_PROTOCOL, "did not ask for the RFC 2217", Received::Nothing, 0},
        NetworkCase{"raw_flood_never_reading_is_acknowledged", Part::Babble, "tcp://127.0.0.1:%d",
                    Call::SendTo, VELLPORT_OK, "", Received::Nothing, 0, VELLPORT_DELIVERY_ACKNOWLEDGED},
        NetworkCase{"option_flood_after_confirming", Part::Flood, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_OK, "", Received::EscapedData, 0, VELLPORT_DELIVERY_ACKNOWLEDGED},
        NetworkCase{"late_refusal_of_a_raw_probe", Part::Busy, "tcp://127.0.0.1:%d", Call::Probe,
                    VELLPORT_ERR_BUSY, "another client holds", Received::Nothing, 0},
        NetworkCase{"late_refusal_after_rfc2217_data", Part::Busy, "rfc2217://127.0.0.1:%d", Call::SendTo,
                    VELLPORT_ERR_BUSY, "Port already in use", Received::EscapedData, 0}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
