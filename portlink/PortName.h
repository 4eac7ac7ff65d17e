// Port name parsing and device path resolution: pure functions, kept apart so they can be tested and fuzzed
// alone.
#pragma once

#include <functional>
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
    bool tls =
        false; // "rfc2217+tls://", "tcp+tls://": TLS over the connection, the server's certificate pinned
    std::string name; // "?name=NAME": the name the certificate carries instead of host
    bool operator==(const Endpoint&) const = default;
};

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
    std::string devicePath; // an absolute device path or an endpoint URL
    std::string problem;    // why a malformed line is not an entry, in plain words
};

// Blank and '#' lines are skipped; "COM<n>=<absolute path or endpoint URL>" (spaces around either side
// allowed) is an entry; anything else is malformed.
MapLine parseMapLine(std::string_view line);

// The fixed rule older Wine and Cygwin use: COM<n> is /dev/ttyS<n-1>.
std::string fixedDevicePath(int portNumber);

// Where the names may be mapped; a separate value so tests can point at their own files.
struct MapSources {
    std::string environmentValue; // VELLPORT_COM<n>, empty when unset
    std::string userMapPath;
    std::string systemMapPath;
};

// The map file paths for this process: $XDG_CONFIG_HOME (or ~/.config) and /etc, and VELLPORT_COM<n>.
MapSources currentMapSources(int portNumber);

// Which of the sources gave a device path.
enum class PortRule { Environment, UserMap, SystemMap, Fixed };

// The name's own line (or environment value) that is not valid: the name then leads nowhere, since
// falling through to the next rule could reach another device.
struct InvalidLine {
    std::string place;  // "<map file>:<line number>" or "VELLPORT_COM<n>"
    std::string reason; // what is wrong, quoting the line
};

struct Resolution {
    std::string devicePath; // empty when invalid is set
    PortRule rule = PortRule::Fixed;
    std::string mapFile; // the file whose line gave the path, for the two map rules
    std::optional<InvalidLine> invalid = std::nullopt;
};

// The first of the environment value, the user map and the system map that has a line for the port decides:
// its path, or invalid when that line is not valid; else the fixed rule. Every other malformed line of a map
// file read on the way is reported once through warn.
Resolution resolvePort(int portNumber, const MapSources& sources,
                       const std::function<void(const std::string&)>& warn);

// The device path alone of resolvePort ("" when the name leads nowhere).
std::string resolveDevicePath(int portNumber, const MapSources& sources,
                              const std::function<void(const std::string&)>& warn);

} // namespace portlink
