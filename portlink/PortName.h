// The grammar of port names, map lines and endpoint URLs: pure functions, tested and fuzzed alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace portlink {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;

// The port number of "COM<n>" or "\\.\COM<n>" (any case, 1..255, no leading zeros), or nothing.
std::optional<int> parsePortName(std::string_view name);

// A network endpoint a name may lead to: "rfc2217://HOST:PORT" (telnet with the serial port option) or
// "tcp://HOST:PORT" (raw bytes, line settings fixed on the server). HOST is a host name, a dotted IPv4
// address or a bracketed IPv6 address (kept here without its brackets).
struct Endpoint {
    enum class Kind { Rfc2217, RawTcp };
    Kind kind = Kind::Rfc2217;
    std::string host;
    int port = 0;
    // "rfc2217+tls://", "tcp+tls://": TLS over the connection, the server's certificate pinned
    bool tls = false;
    std::string name; // "?name=NAME": the name the certificate carries instead of host
    bool operator==(const Endpoint&) const = default;
};

// The endpoint URLs as the error words name them.
inline constexpr std::string_view kEndpointForms = "rfc2217://HOST:PORT or tcp://HOST:PORT";

// The endpoint a URL names, or nothing for another scheme, a missing or out-of-range port (1 to 65535), or a
// malformed host. The scheme is taken in any letter case.
std::optional<Endpoint> parseEndpoint(std::string_view url);

// Why target cannot be a map target (neither an absolute device path nor an endpoint URL), or "" when it can.
std::string mapTargetProblem(std::string_view target);

// One line of a map file.
struct MapLine {
    enum class Kind { Skip, Entry, Malformed };
    Kind kind = Kind::Skip;
    // An entry's port; for a malformed line, the port its name part means ("COM12", "com012", "\\.\COM12"
    // before '=' or the first blank), 0 when it names none.
    int portNumber = 0;
    std::string target;  // an absolute device path or an endpoint URL
    std::string problem; // why a malformed line is not an entry, in plain words
};

// Blank and '#' lines are skipped; "COM<n>=<absolute path or endpoint URL>" (spaces around either side
// allowed) is an entry; anything else is malformed.
MapLine parseMapLine(std::string_view line);

} // namespace portlink
