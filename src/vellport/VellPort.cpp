#include "vellport/VellPort.h"

#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/commands/Commands.h"
#include "version/VersionRecord.h"

#include <exception>
#include <ostream>
#include <string>

namespace vellport {
namespace {

constexpr const char* kUsageHead =
    "Usage: vellport COMMAND [OPTIONS]\n"
    "Reach serial displays, local or on the network, through the VellPortDll port link library.\n"
    "\n"
    "Commands:\n";

constexpr const char* kUsageTail =
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

// Each command's lines in the usage text, in the order of the table.
constexpr const char* kListUsage =
    "  list [--json]               COM1 to COM30 (and higher mapped names): device or URL, rule, state\n";
constexpr const char* kDevicesUsage =
    "  devices [--json]            the serial devices present and the COM names that lead to them\n";
constexpr const char* kMapUsage =
    "  map COM<n> TARGET [--system] [-q]\n"
    "                              make COM<n> lead to TARGET in the user's map file: an absolute\n"
    "                              device path, rfc2217://HOST:PORT or tcp://HOST:PORT (nothing connected),\n"
    "                              or rfc2217+tls:// and tcp+tls:// for ser2net over TLS\n";
constexpr const char* kUnmapUsage =
    "  unmap COM<n> [--system] [-q]    remove the map file's lines for COM<n>\n";
constexpr const char* kSendUsage =
    "  send on|off [--port COM<n>]... [--to TARGET]... [--targets FILE] [--baud RATE]\n"
    "              [--settings FILE] [--parallel N] [--strict] [-q] [--json]\n"
    "                              switch the screen saver as the window's Open and Close buttons do;\n"
    "                              with no target, the port VellSetting saved; one --port prints nothing\n"
    "                              on success (a failure is one line on standard error); several targets\n"
    "                              are sent to in parallel, a line each as it ends, then a summary;\n"
    "                              targets that lead to one place are sent to once\n";
constexpr const char* kProbeUsage =
    "  probe [COM<n>|URL]... [--baud RATE] [--settings FILE] [--parallel N] [-q] [--json]\n"
    "                              connect and negotiate without sending data: reachable (and the rate the\n"
    "                              server confirmed), refused, no answer, not RFC 2217, busy; with no\n"
    "                              target, every COM name that leads to a network endpoint\n";

constexpr const char* kDiscoverUsage =
    "  discover [--seconds S] [--type TYPE] [--json]\n"
    "                              the displays ser2net advertises over mDNS, each with a ready map line;\n"
    "                              maps nothing: adverts are unauthenticated (see vellport discover "
    "--help)\n";
constexpr const char* kDiscoverHelp =
    "Usage: vellport discover [--seconds S] [--type TYPE] [--json]\n"
    "Ask the local network once over mDNS for the serial ports ser2net advertises (its option mdns: true),\n"
    "and print each one's name, URL, the administrator's TXT entries and a ready 'vellport map' line with\n"
    "the first free COM name. Nothing is mapped: adverts are unauthenticated, anyone on the link can send\n"
    "one, so map only a display you know.\n"
    "\n"
    "  --seconds S   how long answers are gathered, 0.01 to 60 (default 1)\n"
    "  --type TYPE   the mDNS service type asked for (default _iostream._tcp, ser2net's)\n"
    "  --json        one JSON document instead of text\n"
    "Exit status: 0 with or without adverts; 1 when no question could be sent; 2 wrong usage.\n";

// A command: its shape on the command line, what runs it, its lines in the usage text, and the text of
// "vellport COMMAND --help" when it has one of its own.
struct Command {
    CommandShape shape;
    int (*run)(const Options& options, std::ostream& out, std::ostream& err);
    const char* usage;
    const char* help = nullptr;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> table{
        {{"list", 0, {"--json"}, "list takes no arguments", "vellport list --json"}, runList, kListUsage},
        {{"devices", 0, {"--json"}, "devices takes no arguments", "vellport devices --json"},
         runDevices,
         kDevicesUsage},
        {{"map",
          2,
          {"--system", "--quiet"},
          "map needs a COM name and a device path or URL",
          "vellport map COM3 /dev/serial/by-id/usb-...-port0"},
         runMap,
         kMapUsage},
        {{"unmap", 1, {"--system", "--quiet"}, "unmap needs one COM name", "vellport unmap COM3"},
         runUnmap,
         kUnmapUsage},
        {{"send",
          1,
          {"--port", "--to", "--targets", "--baud", "--settings", "--parallel", "--json", "--quiet",
           "--strict"},
          "send needs on or off",
          "vellport send on --port COM3"},
         runSend,
         kSendUsage},
        {{"probe",
          kAnyCount,
          {"--baud", "--settings", "--parallel", "--json", "--quiet"},
          "",
          "vellport probe COM5 rfc2217://counter-pi:2001"},
         runProbe,
         kProbeUsage},
        {{"discover",
          0,
          {"--seconds", "--type", "--json"},
          "discover takes no arguments",
          "vellport discover --seconds 2"},
         runDiscover,
         kDiscoverUsage,
         kDiscoverHelp},
    };
    return table;
}

std::string usageText() {
    std::string usage = kUsageHead;
    for (const Command& command : commands()) {
        usage += command.usage;
    }
    return usage + kUsageTail;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.shape.name) {
            return &command;
        }
    }
    return nullptr;
}

} // namespace

int runVellPort(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            const Command* command = arguments.empty() ? nullptr : findCommand(arguments.front());
            out << (command != nullptr && command->help != nullptr ? command->help : usageText());
            return kExitOk;
        }
    }
    if (!arguments.empty() && arguments.front() == "--version") {
        // The record of the running image, as the window's title reads it: no file is opened.
        out << "vellport " << productVersionString(loadedVersionRecord()) << "\n";
        return kExitOk;
    }
    try {
        if (arguments.empty()) {
            throw UsageError("no command given", "vellport list");
        }
        const Command* command = findCommand(arguments.front());
        if (command == nullptr) {
            throw UsageError("unknown command '" + arguments.front() + "'", "vellport list");
        }
        return command->run(parseArguments(arguments, command->shape), out, err);
    } catch (const UsageError& error) {
        err << error.line();
        return kExitUsage;
    } catch (const std::exception& error) {
        // Memory that ran out is a failure with a line, never an abort.
        err << "vellport: " << error.what() << "\n";
        return kExitFailed;
    }
}
} // namespace vellport
