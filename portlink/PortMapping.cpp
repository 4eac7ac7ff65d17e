#include "PortMapping.h"

#include "PortName.h"
#include "common/RegularFile.h"

#include <cstdlib>
#include <utility>

namespace portlink {
namespace {

// A map file holds a few lines; anything bigger is not one.
constexpr std::size_t kLargestMapFile = std::size_t{1024} * 1024;

// The first line of a map file that is the port's, valid or not; every other malformed line goes to warn.
struct OwnLine {
    int number = 0; // 0: the file has no line for the port
    MapLine parsed;
    std::string text;
};

OwnLine readMapFile(const std::string& path, int portNumber,
                    const std::function<void(const std::string&)>& warn) {
    OwnLine own;
    const common::FileBytes file = common::readRegularFile(path, kLargestMapFile);
    if (file.outcome == common::FileBytes::Outcome::Missing) {
        return own; // a missing map file is the normal case
    }
    if (file.outcome == common::FileBytes::Outcome::Skipped) {
        warn(path + ": skipped, " + file.problem);
        return own;
    }
    int lineNumber = 0;
    for (std::string_view rest = file.bytes; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        ++lineNumber;
        MapLine parsed = parseMapLine(line);
        if (own.number == 0 && parsed.kind != MapLine::Kind::Skip && parsed.portNumber == portNumber) {
            own = {lineNumber, std::move(parsed), std::string(line)};
        } else if (parsed.kind == MapLine::Kind::Malformed) {
            warn(path + ":" + std::to_string(lineNumber) + ": ignored, " + parsed.problem + ": \"" +
                 std::string(line) + "\"");
        }
    }
    return own;
}

} // namespace

std::string fixedTarget(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

MapFilePaths mapFilePaths() {
    MapFilePaths paths;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        paths.userMap = std::string(xdg) + "/VellPortDll/ports.conf";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        paths.userMap = std::string(home) + "/.config/VellPortDll/ports.conf";
    }
    paths.systemMap = "/etc/VellPortDll/ports.conf";
    return paths;
}

MapSources currentMapSources(int portNumber) {
    MapFilePaths paths = mapFilePaths();
    MapSources sources{{}, std::move(paths.userMap), std::move(paths.systemMap)};
    const std::string variable = "VELLPORT_COM" + std::to_string(portNumber);
    if (const char* value = std::getenv(variable.c_str())) {
        sources.environmentValue = value;
    }
    return sources;
}

Resolution resolvePort(int portNumber, const MapSources& sources,
                       const std::function<void(const std::string&)>& warn) {
    if (!sources.environmentValue.empty()) {
        if (const std::string problem = mapTargetProblem(sources.environmentValue); !problem.empty()) {
            return {{},
                    PortRule::Environment,
                    {},
                    InvalidLine{"VELLPORT_COM" + std::to_string(portNumber),
                                "not a valid target, so the name leads nowhere (" + problem + "): \"" +
                                    sources.environmentValue + "\""}};
        }
        return {sources.environmentValue, PortRule::Environment, {}, std::nullopt};
    }
    for (const auto& [path, rule] : {std::pair{&sources.userMapPath, PortRule::UserMap},
                                     std::pair{&sources.systemMapPath, PortRule::SystemMap}}) {
        if (path->empty()) {
            continue;
        }
        OwnLine own = readMapFile(*path, portNumber, warn);
        if (own.number == 0) {
            continue;
        }
        if (own.parsed.kind == MapLine::Kind::Entry) {
            return {std::move(own.parsed.target), rule, *path, std::nullopt};
        }
        return {{},
                rule,
                *path,
                InvalidLine{*path + ":" + std::to_string(own.number),
                            "not a valid map line, so the name leads nowhere (" + own.parsed.problem +
                                "): \"" + own.text + "\""}};
    }
    return {fixedTarget(portNumber), PortRule::Fixed, {}, std::nullopt};
}

} // namespace portlink
