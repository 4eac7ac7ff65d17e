// Work on many targets at once: a small pool of threads with a cap on the calls in flight, each target's
// outcome handed back as it ends, and the summary of them all.
#pragma once

#include <QJsonObject>
#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// How the work on one target ended: the library's result and its reason, and the time it took.
struct TargetOutcome {
    int result = 0;
    std::string reason;
    int confirmedRate = 0;
    std::chrono::milliseconds elapsed{0};
};

// Calls work(i) for i in [0, count) on at most parallel threads, fewer when the system refuses more (one
// warning on err; the calling thread always works); done(i, outcome) is called for each target as it ends,
// one call at a time, so a slow target holds back only its own report. Work that throws (memory ran out)
// ends as VELLPORT_ERR_IO with the reason. Returns every outcome in target order.
std::vector<TargetOutcome> runOnTargets(std::size_t count, std::size_t parallel,
                                        const std::function<TargetOutcome(std::size_t)>& work,
                                        const std::function<void(std::size_t, const TargetOutcome&)>& done,
                                        std::ostream& err);

// "ok", or the result's name ("VELLPORT_ERR_REFUSED").
std::string outcomeKind(const TargetOutcome& outcome);
// What every target's JSON entry holds: {"result", "milliseconds", and "reason" when it failed}.
QJsonObject outcomeJson(const TargetOutcome& outcome);

// "3 targets: 2 ok, 1 VELLPORT_ERR_REFUSED": the failures counted by kind, in the order they first occur.
std::string summaryLine(const std::vector<TargetOutcome>& outcomes);
// The same counts as {"targets": 3, "ok": 2, "VELLPORT_ERR_REFUSED": 1}.
QJsonObject summaryJson(const std::vector<TargetOutcome>& outcomes);
