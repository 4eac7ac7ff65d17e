// What send and probe say of many targets: a line per target as it ends, then a summary; or one JSON document
// with an entry per target and the same summary.
#pragma once

#include "vellport/fleet/TargetRun.h"

#include <QJsonObject>
#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vellport {
// "COM5 → rfc2217://10.0.0.7:2001", or the target alone when it leads to itself.
std::string targetLabel(const std::string& given, const std::string& leadsTo);
// The label, what happened and the time, two spaces apart:
// "COM5 → rfc2217://10.0.0.7:2001  failed (refused): nothing listens on that port  3 ms".
std::string outcomeLine(const std::string& label, const std::string& happened,
                        std::chrono::milliseconds elapsed);
// "failed (refused)" and the reason after ": " when there is one.
std::string failedWords(const TargetOutcome& outcome);

// How one command reports its fleet.
struct FleetReport {
    QJsonObject head; // the document's fields besides "targets" and "summary": {"command": "probe", ...}
    bool json = false;
    bool quiet = false;     // only the failures' lines, and the summary when something failed
    std::string noTarget{}; // the line before the summary when there is no target
    std::function<bool(const TargetOutcome&)> failed{};
    std::function<std::string(std::size_t, const TargetOutcome&)> line{};
    // Adds the command's own fields to the entry of target i, which holds "result", "milliseconds", "reason"
    // (null on success) and "sameAs" (null for a target worked on itself).
    std::function<void(std::size_t, const TargetOutcome&, QJsonObject&)> entry{};
};

// Works on the targets through runOnTargets and reports them as report says: a line on out as each ends,
// then "3 targets (2 distinct): 2 ok, 1 VELLPORT_ERR_REFUSED" (the kinds in the order first seen,
// "acknowledged only" for a send only acknowledged), or the document with the same counts as
// {"targets": 3, "distinct": 2, "ok": 2, "VELLPORT_ERR_REFUSED": 1}. Returns the exit status.
int runFleet(const FleetReport& report, const std::vector<std::size_t>& sameAs, std::size_t parallel,
             const std::function<TargetOutcome(std::size_t)>& work, std::ostream& out, std::ostream& err);
} // namespace vellport
