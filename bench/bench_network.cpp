// Network sends timed: one target repeated (median per send), or many targets at once through the library.
#include "VellPortDll.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const unsigned char kOn[] = {0x1B, 0x27, 0x0A, 0x01};
constexpr int kRate = 9600;
// As many endpoints in flight as the library promises to handle from one process.
constexpr std::size_t kInFlight = 256;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int send(const std::string& target) {
    return VellPortSendTo(target.c_str(), kRate, 8, 'N', 1, 0, kOn, sizeof kOn);
}

// "single_ms median min max failed" over repeats sends to one target, one after the other.
int single(const std::string& target, int repeats) {
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        failed += send(target) != VELLPORT_OK ? 1 : 0;
        times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    std::printf("single_ms %.3f %.3f %.3f %d\n", times[times.size() / 2], times.front(), times.back(),
                failed);
    return 0;
}

// "fleet_ms total ok failed": every target once, kInFlight at a time.
int fleet(const std::vector<std::string>& targets) {
    std::atomic<std::size_t> next{0};
    std::atomic<int> ok{0};
    const auto start = Clock::now();
    std::vector<std::thread> senders;
    for (std::size_t i = 0; i < std::min(kInFlight, targets.size()); ++i) {
        senders.emplace_back([&] {
            for (std::size_t target = next++; target < targets.size(); target = next++) {
                ok += send(targets[target]) == VELLPORT_OK ? 1 : 0;
            }
        });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    std::printf("fleet_ms %.3f %d %d\n", millisecondsSince(start), ok.load(),
                static_cast<int>(targets.size()) - ok.load());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "single" && argc == 4) {
        return single(argv[3], std::max(1, std::atoi(argv[2])));
    }
    if (mode == "fleet" && argc > 2) {
        return fleet(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fputs("usage: bench_network single REPEATS URL | fleet URL...\n", stderr);
    return 2;
}
