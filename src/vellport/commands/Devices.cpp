#include "display/PortWords.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/commands/Commands.h"
#include "vellport/output/JsonOutput.h"
#include "vellport/output/PortReport.h"
#include "vellport/output/ResultNames.h"

#include <QJsonArray>
#include <ostream>

namespace vellport {
int runDevices(const Options& options, std::ostream& out, std::ostream& err) {
    VellPortDevice** raw = nullptr;
    const int result = VellPortListDevices(&raw);
    const DeviceListPointer list(raw);
    if (result != VELLPORT_OK) {
        err << "vellport: VellPortListDevices: " << resultName(result) << ": " << VellPortLastError() << "\n";
        return kExitFailed;
    }
    QJsonArray devices;
    for (VellPortDevice** device = list.get(); *device != nullptr; ++device) {
        const VellPortDevice& found = **device;
        std::vector<std::string> names(found.portNames, found.portNames + found.portCount);
        if (options.json) {
            QJsonArray ports;
            for (const std::string& name : names) {
                ports.append(QString::fromStdString(name));
            }
            QJsonObject entry{{"details", detailsJson(found.details)}, {"ports", ports}};
            insertText(entry, "path", found.path);
            devices.append(entry);
            continue;
        }
        const std::string description = adapterWords(found.details, WordsLanguage::English);
        out << found.path << (description.empty() ? "" : " (" + description + ")") << "\n";
        if (found.details.byIdPath != nullptr) {
            out << "  stable name: " << found.details.byIdPath << "\n";
        }
        if (names.empty()) {
            out << "  reached as: no COM name (vellport map COM<n> "
                << textOrEmpty(found.details.byIdPath != nullptr ? found.details.byIdPath : found.path)
                << ")\n";
        } else {
            std::string joined;
            for (const std::string& name : names) {
                joined += (joined.empty() ? "" : ", ") + name;
            }
            out << "  reached as: " << joined << "\n";
        }
    }
    if (options.json) {
        writeJson(QJsonObject{{"devices", devices}}, out);
    } else if (devices.isEmpty() && *list.get() == nullptr) {
        out << "no serial devices found\n";
    }
    return kExitOk;
}
} // namespace vellport
