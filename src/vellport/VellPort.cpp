// The vellport commands: help, version, the map file edits, and the dispatch to the other commands.
#include "vellport/VellPort.h"

#include "common/FileReplacement.h"
#include "portlink/PortName.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/PortMapEdit.h"
#include "vellport/PortReport.h"
#include "vellport/Probe.h"
#include "vellport/Send.h"
#include "vellport/commands/Discover.h"
#include "version/VersionRecord.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sys/stat.h>

namespace {

constexpr const char* kSystemMapPath = "/etc/VellPortDll/ports.conf";

constexpr const char* kUsage =
    "Usage: vellport COMMAND [OPTIONS]\n"
    "Reach serial displays, local or on the network, through the VellPortDll port link library.\n"
    "\n"
    "Commands:\n"
    "  list [--json]               COM1 to COM30 (and higher mapped names): device or URL, rule, state\n"
    "  devices [--json]            the serial devices present and the COM names that lead to them\n"
    "  map COM<n> TARGET [--system] [-q]\n"
    "                              make COM<n> lead to TARGET in the user's map file: an absolute\n"
    "                              device path, rfc2217://HOST:PORT or tcp://HOST:PORT (nothing connected)\n"
    "  unmap COM<n> [--system] [-q]    remove the map file's lines for COM<n>\n"
    "  send on|off [--port COM<n>]... [--to TARGET]... [--targets FILE] [--baud RATE]\n"
    "              [--settings FILE] [--parallel N] [--strict] [-q] [--json]\n"
    "                              switch the screen saver as the window's Open and Close buttons do;\n"
    "                              with no target, the port VellSetting saved; one --port prints nothing\n"
    "                              on success (a failure is one line on standard error); several targets\n"
    "                              are sent to in parallel, a line each as it ends, then a summary;\n"
    "                              targets that lead to one place are sent to once\n"
    "  probe [COM<n>|URL]... [--baud RATE] [--settings FILE] [--parallel N] [-q] [--json]\n"
    "                              connect and negotiate without sending data: reachable (and the rate the\n"
    "                              server confirmed), refused, no answer, not RFC 2217, busy; with no\n"
    "                              target, every COM name that leads to a network endpoint\n"
    "  discover [--seconds S] [--type TYPE] [--json]\n"
    "                              the displays ser2net advertises over mDNS, each with a ready map line;\n"
    "                              maps nothing: adverts are unauthenticated (see vellport discover --help)\n"
    "\n"
    "Options:\n"
    "  --json           one JSON document instead of text (ASCII; a text whose bytes are not UTF-8\n"
    "                   also comes as hex in a sibling field named with \"Hex\" added, e.g. deviceHex)\n"
    "  -q, --quiet      only failures, and the summary when something failed: nothing on full success\n"
    "  --strict         a send that only the server's TCP stack acknowledged (\"ok (acknowledged only)\":\n"
    "                   a raw TCP server kept the connection open) is a failure\n"
    "  --system         edit /etc/VellPortDll/ports.conf instead of the user's map file\n"
    "  --port COM<n>    a COM name to send to; may be repeated\n"
    "  --to TARGET      an endpoint URL or absolute device path to send to; may be repeated\n"
    "  --targets FILE   one COM name or TARGET a line; blank lines and lines starting with '#' skipped\n"
    "                   (a regular file of at most 1 MiB)\n"
    "  --baud RATE      the rate in bits per second (default: the rate VellSetting saved; a tcp://\n"
    "                   target keeps the server's)\n"
    "  --settings FILE  the Option.ini to read the saved port and rate from (at most 1 MiB)\n"
    "  --parallel N     at most N calls at once (default 32, at most 1024)\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "\n"
    "Map files: ${XDG_CONFIG_HOME:-~/.config}/VellPortDll/ports.conf, then /etc/VellPortDll/ports.conf;\n"
    "they are read again at every send, so no restart is needed.\n"
    "Exit status: 0 success (every target); 1 the operation, a target or writing the output failed;\n"
    "2 wrong usage or unusable input (nothing was sent).\n";

std::string mapFilePath(bool system) {
    if (system) {
        return kSystemMapPath;
    }
    const std::optional<std::string> home = configHome();
    if (!home) {
        throw UsageError("neither XDG_CONFIG_HOME nor HOME is set: no user map file",
                         "vellport map COM3 /dev/ttyUSB0 --system");
    }
    return *home + "/VellPortDll/ports.conf";
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

} // namespace

int runVellPort(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (!arguments.empty() && arguments.front() == "discover") {
        return vellport::runDiscover(arguments, out, err);
    }
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            out << kUsage;
            return kExitOk;
        }
    }
    if (!arguments.empty() && arguments.front() == "--version") {
        // The record of the running image, as the window's title reads it: no file is opened.
        out << "vellport " << productVersionString(loadedVersionRecord()) << "\n";
        return kExitOk;
    }
    try {
        const Options options = parseArguments(arguments);
        if (options.command == "list") {
            return runList(options.json, out, err);
        }
        if (options.command == "devices") {
            return runDevices(options.json, out, err);
        }
        if (options.command == "map") {
            return runMap(options, out, err);
        }
        if (options.command == "unmap") {
            return runUnmap(options, out, err);
        }
        if (options.command == "probe") {
            return runProbe(options, out, err);
        }
        return runSend(options, out, err);
    } catch (const UsageError& error) {
        err << error.line();
        return kExitUsage;
    } catch (const std::exception& error) {
        // Memory that ran out is a failure with a line, never an abort.
        err << "vellport: " << error.what() << "\n";
        return kExitFailed;
    }
}
