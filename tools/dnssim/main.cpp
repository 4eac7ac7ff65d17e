// dnssim: a name server stand-in on UDP port 53 of one address, for tests and benchmarks behind a private
// resolv.conf: every name is 127.0.0.1, answered after a fixed delay; a name with a label "hung" is never
// answered, one with a label "invalid" does not exist. Prints "ready", then each name asked for.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHeaderSize = 12;
constexpr std::uint16_t kTypeA = 1;

struct Reply {
    Clock::time_point due;
    sockaddr_in peer;
    std::string bytes;
};

// The question's name as dotted text; end is set to the byte after it. Empty when the query is malformed.
std::string questionName(const std::string& query, std::size_t& end) {
    std::string name;
    std::size_t at = kHeaderSize;
    while (at < query.size() && query[at] != 0) {
        const auto length = static_cast<unsigned char>(query[at]);
        if (length > 63 || at + 1 + length > query.size()) {
            return {};
        }
        name += (name.empty() ? "" : ".") + query.substr(at + 1, length);
        at += 1 + length;
    }
    end = at + 1 + 4; // the terminating zero, the type and the class
    return end <= query.size() ? name : std::string();
}

bool hasLabel(const std::string& name, const std::string& label) {
    return ("." + name + ".").find("." + label + ".") != std::string::npos;
}

// The answer to a query for name: the question repeated, and for type A the address 127.0.0.1.
std::string answer(const std::string& query, std::size_t questionEnd, const std::string& name) {
    std::string reply = query.substr(0, questionEnd);
    const bool missing = hasLabel(name, "invalid");
    const auto type = static_cast<std::uint16_t>(static_cast<unsigned char>(query[questionEnd - 4]) << 8 |
                                                 static_cast<unsigned char>(query[questionEnd - 3]));
    const bool withAddress = !missing && type == kTypeA;
    reply[2] = static_cast<char>(0x84 | (query[2] & 0x01)); // a response, authoritative, recursion as asked
    reply[3] = static_cast<char>(0x80 | (missing ? 3 : 0)); // recursion available; no such name
    reply.replace(4, 8, std::string("\0\1\0", 3) + (withAddress ? '\1' : '\0') + std::string(4, '\0'));
    if (withAddress) {
        // A pointer to the question's name, type A, class IN, time to live 0, four bytes of address.
        reply += std::string("\xC0\x0C\0\1\0\1\0\0\0\0\0\4\x7F\0\0\1", 16);
    }
    return reply;
}

} // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const long delayMs = argc == 3 ? std::strtol(argv[2], &end, 10) : -1;
    if (argc != 3 || *end != '\0' || delayMs < 0 || delayMs > 600'000) {
        std::fputs("usage: dnssim ADDRESS DELAY_MS   (listens on ADDRESS:53; DELAY_MS 0 to 600000)\n",
                   stderr);
        return 2;
    }
    // Ends with whoever started it, so a test that fails half-way leaves no server behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const std::chrono::milliseconds delay(delayMs);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    const int server = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (::inet_pton(AF_INET, argv[1], &address.sin_addr) != 1 ||
        ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("dnssim: cannot listen on port 53");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::puts("ready");
    // Replies in the order their queries came, which with one delay for all is the order they are due.
    std::deque<Reply> pending;
    for (;;) {
        const auto wait = pending.empty()
                              ? -1
                              : std::chrono::ceil<std::chrono::milliseconds>(
                                    std::max(pending.front().due - Clock::now(), Clock::duration{}))
                                    .count();
        pollfd readable{server, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(wait)) == 1) {
            char buffer[512];
            Reply reply{Clock::now() + delay, {}, {}};
            socklen_t size = sizeof reply.peer;
            const ssize_t got =
                ::recvfrom(server, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&reply.peer), &size);
            const std::string query(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            std::size_t questionEnd = 0;
            const std::string name = query.size() > kHeaderSize ? questionName(query, questionEnd) : "";
            if (!name.empty()) {
                std::puts(name.c_str());
            }
            if (!name.empty() && !hasLabel(name, "hung")) {
                reply.bytes = answer(query, questionEnd, name);
                pending.push_back(std::move(reply));
            }
        }
        for (; !pending.empty() && pending.front().due <= Clock::now(); pending.pop_front()) {
            const Reply& due = pending.front();
            ::sendto(server, due.bytes.data(), due.bytes.size(), 0,
                     reinterpret_cast<const sockaddr*>(&due.peer), sizeof due.peer);
        }
    }
}
