// The vellport commands: argument checks, the map file edits, and sending the saver command as the window
// does.
#include "vellport/VellPort.h"

#include "VellPortDll.h"
#include "link/SaverCommand.h"
#include "portlink/PortName.h"
#include "settings/CommSettings.h"
#include "settings/ProfileFile.h"
#include "vellport/PortMapEdit.h"
#include "vellport/PortReport.h"
#include "version/Title.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>
#include <string_view>
#include <sys/stat.h>

namespace {

constexpr const char* kSystemMapPath = "/etc/VellPortDll/ports.conf";
constexpr char kParity = 'N';
constexpr int kDataBits = 8;
constexpr int kStopBits = 1;
constexpr int kNoFlowControl = 0;

constexpr const char* kUsage =
    "Usage: vellport COMMAND [OPTIONS]\n"
    "Reach a serial display through the VellPortDll port link library.\n"
    "\n"
    "Commands:\n"
    "  list [--json]               COM1 to COM30 (and higher mapped names): device, rule, state\n"
    "  devices [--json]            the serial devices present and the COM names that lead to them\n"
    "  map COM<n> DEVICE [--system]    make COM<n> lead to DEVICE in the user's map file\n"
    "  unmap COM<n> [--system]     remove the map file's lines for COM<n>\n"
    "  send on|off [--port COM<n>] [--baud RATE] [--settings FILE]\n"
    "                              switch the screen saver as the window's Open and Close buttons do;\n"
    "                              port and rate default to those VellSetting saved\n"
    "\n"
    "Options:\n"
    "  --json          one JSON document instead of text\n"
    "  --system        edit /etc/VellPortDll/ports.conf instead of the user's map file\n"
    "  --port COM<n>   the port to send to\n"
    "  --baud RATE     the rate in bits per second\n"
    "  --settings FILE the Option.ini to read port and rate from\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "Map files: ${XDG_CONFIG_HOME:-~/.config}/VellPortDll/ports.conf, then /etc/VellPortDll/ports.conf;\n"
    "they are read again at every send, so no restart is needed.\n"
    "Exit status: 0 success, 1 the operation failed, 2 wrong usage or unusable input.\n";

struct Options {
    std::string command;
    std::vector<std::string> positional;
    bool json = false;
    bool system = false;
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> settings;
};

// What each command takes: its number of plain arguments and its options.
struct CommandShape {
    const char* name;
    std::size_t positionalCount;
    std::vector<std::string> options;
};

const std::vector<CommandShape>& commandShapes() {
    static const std::vector<CommandShape> shapes{
        {"list", 0, {"--json"}},
        {"devices", 0, {"--json"}},
        {"map", 2, {"--system"}},
        {"unmap", 1, {"--system"}},
        {"send", 1, {"--port", "--baud", "--settings"}},
    };
    return shapes;
}

class UsageError {
public:
    explicit UsageError(std::string message) : m_message(std::move(message)) {}
    const std::string& message() const { return m_message; }

private:
    std::string m_message;
};

Options parseArguments(const std::vector<std::string>& arguments) {
    Options options;
    options.command = arguments.front();
    const CommandShape* shape = nullptr;
    for (const CommandShape& candidate : commandShapes()) {
        if (options.command == candidate.name) {
            shape = &candidate;
        }
    }
    if (shape == nullptr) {
        throw UsageError("unknown command '" + options.command + "'");
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (!argument.starts_with("--")) {
            options.positional.push_back(argument);
            continue;
        }
        std::optional<std::string> value;
        if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
        }
        if (std::find(shape->options.begin(), shape->options.end(), argument) == shape->options.end()) {
            throw UsageError("'" + options.command + "' takes no option " + argument);
        }
        if (argument == "--json" || argument == "--system") {
            if (value) {
                throw UsageError(argument + " takes no value");
            }
            (argument == "--json" ? options.json : options.system) = true;
            continue;
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                throw UsageError(argument + " needs a value");
            }
            value = arguments[++i];
        }
        (argument == "--port"   ? options.port
         : argument == "--baud" ? options.baud
                                : options.settings) = value;
    }
    if (options.positional.size() != shape->positionalCount) {
        throw UsageError("'" + options.command + "' takes " + std::to_string(shape->positionalCount) +
                         " argument(s), got " + std::to_string(options.positional.size()));
    }
    return options;
}

// $XDG_CONFIG_HOME when it is absolute, else ~/.config, as the library and the launcher take it.
std::optional<std::string> configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return std::string(xdg);
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config";
    }
    return std::nullopt;
}

int requirePortName(const std::string& name) {
    const std::optional<int> number = vellport::parsePortName(name);
    if (!number) {
        throw UsageError("'" + name + "' is not a port name (COM1 to COM255)");
    }
    return *number;
}

// A positive decimal number that fits an int.
int requireRate(const std::string& text) {
    int rate = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || rate > (std::numeric_limits<int>::max() - (c - '0')) / 10) {
            throw UsageError("'" + text + "' is not a rate (a positive number of bits per second)");
        }
        rate = rate * 10 + (c - '0');
    }
    if (rate <= 0) {
        throw UsageError("'" + text + "' is not a rate (a positive number of bits per second)");
    }
    return rate;
}

std::string mapFilePath(bool system) {
    if (system) {
        return kSystemMapPath;
    }
    const std::optional<std::string> home = configHome();
    if (!home) {
        throw UsageError("neither XDG_CONFIG_HOME nor HOME is set: no user map file");
    }
    return *home + "/VellPortDll/ports.conf";
}

