// Work on many targets at once: a small pool of threads with a cap on the calls in flight, each target's
// outcome handed back as it ends, and the summary of them all.
#include "vellport/TargetRun.h"

#include "VellPortDll.h"
#include "vellport/JsonOutput.h"
#include "vellport/ResultNames.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Each kind of result with its count, in the order first seen ("ok" always first).
std::vector<std::pair<std::string, int>> countByKind(const std::vector<TargetOutcome>& outcomes) {
    std::vector<std::pair<std::string, int>> counts{{"ok", 0}};
    for (const TargetOutcome& outcome : outcomes) {
        const std::string kind = outcomeKind(outcome);
        const auto found = std::find_if(counts.begin(), counts.end(),
                                        [&](const auto& entry) { return entry.first == kind; });
        if (found == counts.end()) {
            counts.emplace_back(kind, 1);
        } else {
            ++found->second;
        }
    }
    return counts;
}

} // namespace

std::vector<TargetOutcome> runOnTargets(std::size_t count, std::size_t parallel,
                                        const std::function<TargetOutcome(std::size_t)>& work,
                                        const std::function<void(std::size_t, const TargetOutcome&)>& done,
                                        std::ostream& err) {
    std::vector<TargetOutcome> outcomes(count);
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    const auto worker = [&] {
        for (std::size_t index = next++; index < count; index = next++) {
            const auto started = std::chrono::steady_clock::now();
            TargetOutcome outcome;
            try {
                outcome = work(index);
            } catch (const std::exception& error) {
                outcome = TargetOutcome{VELLPORT_ERR_IO, std::string("vellport: ") + error.what()};
            }
            outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            const std::lock_guard lock(reporting);
            outcomes[index] = outcome;
            done(index, outcomes[index]);
        }
    };
    std::vector<std::jthread> threads;
    const std::size_t threadCount = std::min(std::max<std::size_t>(parallel, 1), count);
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
    if (count > 0) {
        worker();
    }
    threads.clear();
    return outcomes;
}

std::string summaryLine(const std::vector<TargetOutcome>& outcomes) {
    std::string line = std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " target:" : " targets:");
    const char* separator = " ";
    for (const auto& [kind, number] : countByKind(outcomes)) {
        line += separator + std::to_string(number) + " " + kind;
        separator = ", ";
    }
    return line;
}

QJsonObject summaryJson(const std::vector<TargetOutcome>& outcomes) {
    QJsonObject summary{{"targets", static_cast<int>(outcomes.size())}};
    for (const auto& [kind, number] : countByKind(outcomes)) {
        summary.insert(QString::fromStdString(kind), number);
    }
    return summary;
}

std::string outcomeKind(const TargetOutcome& outcome) {
    return outcome.result == VELLPORT_OK ? std::string("ok") : resultName(outcome.result);
}

QJsonObject outcomeJson(const TargetOutcome& outcome) {
    QJsonObject entry{{"result", QString::fromStdString(outcomeKind(outcome))},
                      {"milliseconds", static_cast<qint64>(outcome.elapsed.count())}};
    insertText(entry, "reason", outcome.result == VELLPORT_OK ? nullptr : outcome.reason.c_str());
    return entry;
}
