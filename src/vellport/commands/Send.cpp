#include "VellPortDll.h"
#include "display/LineSettings.h"
#include "display/SaverCommand.h"
#include "portlink/PortName.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/commands/Commands.h"
#include "vellport/fleet/FleetReport.h"
#include "vellport/fleet/TargetList.h"
#include "vellport/output/JsonOutput.h"
#include "vellport/output/PortReport.h"

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>

namespace vellport {
namespace {

// A target with the place it leads to, and the first target of the run that leads to the same place.
struct PlannedTarget {
    Target target;
    std::string leadsTo; // the device path or URL; "" for a COM name the library cannot describe
    std::size_t sameAs = 0;
};

// Where each target leads (a COM name as VellPortDescribe says, anything else to itself), and which of them
// lead to one place, so that each place is sent to once.
std::vector<PlannedTarget> planTargets(const std::vector<Target>& targets) {
    std::vector<PlannedTarget> planned;
    std::map<int, std::string> leadsByNumber;
    std::map<std::string, std::size_t> firstByKey;
    for (const Target& target : targets) {
        PlannedTarget entry{target, target.text, planned.size()};
        std::string key;
        if (target.isComName) {
            const int number = portlink::parsePortName(target.text).value_or(0);
            if (!leadsByNumber.contains(number)) {
                const std::optional<PortDestination> destination = describeDestination(target.text);
                leadsByNumber[number] = destination ? destination->target : std::string();
            }
            entry.leadsTo = leadsByNumber[number];
            key = entry.leadsTo.empty() ? "COM" + std::to_string(number) : destinationKey(entry.leadsTo);
        } else {
            key = destinationKey(target.text);
        }
        entry.sameAs = firstByKey.try_emplace(key, planned.size()).first->second;
        planned.push_back(std::move(entry));
    }
    return planned;
}

// One target: a COM name through the window's two calls (the library follows its map, to a device or an
// endpoint), anything else straight to VellPortSendTo. Reason and delivery are read on the thread that sent.
TargetOutcome sendToTarget(const PlannedTarget& planned, int rate, const SaverCommand& command) {
    const Target& target = planned.target;
    TargetOutcome outcome;
    if (target.isComName) {
        outcome.result = setDisplayLine(target.text.c_str(), rate);
        if (outcome.result == VELLPORT_OK) {
            outcome.result = SendData(target.text.c_str(), command.data(), static_cast<int>(command.size()));
        }
    } else {
        outcome.result = VellPortSendTo(target.text.c_str(), rate, kDisplayLine.dataBits, kDisplayLine.parity,
                                        kDisplayLine.stopBits, kDisplayLine.flowControl, command.data(),
                                        static_cast<int>(command.size()));
    }
    outcome.delivery = VellPortLastDelivery();
    if (outcome.result != VELLPORT_OK) {
        outcome.reason = reasonAlone(VellPortLastError(), planned.leadsTo);
    }
    return outcome;
}

struct SendReport {
    bool json = false;
    bool quiet = false;
    bool strict = false;
    bool rateGiven = false; // --baud, which a raw TCP port does not take
};

bool acknowledgedOnly(const TargetOutcome& outcome) {
    return outcome.result == VELLPORT_OK && outcome.delivery == VELLPORT_DELIVERY_ACKNOWLEDGED;
}

bool failed(const TargetOutcome& outcome, const SendReport& report) {
    return outcome.result != VELLPORT_OK || (report.strict && acknowledgedOnly(outcome));
}

// "ok", with what the success does not promise in brackets; or "failed (refused): reason".
std::string happened(const PlannedTarget& planned, const TargetOutcome& outcome, const SendReport& report) {
    if (outcome.result != VELLPORT_OK) {
        return failedWords(outcome);
    }
    std::string notes;
    if (acknowledgedOnly(outcome)) {
        notes = "acknowledged only: the server kept the connection open";
    }
    const std::optional<portlink::Endpoint> endpoint = portlink::parseEndpoint(planned.leadsTo);
    if (report.rateGiven && endpoint && endpoint->kind == portlink::Endpoint::Kind::RawTcp) {
        notes += std::string(notes.empty() ? "" : "; ") + "raw TCP: the rate was not set";
    }
    const std::string word = failed(outcome, report) ? "failed" : "ok";
    return notes.empty() ? word : word + " (" + notes + ")";
}

// "rfc2217://box:2001 (same display as line 2)  ok  12 ms".
std::string targetLine(const std::vector<PlannedTarget>& planned, std::size_t index,
                       const TargetOutcome& outcome, const SendReport& report) {
    const PlannedTarget& entry = planned[index];
    std::string label = targetLabel(entry.target.text, entry.leadsTo);
    if (entry.sameAs != index) {
        const Target& first = planned[entry.sameAs].target;
        label +=
            " (same display as " + (first.line > 0 ? "line " + std::to_string(first.line) : first.text) + ")";
    }
    return outcomeLine(label, happened(entry, outcome, report), outcome.elapsed);
}

// One target as the window sends it: nothing on success, a failure on standard error.
int sendToOne(const PlannedTarget& planned, int rate, bool on, const SendReport& report, std::ostream& out,
              std::ostream& err) {
    const auto started = std::chrono::steady_clock::now();
    TargetOutcome outcome = sendToTarget(planned, rate, makeSaverCommand(on));
    outcome.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (failed(outcome, report)) {
        err << "vellport: " << targetLine({planned}, 0, outcome, report) << "\n";
        return kExitFailed;
    }
    // A success that is not known to have reached the display says so.
    if (acknowledgedOnly(outcome) && !report.quiet) {
        out << targetLine({planned}, 0, outcome, report) << "\n";
    }
    return kExitOk;
}

int sendToMany(const std::vector<PlannedTarget>& planned, int rate, bool on, std::size_t parallel,
               const SendReport& report, std::ostream& out, std::ostream& err) {
    const SaverCommand command = makeSaverCommand(on);
    std::vector<std::size_t> sameAs(planned.size());
    std::ranges::transform(planned, sameAs.begin(), &PlannedTarget::sameAs);
    FleetReport fleet{.head = {{"command", "send"}, {"state", on ? "on" : "off"}, {"rate", rate}},
                      .json = report.json,
                      .quiet = report.quiet};
    fleet.failed = [&](const TargetOutcome& outcome) { return failed(outcome, report); };
    fleet.line = [&](std::size_t index, const TargetOutcome& outcome) {
        return targetLine(planned, index, outcome, report);
    };
    fleet.entry = [&](std::size_t index, const TargetOutcome& outcome, QJsonObject& entry) {
        insertText(entry, "target", planned[index].target.text.c_str());
        const std::string& leadsTo = planned[index].leadsTo;
        insertText(entry, "leadsTo", leadsTo.empty() ? nullptr : leadsTo.c_str());
        entry.insert("delivery", outcome.delivery == VELLPORT_DELIVERY_CONFIRMED ? QJsonValue("confirmed")
                                 : outcome.delivery == VELLPORT_DELIVERY_ACKNOWLEDGED
                                     ? QJsonValue("acknowledged")
                                     : QJsonValue());
    };
    return runFleet(
        fleet, sameAs, parallel,
        [&](std::size_t index) { return sendToTarget(planned[index], rate, command); }, out, err);
}

} // namespace

int runSend(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& state = options.positional[0];
    if (state != "on" && state != "off") {
        throw UsageError("send needs on or off, not '" + state + "'", "vellport send on --port COM3");
    }
    std::vector<Target> targets;
    for (const std::string& port : options.ports) {
        requirePortName(port);
        targets.push_back(Target{port, true});
    }
    for (const std::string& target : options.targets) {
        targets.push_back(requireTarget(target, "--to"));
    }
    if (options.targetsFile) {
        const std::vector<Target> listed = readTargetList(*options.targetsFile);
        targets.insert(targets.end(), listed.begin(), listed.end());
        if (listed.empty()) {
            throw UsageError("the targets file " + *options.targetsFile + " names no target",
                             "echo COM3 > displays.txt; vellport send on --targets displays.txt");
        }
    }
    const bool many = options.json || !options.targets.empty() || options.targetsFile || targets.size() > 1;
    const RunChoice choice = runChoice(options, targets.empty());
    if (targets.empty()) {
        targets.push_back(Target{choice.port, true});
    }
    const SendReport report{options.json, options.quiet, options.strict, options.baud.has_value()};
    const std::vector<PlannedTarget> planned = planTargets(targets);
    if (!many) {
        return sendToOne(planned.front(), choice.rate, state == "on", report, out, err);
    }
    return sendToMany(planned, choice.rate, state == "on", choice.parallel, report, out, err);
}
} // namespace vellport
