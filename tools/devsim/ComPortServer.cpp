// devsim's RFC 2217 server: a poll loop over non-blocking sockets, one record per connection when it ends.
#include "ComPortServer.h"

#include "Output.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace devsim {

namespace {

enum TelnetCommand : unsigned char {
    kIac = 255,
    kDont = 254,
    kDo = 253,
    kWont = 252,
    kWill = 251,
    kSubBegin = 250,
    kSubEnd = 240
};
constexpr unsigned char kComPortOption = 44;
constexpr unsigned char kServerCodeOffset = 100;
enum ClientCode : unsigned char { kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4 };
// A client that streams without end must not eat the test machine's memory.
constexpr std::size_t kRecordLimit = 1 << 20;
constexpr std::size_t kSubLimit = 256;

// Thousands of connections at once need more descriptors than the usual soft limit of 1024.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

char parityLetter(unsigned char code, char current) {
    static constexpr char kLetters[] = {'N', 'O', 'E', 'M', 'S'};
    return code >= 1 && code <= 5 ? kLetters[code - 1] : current;
}

unsigned char parityCode(char letter) {
    const char* found = std::strchr("NOEMS", letter);
    return found != nullptr ? static_cast<unsigned char>(found - "NOEMS" + 1) : 1;
}

std::string stopBitsText(int stopSize) {
    return stopSize == 3 ? "1.5" : std::to_string(stopSize);
}

} // namespace