// The device path must be one the library could write to, now or once the adapter is plugged in; an endpoint
// URL is checked for its form only, nothing is connected.
void checkMapTarget(const std::string& device, std::ostream& err) {
    if (const std::string problem = vellport::mapTargetProblem(device); !problem.empty()) {
        throw UsageError("refused '" + device + "': " + problem);
    }
    if (!device.starts_with('/')) {
        return;
    }
    struct stat status {};
    if (::stat(device.c_str(), &status) == 0) {
        if (!S_ISCHR(status.st_mode)) {
            throw UsageError("refused '" + device + "': not a character device");
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
    const int result = replaceFileBytes(path, [&](const std::optional<std::string>& oldBytes) {
        return std::optional<std::string>(
            mapPort(oldBytes.value_or(std::string(kMapFileHeader)), number, device));
    });
    if (result != 0) {
        err << "vellport: cannot write " << path << ": " << std::strerror(result) << "\n";
        return kExitFailed;
    }
    out << "COM" << number << "=" << device << " in " << path << "\n";
    return kExitOk;
}

int runUnmap(const Options& options, std::ostream& out, std::ostream& err) {
    const int number = requirePortName(options.positional[0]);
    const std::string path = mapFilePath(options.system);
    bool found = false;
    const int result = replaceFileBytes(path, [&](const std::optional<std::string>& oldBytes) {
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
    out << "COM" << number << (found ? " removed from " : " was not mapped in ") << path << "\n";
    return kExitOk;
}

// Port and rate as the window would show them on opening with this settings file.
void fillFromSettings(const std::string& settingsPath, std::string& port, std::optional<int>& rate,
                      bool needPort) {
    const CommSettings stored = loadCommSettings(settingsPath);
    const std::vector<std::string> ports = BuildPortList();
    const CommSelection selection = selectStored(ports, stored);
    if (needPort) {
        port = ports[static_cast<std::size_t>(selection.portIndex)];
    }
    if (!rate) {
        if (selection.baudIndex < 0) {
            throw UsageError("the stored Baud " + std::to_string(stored.baudIndex) + " in " + settingsPath +
                             " selects no rate (0 to " + std::to_string(kBaudList.size() - 1) +
                             " expected); give --baud");
        }
        // The entry read as a decimal number, as the window reads the text it shows.
        const std::string_view entry = kBaudList[static_cast<std::size_t>(selection.baudIndex)];
        int value = 0;
        std::from_chars(entry.data(), entry.data() + entry.size(), value);
        rate = value;
    }
}

int runSend(const Options& options, std::ostream& err) {
    const std::string& state = options.positional[0];
    if (state != "on" && state != "off") {
        throw UsageError("send takes on or off, not '" + state + "'");
    }
    std::string port;
    if (options.port) {
        requirePortName(*options.port);
        port = *options.port;
    }
    std::optional<int> rate;
    if (options.baud) {
        rate = requireRate(*options.baud);
    }
    if (!options.port || !rate) {
        std::string settingsPath;
        if (options.settings) {
            settingsPath = *options.settings;
        } else if (const std::optional<std::string> home = configHome()) {
            settingsPath = *home + "/VellSetting/Option.ini";
        } else {
            throw UsageError("neither XDG_CONFIG_HOME nor HOME is set: give --port and --baud");
        }
        fillFromSettings(settingsPath, port, rate, !options.port);
    }
    // The calls and constants of the window's choice of a port, then of its Open and Close buttons.
    if (const int result = SetComParam(port.c_str(), *rate, kDataBits, kParity, kStopBits, kNoFlowControl);
        result != VELLPORT_OK) {
        err << "vellport: SetComParam " << port << " " << *rate << ": " << resultName(result) << "\n";
        return kExitFailed;
    }
    const SaverCommand command = makeSaverCommand(state == "on");
    if (const int result = SendData(port.c_str(), command.data(), static_cast<int>(command.size()));
        result != VELLPORT_OK) {
        err << "vellport: SendData " << port << ": " << resultName(result) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

std::string resultName(int result) {
    switch (result) {
    case VELLPORT_OK:
        return "VELLPORT_OK";
    case VELLPORT_ERR_ARG:
        return "VELLPORT_ERR_ARG";
    case VELLPORT_ERR_NAME:
        return "VELLPORT_ERR_NAME";
    case VELLPORT_ERR_NO_DEVICE:
        return "VELLPORT_ERR_NO_DEVICE";
    case VELLPORT_ERR_PERMISSION:
        return "VELLPORT_ERR_PERMISSION";
    case VELLPORT_ERR_BUSY:
        return "VELLPORT_ERR_BUSY";
    case VELLPORT_ERR_IO:
        return "VELLPORT_ERR_IO";
    case VELLPORT_ERR_TIMEOUT:
        return "VELLPORT_ERR_TIMEOUT";
    default:
        return std::to_string(result);
    }
}

int runVellPort(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            out << kUsage;
            return kExitOk;
        }
    }
    if (arguments.front() == "--version") {
        out << "vellport " << GetProductVersionString("/proc/self/exe") << "\n";
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
        return runSend(options, err);
    } catch (const UsageError& error) {
        err << "vellport: " << error.message() << " (see vellport --help)\n";
        return kExitUsage;
    }
}
