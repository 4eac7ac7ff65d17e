#include "vellport/fleet/TargetRun.h"

#include "VellPortDll.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>

namespace vellport {
std::string reasonAlone(std::string_view lastError, std::string_view leadsTo) {
    // The error line is "Call(\"name\"): path: reason"; the path may be "path (not opened)" or missing.
    const std::size_t call = lastError.find("\"): ");
    if (call == std::string_view::npos) {
        return std::string(lastError);
    }
    const std::string_view rest = lastError.substr(call + 4);
    const std::string notOpened = std::string(leadsTo) + " (not opened)";
    for (const std::string_view path :
         {std::string_view(notOpened), leadsTo, std::string_view("no device path")}) {
        if (!path.empty() && rest.starts_with(path) && rest.substr(path.size()).starts_with(": ")) {
            return std::string(rest.substr(path.size() + 2));
        }
    }
    return std::string(rest);
}

std::vector<TargetOutcome> runOnTargets(const std::vector<std::size_t>& sameAs, std::size_t parallel,
                                        const std::function<TargetOutcome(std::size_t)>& work,
                                        const std::function<void(std::size_t, const TargetOutcome&)>& done,
                                        std::ostream& err) {
    const std::size_t count = sameAs.size();
    std::vector<std::size_t> firsts;
    for (std::size_t index = 0; index < count; ++index) {
        if (sameAs[index] == index) {
            firsts.push_back(index);
        }
    }
    std::vector<TargetOutcome> outcomes(count);
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    const auto worker = [&] {
        for (std::size_t position = next++; position < firsts.size(); position = next++) {
            const std::size_t first = firsts[position];
            const auto started = std::chrono::steady_clock::now();
            TargetOutcome outcome;
            try {
                outcome = work(first);
            } catch (const std::exception& error) {
                outcome.result = VELLPORT_ERR_IO;
                outcome.reason = std::string("vellport: ") + error.what();
            }
            outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            const std::lock_guard lock(reporting);
            for (std::size_t index = first; index < count; ++index) {
                if (sameAs[index] == first) {
                    outcomes[index] = outcome;
                    done(index, outcomes[index]);
                }
            }
        }
    };
    std::vector<std::jthread> threads;
    const std::size_t threadCount = std::min(std::max<std::size_t>(parallel, 1), firsts.size());
    threads.reserve(threadCount);
    for (std::size_t i = 1; i < threadCount; ++i) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error& error) {
            // A process or memory limit: the threads there are carry every target all the same.
            err << "vellport: warning: " << threads.size() + 1 << " of " << threadCount
                << " calls at once, the system refuses more threads (" << error.code().message() << ")\n";
            break;
        }
    }
    // The calling thread works too, so one target costs no thread at all.
    worker();
    threads.clear();
    return outcomes;
}
} // namespace vellport
