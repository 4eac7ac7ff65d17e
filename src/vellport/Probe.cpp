// vellport probe: whether the network endpoints answer, without sending data to the displays.
#include "vellport/Probe.h"

#include "VellPortDll.h"
#include "portlink/PortName.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/JsonOutput.h"
#include "vellport/PortReport.h"
#include "vellport/ResultNames.h"
#include "vellport/TargetList.h"
#include "vellport/TargetRun.h"

#include <QJsonArray>
#include <algorithm>
#include <map>
#include <optional>
#include <ostream>

namespace {

constexpr char kParity = 'N';
constexpr int kDataBits = 8;
constexpr int kStopBits = 1;
constexpr int kNoFlowControl = 0;

struct ProbeTarget {
    std::string name;     // the COM name, or "" for a URL given as it is
    std::string endpoint; // the URL probed; for a COM name, where it leads
    bool isEndpoint = true;
};

std::string label(const ProbeTarget& target) {
    return target.name.empty() ? target.endpoint : targetLabel(target.name, target.endpoint);
}

// The first target that leads to the same endpoint as each: two connections to one ser2net port at once
// would make one of them busy.
std::vector<std::size_t> firstOfEachEndpoint(const std::vector<ProbeTarget>& targets) {
    std::vector<std::size_t> sameAs;
    sameAs.reserve(targets.size());
    std::map<std::string, std::size_t> firstByKey;
    for (const ProbeTarget& target : targets) {
        sameAs.push_back(
            firstByKey.try_emplace(destinationKey(target.endpoint), sameAs.size()).first->second);
    }
    return sameAs;
}

ProbeTarget requireProbeTarget(const std::string& text) {
    if (portlink::parsePortName(text)) {
        const std::optional<PortDestination> destination = describeDestination(text);
        if (!destination) {
            throw UsageError("'" + text + "' cannot be looked up", "vellport probe COM5");
        }
        return ProbeTarget{text, destination->target, destination->state == VELLPORT_STATE_NETWORK};
    }
    if (!portlink::parseEndpoint(text)) {
        throw UsageError("'" + text + "' is neither a COM name nor an rfc2217:// or tcp:// URL",
                         "vellport probe rfc2217://counter-pi:2001");
    }
    return ProbeTarget{"", text, true};
}

// What the TLS session was, when the probe made one.
using TlsSeen = std::optional<VellPortTlsInfo>;

std::string tlsWords(const TlsSeen& tls) {
    if (!tls) {
        return {};
    }
    return std::string("; ") + tls->protocol + ", server " + tls->subject + " issued by " + tls->issuer +
           ", expires in " + std::to_string(tls->daysLeft) + " days, client certificate " +
           (tls->clientCertificateSent != 0 ? "sent" : "not sent");
}

QJsonValue tlsJson(const TlsSeen& tls) {
    if (!tls) {
        return {};
    }
    return QJsonObject{{"protocol", tls->protocol},
                       {"subject", QString::fromUtf8(tls->subject)},
                       {"issuer", QString::fromUtf8(tls->issuer)},
                       {"daysLeft", static_cast<qint64>(tls->daysLeft)},
                       {"clientCertificateSent", tls->clientCertificateSent != 0}};
}

TargetOutcome probe(const ProbeTarget& target, int rate, TlsSeen& tls) {
    TargetOutcome outcome;
    if (!target.isEndpoint) {
        // The line shows the device the name leads to; nothing is connected.
        outcome.result = VELLPORT_ERR_NAME;
        return outcome;
    }
    outcome.result = VellPortProbe(target.endpoint.c_str(), rate, kDataBits, kParity, kStopBits,
                                   kNoFlowControl, &outcome.confirmedRate);
    if (VellPortTlsInfo info{}; VellPortLastTls(&info) == 1) {
        tls = info;
    }
    if (outcome.result != VELLPORT_OK) {
        outcome.reason = reasonAlone(VellPortLastError(), target.endpoint);
    }
    return outcome;
}

// What the result means for an endpoint, in the words an operator checks for.
std::string verdict(const TargetOutcome& outcome) {
    switch (outcome.result) {
    case VELLPORT_OK:
        return outcome.confirmedRate > 0
                   ? "reachable, rate " + std::to_string(outcome.confirmedRate) + " confirmed"
                   : "reachable (raw TCP: the line settings are the server's)";
    case VELLPORT_ERR_REFUSED:
        return "refused";
    case VELLPORT_ERR_TIMEOUT:
        return "no answer";
    case VELLPORT_ERR_PROTOCOL:
        return "not RFC 2217";
    case VELLPORT_ERR_BUSY:
        return "busy";
    case VELLPORT_ERR_HOST:
        return "host not found";
    case VELLPORT_ERR_SETTING:
        return "setting refused";
    case VELLPORT_ERR_NAME:
        return "not a network endpoint";
    default:
        return "failed (" + resultWord(outcome.result) + ")";
    }
}

// "COM5 → rfc2217://box:2001  refused: nothing listens on that port  3 ms".
std::string targetLine(const std::vector<ProbeTarget>& targets, const std::vector<std::size_t>& sameAs,
                       std::size_t index, const TargetOutcome& outcome, const TlsSeen& tls) {
    std::string shown = label(targets[index]);
    if (sameAs[index] != index) {
        const ProbeTarget& first = targets[sameAs[index]];
        shown += " (same endpoint as " + (first.name.empty() ? first.endpoint : first.name) + ")";
    }
    std::string happened = verdict(outcome);
    if (!outcome.reason.empty()) {
        happened += ": " + outcome.reason;
    }
    happened += tlsWords(tls);
    return outcomeLine(shown, happened, outcome.elapsed);
}

QJsonObject targetJson(const ProbeTarget& target, const TargetOutcome& outcome, std::size_t sameAs,
                       std::size_t index, const TlsSeen& tls) {
    QJsonObject entry = outcomeJson(outcome);
    entry.insert("tls", tlsJson(tls));
    entry.insert("verdict", QString::fromStdString(verdict(outcome)));
    entry.insert("confirmedRate",
                 outcome.confirmedRate > 0 ? QJsonValue(outcome.confirmedRate) : QJsonValue());
    insertText(entry, "port", target.name.empty() ? nullptr : target.name.c_str());
    insertText(entry, "target", target.endpoint.c_str());
    insertText(entry, "leadsTo", target.endpoint.c_str());
    entry.insert("sameAs", sameAs != index ? QJsonValue(static_cast<qint64>(sameAs)) : QJsonValue());
    return entry;
}

} // namespace

