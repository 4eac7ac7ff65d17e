// Start-up to first frame and back: wall time and peak memory of VellSetting_benchhook beside two bare
// dialogs, an empty one and one showing a line of text in the window's own font (what drawing any text costs
// the toolkit). Runs all three interleaved, each in a fresh working folder with a typical Option.ini, and
// prints the medians.
#include "BenchFolder.h"
#include "ExecInFolder.h"
#include "TypicalProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The reference's line: words of the window's own kind, so the same glyph machinery runs.
const std::string kReferenceText = "Port: COM1   Baud rate: 9600   Screen saver: On Off Default Exit";

struct RunResult {
    bool ok = false;
    double wallMs = 0;
    long maxRssKiB = 0;
    std::string output;
};

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
        execInFolder(dir, argv, pipeFds[1]);
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

// Runs argv in a fresh folder with a typical Option.ini, and the skin when one is given. The program saves on
// its way out and the references leave the file alone: either way it must still be there afterwards.
RunResult RunInFreshFolder(const std::vector<std::string>& argv, const std::string& skin) {
    const BenchFolder folder("vell-startup");
    if (folder.path().empty()) {
        return {};
    }
    folder.write("Option.ini", TypicalProfileText());
    if (!skin.empty()) {
        std::filesystem::copy_file(skin, folder.file("XPCorona.ssk"));
    }
    RunResult result = Run(argv, folder.path());
    result.ok = result.ok && std::filesystem::exists(folder.file("Option.ini"));
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
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 31;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // One untimed run gives the window's size and font and warms the file cache for all programs alike.
    const RunResult first = RunInFreshFolder({app}, skin);
    int width = 0;
    int height = 0;
    int points = 0;
    int consumed = 0;
    const std::size_t at = first.output.find("first-frame ");
    if (!first.ok || std::sscanf(first.output.c_str() + at, "first-frame %dx%d %d %n", &width, &height,
                                 &points, &consumed) != 3) {
        std::fprintf(stderr, "%s did not show its first frame\n", app.c_str());
        return 1;
    }
    std::string family = first.output.substr(at + static_cast<std::size_t>(consumed));
    family.erase(family.find_last_not_of("\r\n") + 1);

    const std::vector<std::vector<std::string>> commands = {
        {app},
        {bare, std::to_string(width), std::to_string(height)},
        {bare, std::to_string(width), std::to_string(height), family, std::to_string(points), kReferenceText},
    };
    std::vector<std::vector<double>> wall(commands.size());
    std::vector<std::vector<long>> rss(commands.size());
    for (int i = -1; i < runs; ++i) {
        for (std::size_t c = 0; c < commands.size(); ++c) {
            const RunResult result = RunInFreshFolder(commands[c], c == 0 ? skin : std::string());
            if (!result.ok) {
                std::fprintf(stderr, "run %d of %s failed\n", i, commands[c][0].c_str());
                return 1;
            }
            if (i >= 0) { // the first round only warms up
                wall[c].push_back(result.wallMs);
                rss[c].push_back(result.maxRssKiB);
            }
        }
    }
    // Lines for scripts/bench: key, program, empty dialog, dialog with text.
    std::printf("window %dx%d runs %d font %d %s\n", width, height, runs, points, family.c_str());
    std::printf("startup_wall_ms %.2f %.2f %.2f\n", Median(wall[0]), Median(wall[1]), Median(wall[2]));
    std::printf("startup_maxrss_kib %.0f %.0f %.0f\n", Median(rss[0]), Median(rss[1]), Median(rss[2]));
    return 0;
}
