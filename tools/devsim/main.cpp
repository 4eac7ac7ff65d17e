// devsim: the display device simulated on a pseudo-terminal, or an RFC 2217 server for many; prints what it
// receives.
#include "ComPortServer.h"
#include "Output.h"
#include "common/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using common::UniqueFd;
using devsim::hexBytes;
using devsim::jsonString;
using devsim::printLine;

constexpr unsigned char kCommandPrefix[] = {0x1B, 0x27, 0x0A};
constexpr std::size_t kCommandSize = 4;
// A command split across reads is completed within this time, or its bytes are reported as unknown.
constexpr int kPartialCommandWaitMs = 200;

volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int) {
    g_stopRequested = 1;
}

struct Options {
    std::string linkPath;
    bool stuck = false;
    bool json = false;
    bool server = false;
    devsim::ServerOptions serverOptions;
};

struct LineSettings {
    long rate = 0;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
};

// Removes the symbolic link on every way out, but only while it still points at our terminal.
class LinkGuard {
public:
    LinkGuard(std::string linkPath, std::string target)
        : m_linkPath(std::move(linkPath)), m_target(std::move(target)) {}
    LinkGuard(const LinkGuard&) = delete;
    LinkGuard& operator=(const LinkGuard&) = delete;
    ~LinkGuard() {
        if (m_linkPath.empty()) {
            return;
        }
        std::vector<char> buffer(4096);
        const ssize_t length = ::readlink(m_linkPath.c_str(), buffer.data(), buffer.size() - 1);
        if (length > 0 && std::string_view(buffer.data(), static_cast<std::size_t>(length)) == m_target) {
            ::unlink(m_linkPath.c_str());
        }
    }

private:
    std::string m_linkPath;
    std::string m_target;
};

void printUsage(std::FILE* stream) {
    std::fputs(
        "usage: devsim [--link PATH] [--stuck] [--json]\n"
        "       devsim --rfc2217-server PORT [--listeners N] [--confirm-rate RATE] [--silent | --raw]\n"
        "  Simulates the display device on a pseudo-terminal and prints what it receives.\n"
        "  --link PATH  create the symbolic link PATH to the terminal (removed on exit)\n"
        "  --stuck      never read, so writers fill the line and time out\n"
        "  --json       print one JSON object per line\n"
        "  Or serves RFC 2217 on 127.0.0.1:PORT (0: any free port); prints the ports on the first line,\n"
        "  then one JSON object per connection when it closes (id, port, line settings, bytes).\n"
        "  --listeners N       listen on N ports (PORT..PORT+N-1, or N free ones)\n"
        "  --confirm-rate RATE confirm RATE whatever rate is asked\n"
        "  --silent            accept and never send anything\n"
        "  --raw               a plain TCP port: no negotiation, every byte recorded\n",
        stream);
}

template <typename Number>
bool parseNumber(const char* text, long low, long high, Number& number) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        return false;
    }
    number = static_cast<Number>(value);
    return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--link" && i + 1 < argc) {
            options.linkPath = argv[++i];
        } else if (argument == "--stuck") {
            options.stuck = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--rfc2217-server" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0, 65535, options.serverOptions.firstPort)) {
                return false;
            }
            options.server = true;
        } else if (argument == "--listeners" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1, 65535, options.serverOptions.listeners)) {
                return false;
            }
        } else if (argument == "--confirm-rate" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 1, 0x7FFFFFFF, options.serverOptions.confirmRate)) {
                return false;
            }
        } else if (argument == "--silent") {
            options.serverOptions.silent = true;
        } else if (argument == "--raw") {
            options.serverOptions.raw = true;
        } else {
            return false;
        }
    }
    const devsim::ServerOptions& server = options.serverOptions;
    const bool serverSwitches =
        server.listeners != 1 || server.confirmRate != 0 || server.silent || server.raw;
    if (!options.server) {
        return !serverSwitches;
    }
    const bool portsFit = server.firstPort == 0 || server.firstPort + server.listeners - 1 <= 65535;
    return portsFit && options.linkPath.empty() && !options.stuck && !options.json &&
           !(server.silent && server.raw);
}

