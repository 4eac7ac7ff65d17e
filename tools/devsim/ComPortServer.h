// devsim's network mode: an RFC 2217 (telnet COM-PORT-OPTION) server on localhost for many connections at
// once, recording what each connection received.
#pragma once

#include "common/UniqueFd.h"

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace devsim {

struct ServerOptions {
    int firstPort = 0;    // 0: the system picks each listener's port
    int listeners = 1;    // ports to listen on, so a test can tell many targets apart
    long confirmRate = 0; // confirm this rate whatever is asked (a device that refused the asked one)
    bool silent = false;  // accept, read, never write
    bool raw = false;     // never negotiate: a plain TCP port
};

class ComPortServer {
public:
    explicit ComPortServer(const ServerOptions& options) : m_options(options) {}

    // Listens, prints the ports on one line, and serves until stop becomes non-zero; the exit status.
    int run(const volatile std::sig_atomic_t& stop);

private:
    enum class TelnetState { Data, Command, Option, Sub, SubCommand };
    struct Connection {
        common::UniqueFd socket;
        int id = 0;
        int port = 0;
        TelnetState state = TelnetState::Data;
        unsigned char verb = 0;
        std::vector<unsigned char> sub;
        std::vector<unsigned char> received;
        std::string outbox;
        long rate = 0;
        int dataBits = 8;
        char parity = 'N';
        int stopSize = 1; // the RFC 2217 code: 1, 2, or 3 for 1.5
    };

    bool listen();
    void acceptAll(int listener, int port);
    // False when the connection is over (closed by the peer or failed).
    bool readFrom(Connection& connection);
    void take(Connection& connection, unsigned char byte);
    void answerSub(Connection& connection);
    void queue(Connection& connection, const std::string& bytes) const;
    bool flush(Connection& connection);
    void report(const Connection& connection) const;

    ServerOptions m_options;
    std::vector<common::UniqueFd> m_listeners;
    std::vector<int> m_ports;
    std::vector<std::unique_ptr<Connection>> m_connections;
    int m_nextId = 1;
};

} // namespace devsim
