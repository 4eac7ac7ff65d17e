// The pinned trust of a TLS target: the CA (or the server's own certificate) and the optional client
// certificate, from the user's and the system's tls folders, never from the system's CA store.
#pragma once

#include <string>
#include <vector>

namespace portlink {

struct TlsTrust {
    std::string folder; // where ca.pem was found; client.pem and client.key come from the same folder
    std::string ca;
    std::string clientCertificate; // empty when the folder holds no client.pem
    std::string clientKey;
};

// The folders looked in for host, first wins: user then system folder of the host, then user then system
// folder of every host. configHome is $XDG_CONFIG_HOME (or ~/.config).
std::vector<std::string> tlsFolders(const std::string& host, const std::string& configHome,
                                    const std::string& systemRoot = "/etc/VellPortDll/tls");

// The trust for host from the process's folders. false with reason (naming the folders, or the file at fault)
// when no ca.pem is found, a file cannot be read, or client.key is readable by group or others.
bool findTlsTrust(const std::string& host, TlsTrust& trust, std::string& reason);
bool findTlsTrust(const std::vector<std::string>& folders, TlsTrust& trust, std::string& reason);

} // namespace portlink
