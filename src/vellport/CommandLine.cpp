#include "vellport/CommandLine.h"

#include "portlink/PortName.h"
#include "settings/CommSettings.h"
#include "settings/ProfileSnapshot.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace vellport {
namespace {

// The options that take no value, each with what it switches on.
constexpr std::array<std::pair<std::string_view, bool Options::*>, 4> kFlags{
    {{"--json", &Options::json},
     {"--system", &Options::system},
     {"--quiet", &Options::quiet},
     {"--strict", &Options::strict}}};

// Where an option's value goes; the repeatable ones collect every value.
void storeValue(Options& options, const std::string& option, std::string value) {
    if (option == "--port") {
        options.ports.push_back(std::move(value));
    } else if (option == "--to") {
        options.targets.push_back(std::move(value));
    } else if (option == "--targets") {
        options.targetsFile = std::move(value);
    } else if (option == "--baud") {
        options.baud = std::move(value);
    } else if (option == "--settings") {
        options.settings = std::move(value);
    } else if (option == "--seconds") {
        options.seconds = std::move(value);
    } else if (option == "--type") {
        options.type = std::move(value);
    } else {
        options.parallel = std::move(value);
    }
}

std::size_t parallelLimit(const Options& options) {
    if (!options.parallel) {
        return kDefaultParallel;
    }
    const std::string what = "a number of calls at once (1 to " + std::to_string(kMostParallel) + ")";
    const std::string example = options.command == "send"
                                    ? "vellport send on --targets displays.txt --parallel 8"
                                    : "vellport probe --parallel 8";
    const int count = requirePositive(*options.parallel, what, example);
    if (static_cast<std::size_t>(count) > kMostParallel) {
        throw UsageError("'" + *options.parallel + "' is not " + what, example);
    }
    return static_cast<std::size_t>(count);
}

} // namespace

std::string UsageError::line() const {
    if (m_example.empty()) {
        return "vellport: " + m_message + " (see vellport --help)\n";
    }
    return "vellport: " + m_message + ", e.g.: " + m_example + "\n";
}

Options parseArguments(const std::vector<std::string>& arguments, const CommandShape& shape) {
    Options options;
    options.command = arguments.front();
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "-q") {
            argument = "--quiet";
        } else if (argument.size() > 1 && argument.starts_with('-') && !argument.starts_with("--")) {
            throw UsageError(options.command + " takes no option " + argument);
        } else if (!argument.starts_with("--")) {
            options.positional.push_back(argument);
            continue;
        }
        std::optional<std::string> value;
        if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
        }
        if (std::find(shape.options.begin(), shape.options.end(), argument) == shape.options.end()) {
            throw UsageError(options.command + " takes no option " + argument);
        }
        if (const auto flag = std::find_if(kFlags.begin(), kFlags.end(),
                                           [&](const auto& entry) { return entry.first == argument; });
            flag != kFlags.end()) {
            if (value) {
                throw UsageError(argument + " takes no value");
            }
            options.*(flag->second) = true;
            continue;
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                throw UsageError(argument + " needs a value");
            }
            value = arguments[++i];
        }
        storeValue(options, argument, std::move(*value));
    }
    if (shape.positionalCount != kAnyCount && options.positional.size() != shape.positionalCount) {
        throw UsageError(shape.wrongCount, shape.example);
    }
    return options;
}

int requirePortName(const std::string& name) {
    const std::optional<int> number = portlink::parsePortName(name);
    if (!number) {
        throw UsageError("'" + name + "' is not a port name (COM1 to COM255)");
    }
    return *number;
}

int requirePositive(const std::string& text, const std::string& what, const std::string& example) {
    int value = 0;
    const char* const end = text.data() + text.size();
    if (const auto [stop, error] = std::from_chars(text.data(), end, value);
        error != std::errc() || stop != end || value <= 0) {
        throw UsageError("'" + text + "' is not " + what, example);
    }
    return value;
}

int requireRate(const std::string& text) {
    return requirePositive(text, "a rate (a positive number of bits per second)",
                           "vellport send on --port COM3 --baud 9600");
}

std::optional<std::string> configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return std::string(xdg);
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config";
    }
    return std::nullopt;
}

RunChoice runChoice(const Options& options, bool needPort) {
    RunChoice choice;
    choice.parallel = parallelLimit(options);
    if (options.baud) {
        choice.rate = requireRate(*options.baud);
        if (!needPort) {
            return choice;
        }
    }
    std::string settingsPath;
    if (options.settings) {
        settingsPath = *options.settings;
    } else if (const std::optional<std::string> home = configHome()) {
        settingsPath = *home + "/VellSetting/Option.ini";
    } else {
        throw UsageError("neither XDG_CONFIG_HOME nor HOME is set: give the port and rate",
                         "vellport send on --port COM3 --baud 9600");
    }
    // Port and rate as the window would show them on opening with this settings file; a missing or
    // unreadable one gives the defaults, as in the window, but a huge one is no settings file at all.
    const ProfileSnapshot file(settingsPath, kLargestInputFile);
    if (file.tooLarge()) {
        throw UsageError("the settings file " + settingsPath + " is larger than " + kLargestInputWords +
                             ": not a settings file",
                         "vellport send on --settings ~/.config/VellSetting/Option.ini");
    }
    const CommSettings stored = loadCommSettings(file);
    const std::vector<std::string> ports = BuildPortList();
    const CommSelection selection = selectStored(ports, stored);
    if (needPort) {
        choice.port = ports[static_cast<std::size_t>(selection.portIndex)];
    }
    if (choice.rate == 0) {
        if (selection.baudIndex < 0) {
            throw UsageError("the stored Baud " + std::to_string(stored.baudIndex) + " in " + settingsPath +
                                 " selects no rate (0 to " + std::to_string(kBaudList.size() - 1) +
                                 " expected)",
                             "vellport send on --baud 9600");
        }
        // The entry read as a decimal number, as the window reads the text it shows.
        const std::string_view entry = kBaudList[static_cast<std::size_t>(selection.baudIndex)];
        std::from_chars(entry.data(), entry.data() + entry.size(), choice.rate);
    }
    return choice;
}
} // namespace vellport
