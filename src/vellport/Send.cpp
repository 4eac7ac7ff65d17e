// vellport send: the screen saver switched as the window's Open and Close buttons do, on one display or on
// many at once.
#include "vellport/Send.h"

#include "VellPortDll.h"
#include "link/SaverCommand.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/JsonOutput.h"
#include "vellport/ResultNames.h"
#include "vellport/TargetList.h"
#include "vellport/TargetRun.h"

#include <QJsonArray>
#include <algorithm>
#include <ostream>

namespace {

// The window's line parameters: only the rate is ever chosen.
constexpr char kParity = 'N';
constexpr int kDataBits = 8;
constexpr int kStopBits = 1;
constexpr int kNoFlowControl = 0;

// The calls and constants of the window's choice of a port, then of its Open and Close buttons; the library's
// line on standard error, then which call failed.
int sendAsTheWindowDoes(const std::string& port, int rate, bool on, std::ostream& err) {
    if (const int result = SetComParam(port.c_str(), rate, kDataBits, kParity, kStopBits, kNoFlowControl);
        result != VELLPORT_OK) {
        err << "vellport: SetComParam " << port << " " << rate << ": " << resultName(result) << "\n";
        return kExitFailed;
    }
    const SaverCommand command = makeSaverCommand(on);
    if (const int result = SendData(port.c_str(), command.data(), static_cast<int>(command.size()));
        result != VELLPORT_OK) {
        err << "vellport: SendData " << port << ": " << resultName(result) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

// One target of many: a COM name through the same two calls (the library follows its map, to a device or an
// endpoint), anything else straight to VellPortSendTo. The reason is read on the thread that failed.
TargetOutcome sendToTarget(const Target& target, int rate, const SaverCommand& command) {
    TargetOutcome outcome;
    if (target.isComName) {
        outcome.result =
            SetComParam(target.text.c_str(), rate, kDataBits, kParity, kStopBits, kNoFlowControl);
        if (outcome.result == VELLPORT_OK) {
            outcome.result = SendData(target.text.c_str(), command.data(), static_cast<int>(command.size()));
        }
    } else {
        outcome.result = VellPortSendTo(target.text.c_str(), rate, kDataBits, kParity, kStopBits,
                                        kNoFlowControl, command.data(), static_cast<int>(command.size()));
    }
    if (outcome.result != VELLPORT_OK) {
        outcome.reason = VellPortLastError();
    }
    return outcome;
}

// "COM3 ok 12 ms", "rfc2217://box:2001 failed VELLPORT_ERR_REFUSED: connection refused 3 ms".
std::string targetLine(const Target& target, const TargetOutcome& outcome) {
    std::string line = target.text;
    if (outcome.result == VELLPORT_OK) {
        line += " ok";
    } else {
        line += " failed " + resultName(outcome.result);
        if (!outcome.reason.empty()) {
            line += ": " + outcome.reason;
        }
    }
    return line + " " + std::to_string(outcome.elapsed.count()) + " ms";
}

QJsonObject targetJson(const Target& target, const TargetOutcome& outcome) {
    QJsonObject entry = outcomeJson(outcome);
    insertText(entry, "target", target.text.c_str());
    return entry;
}

int sendToMany(const std::vector<Target>& targets, int rate, bool on, std::size_t parallel, bool json,
               std::ostream& out, std::ostream& err) {
    const SaverCommand command = makeSaverCommand(on);
    const std::vector<TargetOutcome> outcomes = runOnTargets(
        targets.size(), parallel,
        [&](std::size_t index) { return sendToTarget(targets[index], rate, command); },
        [&](std::size_t index, const TargetOutcome& outcome) {
            if (!json) {
                out << targetLine(targets[index], outcome) << std::endl;
            }
        },
        err);
    if (json) {
        QJsonArray entries;
        for (std::size_t index = 0; index < targets.size(); ++index) {
            entries.append(targetJson(targets[index], outcomes[index]));
        }
        writeJson(QJsonObject{{"command", "send"},
                              {"state", on ? "on" : "off"},
                              {"rate", rate},
                              {"targets", entries},
                              {"summary", summaryJson(outcomes)}},
                  out);
    } else {
        out << summaryLine(outcomes) << "\n";
    }
    const bool allSent = std::all_of(outcomes.begin(), outcomes.end(), [](const TargetOutcome& outcome) {
        return outcome.result == VELLPORT_OK;
    });
    return allSent ? kExitOk : kExitFailed;
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
    const std::size_t parallel = parallelLimit(options);
    const bool many = options.json || !options.targets.empty() || options.targetsFile || targets.size() > 1;
    const SavedChoice choice = savedChoice(options, targets.empty());
    if (targets.empty()) {
        targets.push_back(Target{choice.port, true});
    }
    if (!many) {
        return sendAsTheWindowDoes(targets.front().text, choice.rate, state == "on", err);
    }
    return sendToMany(targets, choice.rate, state == "on", parallel, options.json, out, err);
}
