// One network target sent to again and again through the library: the median time per send. With a pause
// between sends each finds the server idle, as a display that is switched now and then does; without one,
// each also waits for the server to release its device after the send before.
#include "VellPortDll.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: bench_network REPEATS URL [PAUSE_MS]\n", stderr);
        return 2;
    }
    const unsigned char on[] = {0x1B, 0x27, 0x0A, 0x01};
    const int repeats = std::max(1, static_cast<int>(std::strtol(argv[1], nullptr, 10)));
    const std::chrono::milliseconds pause(argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0);
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < repeats; ++i) {
        std::this_thread::sleep_for(pause);
        const auto start = std::chrono::steady_clock::now();
        failed += VellPortSendTo(argv[2], 9600, 8, 'N', 1, 0, on, sizeof on) != VELLPORT_OK ? 1 : 0;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    // "single_ms median min max failed"
    std::printf("single_ms %.3f %.3f %.3f %d\n", times[times.size() / 2], times.front(), times.back(),
                failed);
    return 0;
}
