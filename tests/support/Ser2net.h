// The real ser2net as a child process of a test: an RFC 2217 port and a raw TCP port on localhost in front of
// one device, and the same two over TLS when asked.
#pragma once

#include <string>
#include <sys/types.h>

class Ser2net {
public:
    Ser2net() = default;
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;
    ~Ser2net();

    // The device's rate in the configuration, which ser2net also puts back when a connection ends.
    static constexpr int kDefaultRate = 9600;

    // The server's key and certificate for its TLS ports; with an authdir, clients need a certificate from
    // it.
    struct Tls {
        std::string key;
        std::string cert;
        std::string authdir;
    };

    // Where ser2net is installed; empty when it is not.
    static std::string program();
    // Writes folder/ser2net.yaml for device (at kDefaultRate 8N1) on two free ports, starts ser2net and waits
    // for both to listen; false when it does not come up.
    bool start(const std::string& device, const std::string& folder, const Tls& tls = {});
    void stop();
    // Connects a client of the test's own to port and keeps it until stop(), so the device is taken.
    bool hold(int port);

    int rfc2217Port() const { return m_rfc2217Port; }
    int rawPort() const { return m_rawPort; }
    int tlsPort() const { return m_tlsPort; }
    int tlsRawPort() const { return m_tlsRawPort; }

private:
    pid_t m_pid = -1;
    int m_rfc2217Port = 0;
    int m_rawPort = 0;
    int m_tlsPort = 0;
    int m_tlsRawPort = 0;
    int m_holder = -1;
};