int ComPortServer::run(const volatile std::sig_atomic_t& stop) {
    raiseDescriptorLimit();
    if (!listen()) {
        return 1;
    }
    std::string portsLine;
    for (const int port : m_ports) {
        portsLine += (portsLine.empty() ? "" : " ") + std::to_string(port);
    }
    printLine(portsLine);

    std::vector<pollfd> waiting;
    sigset_t waitMask;
    ::sigemptyset(&waitMask);
    while (stop == 0) {
        waiting.clear();
        for (const common::UniqueFd& listener : m_listeners) {
            waiting.push_back({listener.get(), POLLIN, 0});
        }
        for (const auto& connection : m_connections) {
            const short events = connection->outbox.empty() ? POLLIN : POLLIN | POLLOUT;
            waiting.push_back({connection->socket.get(), events, 0});
        }
        // The stop signals are blocked everywhere but inside ppoll(), so none is missed between the checks.
        if (::ppoll(waiting.data(), waiting.size(), nullptr, &waitMask) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "devsim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        // Connections accepted in this round are polled from the next one on; waiting[] indexes the old list.
        const std::size_t polledConnections = m_connections.size();
        std::vector<bool> over(polledConnections, false);
        for (std::size_t i = 0; i < polledConnections; ++i) {
            const short happened = waiting[m_listeners.size() + i].revents;
            Connection& connection = *m_connections[i];
            const bool writeFailed = (happened & POLLOUT) != 0 && !flush(connection);
            over[i] =
                writeFailed || ((happened & (POLLIN | POLLHUP | POLLERR)) != 0 && !readFrom(connection));
        }
        for (std::size_t i = polledConnections; i-- > 0;) {
            if (over[i]) {
                const Connection& ended = *m_connections[i];
                report(ended);
                m_connections.erase(m_connections.begin() + static_cast<long>(i));
            }
        }
        for (std::size_t i = 0; i < m_listeners.size(); ++i) {
            if ((waiting[i].revents & POLLIN) != 0) {
                acceptAll(m_listeners[i].get(), m_ports[i]);
            }
        }
    }
    for (const auto& connection : m_connections) {
        report(*connection);
    }
    return 0;
}

bool ComPortServer::listen() {
    for (int i = 0; i < m_options.listeners; ++i) {
        const int port = m_options.firstPort == 0 ? 0 : m_options.firstPort + i;
        common::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        socklen_t length = sizeof address;
        if (listener.get() < 0 ||
            ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener.get(), SOMAXCONN) != 0 ||
            ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::fprintf(stderr, "devsim: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
            return false;
        }
        m_ports.push_back(ntohs(address.sin_port));
        m_listeners.push_back(std::move(listener));
    }
    return true;
}

void ComPortServer::acceptAll(int listener, int port) {
    for (;;) {
        common::UniqueFd socket(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (socket.get() < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR) {
                std::fprintf(stderr, "devsim: accept: %s\n", std::strerror(errno));
            }
            if (errno == ECONNABORTED || errno == EINTR) {
                continue;
            }
            return;
        }
        // Replies are a few bytes each; waiting to coalesce them only slows the client's negotiation.
        const int on = 1;
        ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto connection = std::make_unique<Connection>();
        connection->socket = std::move(socket);
        connection->id = m_nextId++;
        connection->port = port;
        if (!m_options.raw) {
            queue(*connection, std::string{static_cast<char>(kIac), static_cast<char>(kDo),
                                           static_cast<char>(kComPortOption)});
        }
        flush(*connection);
        m_connections.push_back(std::move(connection));
    }
}

bool ComPortServer::readFrom(Connection& connection) {
    unsigned char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(connection.socket.get(), buffer, sizeof buffer);
        if (count == 0) {
            flush(connection);
            return false;
        }
        if (count < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        for (ssize_t i = 0; i < count; ++i) {
            take(connection, buffer[i]);
        }
        if (!connection.outbox.empty() && !flush(connection)) {
            return false;
        }
    }
}

void ComPortServer::take(Connection& connection, unsigned char byte) {
    switch (connection.state) {
    case TelnetState::Data:
        // A raw port never leaves this state: every byte is data.
        if (byte == kIac && !m_options.raw) {
            connection.state = TelnetState::Command;
        } else if (connection.received.size() < kRecordLimit) {
            connection.received.push_back(byte);
        }
        return;
    case TelnetState::Command:
        connection.state = TelnetState::Data;
        if (byte == kIac && connection.received.size() < kRecordLimit) {
            connection.received.push_back(kIac); // a doubled IAC is one data byte 0xFF
        } else if (byte == kSubBegin) {
            connection.sub.clear();
            connection.state = TelnetState::Sub;
        } else if (byte >= kWill && byte <= kDont) {
            connection.verb = byte;
            connection.state = TelnetState::Option;
        }
        return;
    case TelnetState::Option: {
        connection.state = TelnetState::Data;
        // Only the COM port option is agreed; anything else the client offers or asks for is declined.
        if (byte == kComPortOption && connection.verb == kWill) {
            return;
        }
        if (connection.verb == kWill || connection.verb == kDo) {
            const unsigned char refusal = connection.verb == kWill ? kDont : kWont;
            queue(connection,
                  std::string{static_cast<char>(kIac), static_cast<char>(refusal), static_cast<char>(byte)});
        }
        return;
    }
    case TelnetState::Sub:
        if (byte == kIac) {
            connection.state = TelnetState::SubCommand;
        } else if (connection.sub.size() < kSubLimit) {
            connection.sub.push_back(byte);
        }
        return;
    case TelnetState::SubCommand:
        if (byte == kSubEnd) {
            connection.state = TelnetState::Data;
            answerSub(connection);
        } else {
            connection.state = TelnetState::Sub;
            if (byte == kIac && connection.sub.size() < kSubLimit) {
                connection.sub.push_back(kIac);
            }
        }
        return;
    }
}

void ComPortServer::answerSub(Connection& connection) {
    const std::vector<unsigned char>& sub = connection.sub;
    if (sub.size() < 2 || sub[0] != kComPortOption || sub[1] >= kServerCodeOffset || m_options.silent) {
        return;
    }
    const unsigned char code = sub[1];
    std::vector<unsigned char> value(sub.begin() + 2, sub.end());
    // A value of zero asks for the current setting, so the confirmation always carries the setting in force.
    if (code == kSetBaudRate && value.size() == 4) {
        const long asked = static_cast<long>(value[0]) << 24 | value[1] << 16 | value[2] << 8 | value[3];
        if (asked != 0) {
            connection.rate = m_options.confirmRate != 0 ? m_options.confirmRate : asked;
        }
        for (int i = 0; i < 4; ++i) {
            value[static_cast<std::size_t>(i)] = static_cast<unsigned char>(connection.rate >> (24 - 8 * i));
        }
    } else if (code == kSetDataSize && value.size() == 1) {
        connection.dataBits = value[0] != 0 ? value[0] : connection.dataBits;
        value[0] = static_cast<unsigned char>(connection.dataBits);
    } else if (code == kSetParity && value.size() == 1) {
        connection.parity = parityLetter(value[0], connection.parity);
        value[0] = parityCode(connection.parity);
    } else if (code == kSetStopSize && value.size() == 1) {
        connection.stopSize = value[0] >= 1 && value[0] <= 3 ? value[0] : connection.stopSize;
        value[0] = static_cast<unsigned char>(connection.stopSize);
    }
    std::string reply{static_cast<char>(kIac), static_cast<char>(kSubBegin),
                      static_cast<char>(kComPortOption), static_cast<char>(code + kServerCodeOffset)};
    for (const unsigned char byte : value) {
        reply += static_cast<char>(byte);
        if (byte == kIac) {
            reply += static_cast<char>(kIac);
        }
    }
    reply += {static_cast<char>(kIac), static_cast<char>(kSubEnd)};
    queue(connection, reply);
}

void ComPortServer::queue(Connection& connection, const std::string& bytes) const {
    if (!m_options.silent) {
        connection.outbox += bytes;
    }
}

bool ComPortServer::flush(Connection& connection) {
    while (!connection.outbox.empty()) {
        const ssize_t sent =
            ::send(connection.socket.get(), connection.outbox.data(), connection.outbox.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        connection.outbox.erase(0, static_cast<std::size_t>(sent));
    }
    return true;
}

void ComPortServer::report(const Connection& connection) const {
    printLine("{\"id\":" + std::to_string(connection.id) + ",\"port\":" + std::to_string(connection.port) +
              ",\"rate\":" + std::to_string(connection.rate) +
              ",\"dataBits\":" + std::to_string(connection.dataBits) + ",\"parity\":\"" + connection.parity +
              "\",\"stopBits\":" + stopBitsText(connection.stopSize) + ",\"bytes\":" +
              jsonString(hexBytes(connection.received.data(), connection.received.size())) + "}");
}

} // namespace devsim
