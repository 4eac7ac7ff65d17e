// Start-up as the user sees it: from exec to the X server mapping the program's top-level window, and the
// process's peak resident size (VmHWM) at that moment. Runs the given programs interleaved, each in a fresh
// working folder with a typical Option.ini and the skin (as a menu start has it), on the display in $DISPLAY,
// and prints per program the median and quartiles, and the paired ratios of the first program to each other.
// Usage: bench_mapped SKIN RUNS -- PROGRAM [ARGS...] [-- REFERENCE [ARGS...]]...
// A command given as "skin=FILE PROGRAM ..." gets FILE as its skin instead (to compare builds whose skins
// differ).
#include "BenchFolder.h"
#include "ExecInFolder.h"
#include "TypicalProfile.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kGiveUpAfter = std::chrono::seconds(20);

struct Sample {
    bool ok = false;
    double wallMs = 0;
    long hwmKiB = 0;
};

long PeakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// With BENCH_MAPPED_SMAPS set to a folder, the memory map at the moment of mapping, per program (the last
// round's), for finding where the memory goes.
void KeepMemoryMap(pid_t pid, const std::string& program) {
    const char* folder = std::getenv("BENCH_MAPPED_SMAPS");
    if (folder == nullptr || *folder == '\0') {
        return;
    }
    ::kill(pid, SIGSTOP);
    // Read as a stream: proc files claim a size of 0.
    std::ifstream from("/proc/" + std::to_string(pid) + "/smaps");
    std::ofstream(std::string(folder) + "/" + std::filesystem::path(program).filename().string())
        << from.rdbuf();
}

// The _NET_WM_PID Qt puts on each of its windows before mapping it; 0 when there is none.
pid_t WindowPid(Display* display, Window window) {
    static const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    pid_t pid = 0;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        if (type == XA_CARDINAL && format == 32 && count == 1) {
            pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        }
        XFree(data);
    }
    return pid;
}

// Starts argv in dir and waits for a MapNotify of a top-level window of that process. The root's substructure
// events carry every top-level map; with no window manager there is no reparenting to see through.
Sample RunUntilMapped(Display* display, const std::vector<std::string>& argv, const std::string& dir) {
    Sample sample;
    XSync(display, True); // nothing left over from the previous run
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The references report their first frame on stdout; only this runner's own lines belong there.
        execInFolder(dir, argv, ::open("/dev/null", O_WRONLY));
    }
    if (pid < 0) {
        return sample;
    }
    const int fd = ConnectionNumber(display);
    while (!sample.ok && Clock::now() - start < kGiveUpAfter) {
        while (!sample.ok && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect &&
                WindowPid(display, event.xmap.window) == pid) {
                sample.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                sample.hwmKiB = PeakResidentKiB(pid);
                sample.ok = sample.hwmKiB > 0;
                KeepMemoryMap(pid, argv[0]);
            }
        }
        if (sample.ok) {
            break;
        }
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return sample; // ended without mapping a window
        }
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, 100);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return sample;
}

// A window can be gone by the time its property is asked for (a killed run's, say): not ours, so ignore it.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

template <typename T>
double Quantile(std::vector<T> values, double q) {
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(at);
    const std::size_t high = std::min(low + 1, values.size() - 1);
    return static_cast<double>(values[low]) +
           (at - static_cast<double>(low)) *
               (static_cast<double>(values[high]) - static_cast<double>(values[low]));
}

template <typename T>
void PrintSpread(const char* key, std::size_t column, const std::vector<T>& values) {
    std::printf("%s %zu %.3f %.3f %.3f\n", key, column, Quantile(values, 0.5), Quantile(values, 0.25),
                Quantile(values, 0.75));
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    std::string fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 5 || std::string(argv[3]) != "--") {
        std::fprintf(stderr, "usage: %s SKIN RUNS -- PROGRAM [ARGS...] [-- REFERENCE [ARGS...]]...\n",
                     argv[0]);
        return 2;
    }
    const std::string skin = std::filesystem::absolute(argv[1]).string();
    const int runs = std::max(1, std::atoi(argv[2]));
    std::vector<std::vector<std::string>> commands;
    std::vector<std::string> skins;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            commands.emplace_back();
            skins.push_back(skin);
        } else if (commands.back().empty() && arg.rfind("skin=", 0) == 0) {
            skins.back() = std::filesystem::absolute(arg.substr(5)).string();
        } else {
            commands.back().push_back(commands.back().empty() ? std::filesystem::absolute(argv[i]).string()
                                                              : argv[i]);
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    XSetErrorHandler(IgnoreXError);
    ::setenv("BENCH_KEEP_OPEN", "1", 1); // the references' first-frame closer stands aside
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    std::printf("load_before %s\n", LoadAverage().c_str());
    const std::size_t n = commands.size();
    std::vector<std::vector<double>> wall(n);
    std::vector<std::vector<long>> hwm(n);
    // Round -1 warms the file cache for all alike. Each round starts with a different program, so none always
    // runs right after the same neighbour.
    for (int round = -1; round < runs; ++round) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t c = (static_cast<std::size_t>(round + 1) + k) % n;
            const BenchFolder folder("vell-mapped");
            folder.write("Option.ini", TypicalProfileText());
            std::filesystem::copy_file(skins[c], folder.file("XPCorona.ssk"));
            const Sample sample = RunUntilMapped(display, commands[c], folder.path());
            if (!sample.ok) {
                std::fprintf(stderr, "round %d: %s mapped no window\n", round, commands[c][0].c_str());
                return 1;
            }
            if (round >= 0) {
                wall[c].push_back(sample.wallMs);
                hwm[c].push_back(sample.hwmKiB);
            }
        }
    }
    std::printf("load_after %s\n", LoadAverage().c_str());
    std::printf("runs %d\n", runs);
    // Lines: key column median first-quartile third-quartile.
    for (std::size_t c = 0; c < n; ++c) {
        PrintSpread("wall_ms", c, wall[c]);
        std::vector<double> mib(hwm[c].begin(), hwm[c].end());
        for (double& v : mib) {
            v /= 1024.0;
        }
        PrintSpread("hwm_mib", c, mib);
    }
    // Ratios taken within each round, so a busy moment weighs on both sides of a ratio alike.
    for (std::size_t c = 1; c < n; ++c) {
        std::vector<double> wallRatio;
        std::vector<double> hwmRatio;
        for (int r = 0; r < runs; ++r) {
            wallRatio.push_back(wall[0][static_cast<std::size_t>(r)] / wall[c][static_cast<std::size_t>(r)]);
            hwmRatio.push_back(static_cast<double>(hwm[0][static_cast<std::size_t>(r)]) /
                               static_cast<double>(hwm[c][static_cast<std::size_t>(r)]));
        }
        PrintSpread("wall_ratio", c, wallRatio);
        PrintSpread("hwm_ratio", c, hwmRatio);
    }
    XCloseDisplay(display);
    return 0;
}
