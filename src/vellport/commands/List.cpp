#include "display/PortWords.h"
#include "settings/CommSettings.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/commands/Commands.h"
#include "vellport/output/JsonOutput.h"
#include "vellport/output/PortReport.h"
#include "vellport/output/ResultNames.h"

#include <QJsonArray>
#include <ostream>

namespace vellport {
namespace {

const char* ruleKey(int rule) {
    switch (rule) {
    case VELLPORT_RULE_ENVIRONMENT:
        return "environment";
    case VELLPORT_RULE_USER_MAP:
        return "user-map";
    case VELLPORT_RULE_SYSTEM_MAP:
        return "system-map";
    default:
        return "default";
    }
}

const char* stateKey(int state) {
    switch (state) {
    case VELLPORT_STATE_PRESENT:
        return "present";
    case VELLPORT_STATE_NOT_DEVICE:
        return "not-device";
    case VELLPORT_STATE_NO_HARDWARE:
        return "no-hardware";
    case VELLPORT_STATE_NO_PERMISSION:
        return "no-permission";
    case VELLPORT_STATE_NETWORK:
        return "network";
    default:
        return "missing";
    }
}

// One name as the library describes it, or its refusal (a map line of the name's that is not valid).
struct DescribedPort {
    int number = 0;
    InfoPointer info;
    std::string refusal; // VellPortLastError's words when info is null
};

// COM1 to COM30 always; a higher name only when something maps it, or its own line is not valid.
std::vector<DescribedPort> describePorts(std::ostream& err, int& status) {
    std::vector<DescribedPort> ports;
    for (int number = 1; number <= kLastPort; ++number) {
        VellPortInfo* raw = nullptr;
        const int result = VellPortDescribe(("COM" + std::to_string(number)).c_str(), &raw);
        InfoPointer info(raw);
        if (result == VELLPORT_ERR_NAME) {
            ports.push_back({number, nullptr, VellPortLastError()});
            status = kExitFailed;
            continue;
        }
        if (result != VELLPORT_OK) {
            err << "vellport: VellPortDescribe COM" << number << ": " << resultName(result) << ": "
                << VellPortLastError() << "\n";
            status = kExitFailed;
            return {};
        }
        if (number <= kPortCount || info->rule != VELLPORT_RULE_DEFAULT) {
            ports.push_back({number, std::move(info), {}});
        }
    }
    return ports;
}

} // namespace

int runList(const Options& options, std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    const std::vector<DescribedPort> ports = describePorts(err, status);
    if (ports.empty()) {
        return status;
    }
    QJsonArray entries;
    for (const DescribedPort& port : ports) {
        const InfoPointer& info = port.info;
        if (!info) {
            const std::string name = "COM" + std::to_string(port.number);
            if (options.json) {
                QJsonObject entry{{"port", QString::fromStdString(name)}, {"number", port.number}};
                insertText(entry, "error", port.refusal.c_str());
                entries.append(entry);
            } else {
                out << portRefusedWords(name, port.refusal) << "\n";
            }
            continue;
        }
        if (options.json) {
            QJsonObject entry{{"port", QString::fromUtf8(info->portName)},
                              {"number", info->portNumber},
                              {"rule", ruleKey(info->rule)},
                              {"state", stateKey(info->state)},
                              {"details", detailsJson(info->details)}};
            insertText(entry, "device", info->devicePath);
            insertText(entry, "mapFile", info->mapFile);
            insertText(entry, "realPath", info->realPath);
            entries.append(entry);
            continue;
        }
        // As the window's tooltip says it, then the rule that chose the path.
        std::string line = portLeadsWords(textOrEmpty(info->portName), *info, WordsLanguage::English) + " [" +
                           ruleKey(info->rule);
        if (info->mapFile != nullptr) {
            line += std::string(" ") + info->mapFile;
        }
        out << line << "]\n";
    }
    if (options.json) {
        writeJson(QJsonObject{{"ports", entries}}, out);
    }
    return status;
}
} // namespace vellport
