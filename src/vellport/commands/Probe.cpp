#include "VellPortDll.h"
#include "display/LineSettings.h"
#include "portlink/PortName.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/commands/Commands.h"
#include "vellport/fleet/FleetReport.h"
#include "vellport/fleet/TargetList.h"
#include "vellport/output/JsonOutput.h"
#include "vellport/output/PortReport.h"
#include "vellport/output/ResultNames.h"

#include <map>
#include <optional>
#include <ostream>

namespace vellport {
namespace {

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
    if (portlink::parseEndpoint(text)) {
        return ProbeTarget{"", text, true};
    }
    if (!portlink::parsePortName(text)) {
        throw UsageError("'" + text + "' is neither a COM name nor an rfc2217:// or tcp:// URL",
                         "vellport probe rfc2217://counter-pi:2001");
    }
    const std::optional<PortDestination> destination = describeDestination(text);
    if (!destination) {
        throw UsageError("'" + text + "' cannot be looked up", "vellport probe COM5");
    }
    return ProbeTarget{text, destination->target, destination->state == VELLPORT_STATE_NETWORK};
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
    outcome.result = VellPortProbe(target.endpoint.c_str(), rate, kDisplayLine.dataBits, kDisplayLine.parity,
                                   kDisplayLine.stopBits, kDisplayLine.flowControl, &outcome.confirmedRate);
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
    const RunChoice choice = runChoice(options, false);
    const int rate = choice.rate;
    const std::vector<std::size_t> sameAs = firstOfEachEndpoint(targets);
    // Each probe fills its own slot, from whichever thread runs it.
    std::vector<TlsSeen> tls(targets.size());
    FleetReport fleet{.head = {{"command", "probe"}, {"rate", rate}},
                      .json = options.json,
                      .quiet = options.quiet,
                      .noTarget =
                          "no COM name leads to a network endpoint (vellport map COM5 rfc2217://HOST:PORT)"};
    fleet.failed = [](const TargetOutcome& outcome) { return outcome.result != VELLPORT_OK; };
    fleet.line = [&](std::size_t index, const TargetOutcome& outcome) {
        return targetLine(targets, sameAs, index, outcome, tls[sameAs[index]]);
    };
    fleet.entry = [&](std::size_t index, const TargetOutcome& outcome, QJsonObject& entry) {
        entry.insert("tls", tlsJson(tls[sameAs[index]]));
        entry.insert("verdict", QString::fromStdString(verdict(outcome)));
        entry.insert("confirmedRate",
                     outcome.confirmedRate > 0 ? QJsonValue(outcome.confirmedRate) : QJsonValue());
        insertText(entry, "port", targets[index].name.empty() ? nullptr : targets[index].name.c_str());
        insertText(entry, "target", targets[index].endpoint.c_str());
        insertText(entry, "leadsTo", targets[index].endpoint.c_str());
    };
    return runFleet(
        fleet, sameAs, choice.parallel,
        [&](std::size_t index) { return probe(targets[index], rate, tls[index]); }, out, err);
}
} // namespace vellport
