// The pinned trust of a TLS target: the CA (or the server's own certificate) and the optional client
// certificate, from the user's and the system's tls folders, never from the system's CA store.
#pragma once

#include <string>

namespace portlink {

struct TlsTrust {
    std::string folder; // where ca.pem was found; client.pem and client.key come from the same folder
    std::string ca;
    std::string clientCertificate; // empty when the folder holds no client.pem
    std::string clientKey;
};

// The trust for host from the process's folders, first wins: user then system folder of the host, then user
// then system folder of every host. false with reason (naming the folders, or the file at fault) when no
// ca.pem is found, a file cannot be read, or client.key is readable by group or others.
bool findTlsTrust(const std::string& host, TlsTrust& trust, std::string& reason);

} // namespace portlink
