// SendData of the 4-byte screen-saver command to devsim, per call, beside the wire time of its 40 bits.
#include "BenchFolder.h"
#include "VellPortDll.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const unsigned char kOn[] = {0x1B, 0x27, 0x0A, 0x01};
constexpr int kPortNumber = 9;

// One devsim for the whole run, its output discarded so it never blocks on a full pipe.
class SimulatorProcess {
public:
    SimulatorProcess() {
        if (m_folder.path().empty()) {
            return;
        }
        const std::string link = m_folder.file("ttyBENCH");
        m_pid = ::fork();
        if (m_pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::execl(DEVSIM_PATH, DEVSIM_PATH, "--link", link.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::exists(link) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_ready = std::filesystem::exists(link);
        ::setenv(("VELLPORT_COM" + std::to_string(kPortNumber)).c_str(), link.c_str(), 1);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;
    ~SimulatorProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool ready() const { return m_ready; }

private:
    BenchFolder m_folder{"vellport-bench"};
    pid_t m_pid = -1;
    bool m_ready = false;
};

SimulatorProcess& simulator() {
    static SimulatorProcess process;
    return process;
}

void BM_SendData(benchmark::State& state) {
    if (!simulator().ready()) {
        state.SkipWithError("devsim did not start");
        return;
    }
    const int rate = static_cast<int>(state.range(0));
    const std::string port = "COM" + std::to_string(kPortNumber);
    SetComParam(port.c_str(), rate, 8, 'N', 1, 0);
    for (auto _ : state) {
        if (SendData(port.c_str(), kOn, sizeof kOn) != VELLPORT_OK) {
            state.SkipWithError("SendData failed");
            break;
        }
    }
    // 4 bytes of start bit, 8 data bits and a stop bit.
    state.counters["wire_time_us"] = 40.0 * 1e6 / rate;
}

BENCHMARK(BM_SendData)
    ->Arg(9600)
    ->Arg(115200)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
