// What a COM name leads to: the map files, their rules and the resolution environment, user map, system map,
// then the fixed /dev/ttyS<n-1>.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace portlink {

// The map files a process reads; userMap is empty when neither XDG_CONFIG_HOME nor HOME is usable.
struct MapFilePaths {
    std::string userMap;   // $XDG_CONFIG_HOME (absolute) or ~/.config, then /VellPortDll/ports.conf
    std::string systemMap; // /etc/VellPortDll/ports.conf
};

MapFilePaths mapFilePaths();

// Where the names may be mapped; a separate value so tests can point at their own files.
struct MapSources {
    std::string environmentValue; // VELLPORT_COM<n>, empty when unset
    std::string userMapPath;
    std::string systemMapPath;
};

// The map file paths of this process and its VELLPORT_COM<n>.
MapSources currentMapSources(int portNumber);

// The fixed rule older Wine and Cygwin use: COM<n> is /dev/ttyS<n-1>.
std::string fixedTarget(int portNumber);

// Which of the sources gave a target.
enum class PortRule { Environment, UserMap, SystemMap, Fixed };

// The name's own line (or environment value) that is not valid: the name then leads nowhere, since
// falling through to the next rule could reach another device.
struct InvalidLine {
    std::string place;  // "<map file>:<line number>" or "VELLPORT_COM<n>"
    std::string reason; // what is wrong, quoting the line
};

struct Resolution {
    std::string target; // empty when invalid is set
    PortRule rule = PortRule::Fixed;
    std::string mapFile; // the file whose line gave the target, for the two map rules
    std::optional<InvalidLine> invalid = std::nullopt;
};

// The first of the environment value, the user map and the system map that has a line for the port decides:
// its target, or invalid when that line is not valid; else the fixed rule. Every other malformed line of a
// map file read on the way is reported once through warn.
Resolution resolvePort(int portNumber, const MapSources& sources,
                       const std::function<void(const std::string&)>& warn);

} // namespace portlink
