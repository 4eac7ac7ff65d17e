#include "common/FileReplacement.h"
#include "portlink/PortMapping.h"
#include "portlink/PortName.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/PortMapEdit.h"
#include "vellport/commands/Commands.h"
#include "vellport/output/PortReport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sys/stat.h>

namespace vellport {
namespace {

// The files the library reads, so an edit always lands where the library looks.
std::string mapFilePath(bool system) {
    portlink::MapFilePaths paths = portlink::mapFilePaths();
    if (system) {
        return std::move(paths.systemMap);
    }
    if (paths.userMap.empty()) {
        throw UsageError("neither XDG_CONFIG_HOME nor HOME is set: no user map file",
                         "vellport map COM3 /dev/ttyUSB0 --system");
    }
    return std::move(paths.userMap);
}

// The device path must be one the library could write to, now or once the adapter is plugged in; an endpoint
// URL is checked for its form only, nothing is connected.
void checkMapTarget(const std::string& device, std::ostream& err) {
    if (const std::string problem = portlink::mapTargetProblem(device); !problem.empty()) {
        throw UsageError("refused '" + device + "': " + problem,
                         device.find("://") != std::string::npos
                             ? "vellport map COM5 rfc2217://counter-pi:2001"
                             : "vellport map COM3 /dev/serial/by-id/usb-...-port0");
    }
    if (!device.starts_with('/')) {
        return;
    }
    struct stat status {};
    if (::stat(device.c_str(), &status) == 0) {
        if (!S_ISCHR(status.st_mode)) {
            throw UsageError("refused '" + device + "': not a character device",
                             "vellport map COM3 /dev/serial/by-id/usb-...-port0");
        }
        return;
    }
    err << "vellport: warning: " << device << " does not exist now (" << std::strerror(errno)
        << "); mapped all the same\n";
}

} // namespace

int runMap(const Options& options, std::ostream& out, std::ostream& err) {
    const int number = requirePortName(options.positional[0]);
    const std::string& device = options.positional[1];
    checkMapTarget(device, err);
    const std::string path = mapFilePath(options.system);
    if (const std::optional<std::string> stable = stableNameSuggestion(device)) {
        err << "vellport: hint: " << device << " may name another adapter after a replug; its stable name is "
            << *stable << "\n";
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) {
        err << "vellport: cannot create the folder of " << path << ": " << error.message() << "\n";
        return kExitFailed;
    }
    const int result = common::replaceFileBytes(path, [&](const std::optional<std::string>& oldBytes) {
        return std::optional<std::string>(
            mapPort(oldBytes.value_or(std::string(kMapFileHeader)), number, device));
    });
    if (result != 0) {
        err << "vellport: cannot write " << path << ": " << std::strerror(result) << "\n";
        return kExitFailed;
    }
    if (!options.quiet) {
        out << "COM" << number << "=" << device << " in " << path << "\n";
    }
    return kExitOk;
}

int runUnmap(const Options& options, std::ostream& out, std::ostream& err) {
    const int number = requirePortName(options.positional[0]);
    const std::string path = mapFilePath(options.system);
    bool found = false;
    const int result = common::replaceFileBytes(path, [&](const std::optional<std::string>& oldBytes) {
        std::optional<std::string> edited;
        if (oldBytes) {
            edited = unmapPort(*oldBytes, number);
            found = edited->size() != oldBytes->size();
        }
        // An absent file maps nothing and is not created for the removal.
        return found ? edited : std::nullopt;
    });
    if (result != 0) {
        err << "vellport: cannot write " << path << ": " << std::strerror(result) << "\n";
        return kExitFailed;
    }
    if (!options.quiet) {
        out << "COM" << number << (found ? " removed from " : " was not mapped in ") << path << "\n";
    }
    return kExitOk;
}
} // namespace vellport
