#include "vellport/fleet/FleetReport.h"

#include "VellPortDll.h"
#include "vellport/ExitStatus.h"
#include "vellport/output/JsonOutput.h"
#include "vellport/output/ResultNames.h"

#include <QJsonArray>
#include <algorithm>
#include <ostream>
#include <utility>

namespace vellport {
namespace {

constexpr const char* kAcknowledgedKind = "acknowledged";

// "ok", "acknowledged" for a send only the server's TCP stack acknowledged, or the result's name
// ("VELLPORT_ERR_REFUSED").
std::string outcomeKind(const TargetOutcome& outcome) {
    if (outcome.result != VELLPORT_OK) {
        return resultName(outcome.result);
    }
    return outcome.delivery == VELLPORT_DELIVERY_ACKNOWLEDGED ? kAcknowledgedKind : "ok";
}

// Each kind of result with its count: "ok" always first, "acknowledged" beside it, the failures in the order
// first seen.
std::vector<std::pair<std::string, int>> countByKind(const std::vector<TargetOutcome>& outcomes) {
    std::vector<std::pair<std::string, int>> counts{{"ok", 0}};
    if (std::any_of(outcomes.begin(), outcomes.end(),
                    [](const TargetOutcome& outcome) { return outcomeKind(outcome) == kAcknowledgedKind; })) {
        counts.emplace_back(kAcknowledgedKind, 0);
    }
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

std::string summaryLine(const std::vector<TargetOutcome>& outcomes, std::size_t distinct) {
    std::string line = std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " target" : " targets");
    if (distinct != outcomes.size()) {
        line += " (" + std::to_string(distinct) + " distinct)";
    }
    const char* separator = ": ";
    for (const auto& [kind, number] : countByKind(outcomes)) {
        line += separator + std::to_string(number) + " " +
                (kind == kAcknowledgedKind ? "acknowledged only" : kind);
        separator = ", ";
    }
    return line;
}

QJsonObject summaryJson(const std::vector<TargetOutcome>& outcomes, std::size_t distinct) {
    QJsonObject summary{{"targets", static_cast<int>(outcomes.size())},
                        {"distinct", static_cast<int>(distinct)}};
    for (const auto& [kind, number] : countByKind(outcomes)) {
        summary.insert(QString::fromStdString(kind), number);
    }
    return summary;
}

QJsonObject entryJson(const FleetReport& report, std::size_t index, std::size_t sameAs,
                      const TargetOutcome& outcome) {
    QJsonObject entry{{"result", outcome.result == VELLPORT_OK
                                     ? QString("ok")
                                     : QString::fromStdString(resultName(outcome.result))},
                      {"milliseconds", static_cast<qint64>(outcome.elapsed.count())},
                      {"sameAs", sameAs != index ? QJsonValue(static_cast<qint64>(sameAs)) : QJsonValue()}};
    insertText(entry, "reason", outcome.result == VELLPORT_OK ? nullptr : outcome.reason.c_str());
    report.entry(index, outcome, entry);
    return entry;
}

} // namespace

std::string targetLabel(const std::string& given, const std::string& leadsTo) {
    return leadsTo.empty() || leadsTo == given ? given : given + " \u2192 " + leadsTo;
}

std::string outcomeLine(const std::string& label, const std::string& happened,
                        std::chrono::milliseconds elapsed) {
    return label + "  " + happened + "  " + std::to_string(elapsed.count()) + " ms";
}

std::string failedWords(const TargetOutcome& outcome) {
    std::string words = "failed (" + resultWord(outcome.result) + ")";
    return outcome.reason.empty() ? words : words + ": " + outcome.reason;
}

int runFleet(const FleetReport& report, const std::vector<std::size_t>& sameAs, std::size_t parallel,
             const std::function<TargetOutcome(std::size_t)>& work, std::ostream& out, std::ostream& err) {
    std::size_t distinct = 0;
    for (std::size_t index = 0; index < sameAs.size(); ++index) {
        distinct += sameAs[index] == index ? 1 : 0;
    }
    const std::vector<TargetOutcome> outcomes = runOnTargets(
        sameAs, parallel, work,
        [&](std::size_t index, const TargetOutcome& outcome) {
            if (!report.json && (!report.quiet || report.failed(outcome))) {
                out << report.line(index, outcome) << std::endl;
            }
        },
        err);
    const bool anyFailed = std::any_of(outcomes.begin(), outcomes.end(), report.failed);
    if (report.json) {
        QJsonArray entries;
        for (std::size_t index = 0; index < outcomes.size(); ++index) {
            entries.append(entryJson(report, index, sameAs[index], outcomes[index]));
        }
        QJsonObject document = report.head;
        document.insert("targets", entries);
        document.insert("summary", summaryJson(outcomes, distinct));
        writeJson(document, out);
    } else if (!report.quiet || anyFailed) {
        if (outcomes.empty() && !report.noTarget.empty()) {
            out << report.noTarget << "\n";
        }
        out << summaryLine(outcomes, distinct) << "\n";
    }
    return anyFailed ? kExitFailed : kExitOk;
}
} // namespace vellport
