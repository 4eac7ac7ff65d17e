// vellport's command line: the commands' shapes, their options, and the checks shared by the commands.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vellport {
struct Options {
    std::string command;
    std::vector<std::string> positional;
    bool json = false;
    bool system = false;
    bool quiet = false;               // -q, --quiet: only failures
    bool strict = false;              // --strict: a send only acknowledged is a failure
    std::vector<std::string> ports;   // --port, repeated
    std::vector<std::string> targets; // --to, repeated
    std::optional<std::string> targetsFile;
    std::optional<std::string> baud;
    std::optional<std::string> settings;
    std::optional<std::string> parallel;
    std::optional<std::string> seconds; // discover's bound
    std::optional<std::string> type;    // discover's mDNS service type
};

// Wrong usage: what was wrong and the one command line that would have worked; nothing was sent or written.
class UsageError {
public:
    explicit UsageError(std::string message, std::string example = {})
        : m_message(std::move(message)), m_example(std::move(example)) {}
    // "vellport: <message>, e.g.: <example>" or "vellport: <message> (see vellport --help)".
    std::string line() const;

private:
    std::string m_message;
    std::string m_example;
};

// What a command takes: its number of plain arguments (kAnyCount: any), its options, and what to say when
// the plain arguments do not fit.
inline constexpr std::size_t kAnyCount = std::numeric_limits<std::size_t>::max();
struct CommandShape {
    const char* name;
    std::size_t positionalCount;
    std::vector<std::string> options;
    const char* wrongCount;
    const char* example;
};

// The options and plain arguments of one command line (without the program name) whose first word names the
// command of that shape; throws UsageError.
Options parseArguments(const std::vector<std::string>& arguments, const CommandShape& shape);

// The number of a COM name; throws UsageError naming what was given.
int requirePortName(const std::string& name);
// A positive decimal number that fits an int; what and example make the message when it is not one.
int requirePositive(const std::string& text, const std::string& what, const std::string& example);
// A rate in bits per second.
int requireRate(const std::string& text);

// The calls in flight when --parallel is not given, and the most it may ask for.
inline constexpr std::size_t kDefaultParallel = 32;
inline constexpr std::size_t kMostParallel = 1024;

// The largest targets or settings file read, as the library caps its map files: a file of the user's that is
// larger is refused, never read into memory.
inline constexpr std::size_t kLargestInputFile = std::size_t{1024} * 1024;
inline constexpr const char* kLargestInputWords = "1 MiB";

// $XDG_CONFIG_HOME when it is absolute, else ~/.config, as the library and the launcher take it.
std::optional<std::string> configHome();

// What a send or a probe runs with: the calls at once (--parallel, or the default), and the port and rate the
// window would show on opening with the settings it saved (--settings, else the user's Option.ini): port only
// when needPort, rate only when none is given. Throws UsageError for --parallel outside 1 to kMostParallel or
// a stored rate the list does not have.
struct RunChoice {
    std::size_t parallel = kDefaultParallel;
    std::string port;
    int rate = 0;
};
RunChoice runChoice(const Options& options, bool needPort);
} // namespace vellport
