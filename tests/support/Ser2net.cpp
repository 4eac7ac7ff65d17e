// ser2net started for a test on free localhost ports, and ended with it.
#include "Ser2net.h"

#include "Files.h"

#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::chrono::seconds kStartBound{5};
constexpr std::chrono::seconds kStopBound{3};
constexpr int kStartAttempts = 3;

// Whether something listens on 127.0.0.1:port, read from the kernel's table so that no connection is made.
bool Listening(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            return true;
        }
    }
    return false;
}

// Different localhost TCP ports, free at the time of asking: all stay bound until all are known, or the
// kernel may hand out the same one twice and ser2net's second accepter fails while the first answers for it.
std::array<int, 4> FreeLocalPorts() {
    std::array<int, 4> ports{};
    std::array<int, 4> sockets{};
    for (std::size_t i = 0; i < ports.size(); ++i) {
        sockets[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(sockets[i], reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(sockets[i], reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            ports[i] = ntohs(address.sin_port);
        }
    }
    for (const int socket : sockets) {
        ::close(socket);
    }
    return ports;
}

} // namespace

Ser2net::~Ser2net() {
    stop();
}

std::string Ser2net::program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

bool Ser2net::start(const std::string& device, const std::string& folder, const Tls& tls) {
    const std::string executable = program();
    // Another program may take a port between asking and ser2net's bind: then try again with new ones.
    for (int attempt = 0; attempt < kStartAttempts && !executable.empty(); ++attempt) {
        std::tie(m_rfc2217Port, m_rawPort, m_tlsPort, m_tlsRawPort) = std::tuple_cat(FreeLocalPorts());
        const std::string config = folder + "/ser2net.yaml";
        const std::string connector =
            "    connector: serialdev," + device + "," + std::to_string(kDefaultRate) + "n81,local\n";
        const std::string options = "    options:\n        mdns: false\n" +
                                    (tls.authdir.empty() ? "" : "        authdir: " + tls.authdir + "\n");
        const std::string ssl =
            "ssl(key=" + tls.key + ",cert=" + tls.cert + (tls.authdir.empty() ? "" : ",clientauth") + "),";
        const auto connection = [&](const char* name, const std::string& stack, int port) {
            return "connection: &" + std::string(name) + "\n    accepter: " + stack + "tcp,127.0.0.1," +
                   std::to_string(port) + "\n" + connector + options;
        };
        WriteBytes(config, connection("rfc2217", "telnet(rfc2217),", m_rfc2217Port) +
                               connection("raw", "", m_rawPort) +
                               (tls.key.empty() ? ""
                                                : connection("tls", "telnet(rfc2217)," + ssl, m_tlsPort) +
                                                      connection("tlsraw", ssl, m_tlsRawPort)));
        const std::string pidFile = folder + "/ser2net.pid";
        const std::string log = folder + "/ser2net.log";
        m_pid = ::fork();
        if (m_pid == 0) {
            const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            ::execl(executable.c_str(), executable.c_str(), "-n", "-d", "-u", "-c", config.c_str(), "-P",
                    pidFile.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + kStartBound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1; // it gave up, probably on a port taken meanwhile
                break;
            }
            if (Listening(m_rfc2217Port) && Listening(m_rawPort) &&
                (tls.key.empty() || (Listening(m_tlsPort) && Listening(m_tlsRawPort)))) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
    }
    return false;
}

bool Ser2net::hold(int port) {
    m_holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return ::connect(m_holder, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

void Ser2net::stop() {
    if (m_holder >= 0) {
        ::close(m_holder);
        m_holder = -1;
    }
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopBound;
    while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}