long rateOf(speed_t speed) {
    static const struct {
        speed_t code;
        long rate;
    } kRates[] = {{B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
                  {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
                  {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
                  {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
                  {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
                  {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1500000, 1500000},
                  {B2000000, 2000000}, {B3000000, 3000000}, {B4000000, 4000000}};
    for (const auto& entry : kRates) {
        if (entry.code == speed) {
            return entry.rate;
        }
    }
    return 0;
}

LineSettings readLineSettings(int terminal) {
    LineSettings settings;
    termios attributes{};
    if (::tcgetattr(terminal, &attributes) != 0) {
        return settings;
    }
    settings.rate = rateOf(::cfgetospeed(&attributes));
    const tcflag_t size = attributes.c_cflag & CSIZE;
    settings.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    if ((attributes.c_cflag & PARENB) == 0) {
        settings.parity = 'N';
    } else if ((attributes.c_cflag & CMSPAR) != 0) {
        settings.parity = (attributes.c_cflag & PARODD) != 0 ? 'M' : 'S';
    } else {
        settings.parity = (attributes.c_cflag & PARODD) != 0 ? 'O' : 'E';
    }
    settings.stopBits = (attributes.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return settings;
}

void printEvent(const Options& options, const char* event, const unsigned char* bytes, std::size_t count,
                const LineSettings& settings) {
    const std::string settingsText = std::to_string(settings.rate) + " " + std::to_string(settings.dataBits) +
                                     settings.parity + std::to_string(settings.stopBits);
    if (options.json) {
        printLine(std::string("{\"event\":") + jsonString(event) + ",\"bytes\":" +
                  jsonString(hexBytes(bytes, count)) + ",\"rate\":" + std::to_string(settings.rate) +
                  ",\"dataBits\":" + std::to_string(settings.dataBits) + ",\"parity\":\"" + settings.parity +
                  "\",\"stopBits\":" + std::to_string(settings.stopBits) + "}");
    } else if (std::string_view(event) == "on") {
        printLine("screen saver ON  (" + settingsText + ")");
    } else if (std::string_view(event) == "off") {
        printLine("screen saver OFF (" + settingsText + ")");
    } else {
        printLine("unknown " + hexBytes(bytes, count) + " (" + settingsText + ")");
    }
}

// Reports every complete command and every run of other bytes; keeps a possible command's beginning pending.
void reportPending(const Options& options, std::vector<unsigned char>& pending, const LineSettings& settings,
                   bool flushAll) {
    std::size_t start = 0;
    std::size_t unknownStart = 0;
    for (;;) {
        const std::size_t left = pending.size() - start;
        const bool commandHere = left >= kCommandSize &&
                                 std::memcmp(&pending[start], kCommandPrefix, sizeof kCommandPrefix) == 0 &&
                                 (pending[start + 3] == 0x00 || pending[start + 3] == 0x01);
        // The rest stays pending: nothing, or a command's beginning that the next read may complete.
        const bool keptHere = left == 0 || (!flushAll && left < kCommandSize &&
                                            std::memcmp(&pending[start], kCommandPrefix, left) == 0);
        if (!commandHere && !keptHere) {
            ++start;
            continue;
        }
        if (start > unknownStart) {
            printEvent(options, "unknown", &pending[unknownStart], start - unknownStart, settings);
        }
        if (keptHere) {
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(start));
            return;
        }
        printEvent(options, pending[start + 3] == 0x01 ? "on" : "off", &pending[start], kCommandSize,
                   settings);
        start += kCommandSize;
        unknownStart = start;
    }
}

bool makeRaw(int terminal) {
    termios attributes{};
    if (::tcgetattr(terminal, &attributes) != 0) {
        return false;
    }
    ::cfmakeraw(&attributes);
    ::cfsetispeed(&attributes, B9600);
    ::cfsetospeed(&attributes, B9600);
    attributes.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(terminal, TCSANOW, &attributes) == 0;
}

int run(const Options& options) {
    const UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.get() < 0 || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        std::fprintf(stderr, "devsim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string terminalPath = ::ptsname(master.get());
    // Our own open of the terminal side keeps its line settings alive between the writers' opens.
    const UniqueFd terminal(::open(terminalPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (terminal.get() < 0 || !makeRaw(terminal.get()) || !makeRaw(master.get())) {
        std::fprintf(stderr, "devsim: cannot set up %s: %s\n", terminalPath.c_str(), std::strerror(errno));
        return 1;
    }
    if (!options.linkPath.empty()) {
        struct stat existing {};
        if (::lstat(options.linkPath.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
            ::unlink(options.linkPath.c_str()); // a link left by an earlier run that was killed
        }
        if (::symlink(terminalPath.c_str(), options.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "devsim: cannot create the link %s: %s\n", options.linkPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    const LinkGuard linkGuard(options.linkPath, terminalPath);
    const std::string shownPath = options.linkPath.empty() ? terminalPath : options.linkPath;
    printLine(options.json ? "{\"event\":\"ready\",\"path\":" + jsonString(shownPath) + "}" : shownPath);

    std::vector<unsigned char> pending;
    LineSettings arrivalSettings;
    sigset_t waitMask;
    ::sigemptyset(&waitMask);
    while (g_stopRequested == 0) {
        pollfd waiting{master.get(), POLLIN, 0};
        const timespec partialWait{0, kPartialCommandWaitMs * 1000000L};
        // The stop signals are blocked everywhere but inside ppoll(), so none is missed between the checks.
        const int ready =
            ::ppoll(&waiting, options.stuck ? 0 : 1, pending.empty() ? nullptr : &partialWait, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "devsim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (ready == 0) {
            reportPending(options, pending, arrivalSettings, true);
            continue;
        }
        unsigned char buffer[4096];
        const ssize_t count = ::read(master.get(), buffer, sizeof buffer);
        if (count <= 0) {
            continue;
        }
        arrivalSettings = readLineSettings(terminal.get());
        pending.insert(pending.end(), buffer, buffer + count);
        reportPending(options, pending, arrivalSettings, false);
    }
    reportPending(options, pending, arrivalSettings, true);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        printUsage(stderr);
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    sigset_t stopSignals;
    ::sigemptyset(&stopSignals);
    ::sigaddset(&stopSignals, SIGINT);
    ::sigaddset(&stopSignals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    if (options.server) {
        return devsim::ComPortServer(options.serverOptions).run(g_stopRequested);
    }
    return run(options);
}
