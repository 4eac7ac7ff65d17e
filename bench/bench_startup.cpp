// Start-up to first frame and back: wall time and peak memory of VellSetting_benchhook beside a bare dialog.
// Runs both interleaved, each in a fresh working folder with a typical Option.ini, and prints the medians.
#include "TypicalProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct RunResult {
    bool ok = false;
    double wallMs = 0;
    long maxRssKiB = 0;
    std::string output;
};

std::string MakeRunFolder(const std::string& skin) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vell-startup-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        return {};
    }
    const std::string dir = buffer.data();
    std::ofstream(dir + "/Option.ini", std::ios::binary) << TypicalProfileText();
    if (!skin.empty()) {
        std::filesystem::copy_file(skin, dir + "/XPCorona.ssk");
    }
    return dir;
}

// fork + exec in dir, stdout captured, then wait4 for the child's own peak resident size.
RunResult Run(const std::vector<std::string>& argv, const std::string& dir) {
    RunResult result;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return result;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char chunk[256];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0) {
        result.output.append(chunk, static_cast<size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) {
        return result;
    }
    result.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    result.maxRssKiB = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                result.output.find("first-frame ") != std::string::npos;
    return result;
}

template <typename T>
double Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? static_cast<double>(values[n / 2])
                      : (static_cast<double>(values[n / 2 - 1]) + static_cast<double>(values[n / 2])) / 2.0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s APP BARE SKIN [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string app = std::filesystem::absolute(argv[1]).string();
    const std::string bare = std::filesystem::absolute(argv[2]).string();
    const std::string skin = std::filesystem::absolute(argv[3]).string();
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 17;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // One untimed run gives the window's size and warms the file cache for both programs alike.
    std::string dir = MakeRunFolder(skin);
    RunResult first = Run({app}, dir);
    std::filesystem::remove_all(dir);
    int width = 0;
    int height = 0;
    if (!first.ok || std::sscanf(first.output.c_str() + first.output.find("first-frame "),
                                 "first-frame %dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "%s did not show its first frame\n", app.c_str());
        return 1;
    }
    dir = MakeRunFolder({});
    Run({bare, std::to_string(width), std::to_string(height)}, dir);
    std::filesystem::remove_all(dir);

    std::vector<double> appWall, bareWall;
    std::vector<long> appRss, bareRss;
    for (int i = 0; i < runs; ++i) {
        dir = MakeRunFolder(skin);
        const RunResult a = Run({app}, dir);
        const bool saved = std::filesystem::exists(dir + "/Option.ini");
        std::filesystem::remove_all(dir);
        dir = MakeRunFolder({});
        const RunResult b = Run({bare, std::to_string(width), std::to_string(height)}, dir);
        std::filesystem::remove_all(dir);
        if (!a.ok || !b.ok || !saved) {
            std::fprintf(stderr, "run %d failed (app %d, bare %d)\n", i, a.ok, b.ok);
            return 1;
        }
        appWall.push_back(a.wallMs);
        bareWall.push_back(b.wallMs);
        appRss.push_back(a.maxRssKiB);
        bareRss.push_back(b.maxRssKiB);
    }
    // Lines for scripts/bench: key, measured, reference.
    std::printf("window %dx%d runs %d\n", width, height, runs);
    std::printf("startup_wall_ms %.2f %.2f\n", Median(appWall), Median(bareWall));
    std::printf("startup_maxrss_kib %.0f %.0f\n", Median(appRss), Median(bareRss));
    return 0;
}