int runProbe(const Options& options, std::ostream& out, std::ostream& err) {
    std::vector<ProbeTarget> targets;
    for (const std::string& text : options.positional) {
        targets.push_back(requireProbeTarget(text));
    }
    if (options.positional.empty()) {
        for (auto& [name, endpoint] : networkPorts()) {
            targets.push_back(ProbeTarget{name, endpoint, true});
        }
    }
    const std::size_t parallel = parallelLimit(options);
    const int rate = savedChoice(options, false).rate;
    const std::vector<std::size_t> sameAs = firstOfEachEndpoint(targets);
    std::size_t distinct = 0;
    for (std::size_t index = 0; index < sameAs.size(); ++index) {
        distinct += sameAs[index] == index ? 1 : 0;
    }
    // Each probe fills its own slot, from whichever thread runs it.
    std::vector<TlsSeen> tls(targets.size());
    const std::vector<TargetOutcome> outcomes = runOnTargets(
        sameAs, parallel, [&](std::size_t index) { return probe(targets[index], rate, tls[index]); },
        [&](std::size_t index, const TargetOutcome& outcome) {
            if (!options.json && (!options.quiet || outcome.result != VELLPORT_OK)) {
                out << targetLine(targets, sameAs, index, outcome, tls[sameAs[index]]) << std::endl;
            }
        },
        err);
    const bool allAnswered = std::all_of(outcomes.begin(), outcomes.end(), [](const TargetOutcome& outcome) {
        return outcome.result == VELLPORT_OK;
    });
    if (options.json) {
        QJsonArray entries;
        for (std::size_t index = 0; index < targets.size(); ++index) {
            entries.append(
                targetJson(targets[index], outcomes[index], sameAs[index], index, tls[sameAs[index]]));
        }
        writeJson(QJsonObject{{"command", "probe"},
                              {"rate", rate},
                              {"targets", entries},
                              {"summary", summaryJson(outcomes, distinct)}},
                  out);
    } else if (!options.quiet || !allAnswered) {
        if (targets.empty()) {
            out << "no COM name leads to a network endpoint (vellport map COM5 rfc2217://HOST:PORT)\n";
        }
        out << summaryLine(outcomes, distinct) << "\n";
    }
    return allAnswered ? kExitOk : kExitFailed;
}
