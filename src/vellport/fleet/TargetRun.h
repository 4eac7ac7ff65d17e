// Work on many targets at once: a small pool of threads with a cap on the calls in flight, each target's
// outcome handed back as it ends, its line, and the summary of them all.
#pragma once

#include <QJsonObject>
#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

// How the work on one target ended: the library's result and its reason, and the time it took.
struct TargetOutcome {
    int result = 0;
    std::string reason; // the library's words alone, without the call, the name and the path
    int delivery = 0;   // how far a send's bytes went (enum VellPortDelivery)
    int confirmedRate = 0;
    std::chrono::milliseconds elapsed{0};
};

// The reason of an error line (VellPortLastError) without its call, name and path, which the target's line
// shows already: "SendData(\"COM9\"): /dev/ttyS8: no such device" leading to /dev/ttyS8 is "no such device".
std::string reasonAlone(std::string_view lastError, std::string_view leadsTo);

// Calls work(i) for every target i with sameAs[i] == i on at most parallel threads, fewer when the system
// refuses more (one warning on err; the calling thread always works). done(i, outcome) is called for each
// target as it ends, one call at a time, so a slow target holds back only its own report, and right after
// it for every later target with sameAs[j] == i, with the same outcome: targets that lead to one place are
// worked on once. Work that throws (memory ran out) ends as VELLPORT_ERR_IO with the reason. Returns every
// outcome in target order.
std::vector<TargetOutcome> runOnTargets(const std::vector<std::size_t>& sameAs, std::size_t parallel,
                                        const std::function<TargetOutcome(std::size_t)>& work,
                                        const std::function<void(std::size_t, const TargetOutcome&)>& done,
                                        std::ostream& err);

// "COM5 → rfc2217://10.0.0.7:2001", or the target alone when it leads to itself.
std::string targetLabel(const std::string& given, const std::string& leadsTo);
// The label, what happened and the time, two spaces apart:
// "COM5 → rfc2217://10.0.0.7:2001  failed (refused): nothing listens on that port  3 ms".
std::string outcomeLine(const std::string& label, const std::string& happened,
                        std::chrono::milliseconds elapsed);
// "failed (refused)" and the reason after ": " when there is one.
std::string failedWords(const TargetOutcome& outcome);

// "ok", "acknowledged" for a send only the server's TCP stack acknowledged, or the result's name
// ("VELLPORT_ERR_REFUSED").
std::string outcomeKind(const TargetOutcome& outcome);
// What every target's JSON entry holds: {"result" ("ok" or the result's name), "milliseconds", "reason"
// (null on success)}.
QJsonObject outcomeJson(const TargetOutcome& outcome);

// "3 targets: 2 ok, 1 VELLPORT_ERR_REFUSED", with "(2 distinct)" after the count when some led to one place:
// the kinds counted in the order they first occur, "acknowledged only" for a send only acknowledged.
std::string summaryLine(const std::vector<TargetOutcome>& outcomes, std::size_t distinct);
// The same counts as {"targets": 3, "distinct": 3, "ok": 2, "VELLPORT_ERR_REFUSED": 1}.
QJsonObject summaryJson(const std::vector<TargetOutcome>& outcomes, std::size_t distinct);
