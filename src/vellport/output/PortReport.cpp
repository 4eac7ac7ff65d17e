// What the library tells about port names and serial devices, as text for people or JSON for scripts.
#include "vellport/output/PortReport.h"

#include "VellPortDll.h"
#include "display/PortWords.h"
#include "settings/CommSettings.h"
#include "vellport/ExitStatus.h"
#include "vellport/output/JsonOutput.h"
#include "vellport/output/ResultNames.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <filesystem>
#include <memory>
#include <ostream>
#include <regex>

namespace {

constexpr int kLastPort = 255;

struct InfoDeleter {
    void operator()(VellPortInfo* info) const { VellPortFreeInfo(info); }
};
using InfoPointer = std::unique_ptr<VellPortInfo, InfoDeleter>;

struct DeviceListDeleter {
    void operator()(VellPortDevice** list) const { VellPortFreeDeviceList(list); }
};
using DeviceListPointer = std::unique_ptr<VellPortDevice*, DeviceListDeleter>;

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

QJsonValue jsonId(int id) {
    return id >= 0 ? QJsonValue(id) : QJsonValue(QJsonValue::Null);
}

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

QJsonObject detailsJson(const VellPortDeviceDetails& details) {
    QJsonObject object{{"usb", details.isUsb != 0},
                       {"vendorId", jsonId(details.vendorId)},
                       {"productId", jsonId(details.productId)}};
    insertText(object, "kernelName", details.kernelName);
    insertText(object, "driver", details.driver);
    insertText(object, "manufacturer", details.manufacturer);
    insertText(object, "product", details.product);
    insertText(object, "serialNumber", details.serialNumber);
    insertText(object, "byIdPath", details.byIdPath);
    insertText(object, "description", adapterWords(details, WordsLanguage::English).c_str());
    return object;
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

int runList(bool json, std::ostream& out, std::ostream& err) {
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
            if (json) {
                QJsonObject entry{{"port", QString::fromStdString(name)}, {"number", port.number}};
                insertText(entry, "error", port.refusal.c_str());
                entries.append(entry);
            } else {
                out << portRefusedWords(name, port.refusal) << "\n";
            }
            continue;
        }
        if (json) {
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
        std::string line =
            portLeadsWords(text(info->portName), *info, WordsLanguage::English) + " [" + ruleKey(info->rule);
        if (info->mapFile != nullptr) {
            line += std::string(" ") + info->mapFile;
        }
        out << line << "]\n";
    }
    if (json) {
        writeJson(QJsonObject{{"ports", entries}}, out);
    }
    return status;
}

int runDevices(bool json, std::ostream& out, std::ostream& err) {
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
        if (json) {
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
                << text(found.details.byIdPath != nullptr ? found.details.byIdPath : found.path) << ")\n";
        } else {
            std::string joined;
            for (const std::string& name : names) {
                joined += (joined.empty() ? "" : ", ") + name;
            }
            out << "  reached as: " << joined << "\n";
        }
    }
    if (json) {
        writeJson(QJsonObject{{"devices", devices}}, out);
    } else if (devices.isEmpty() && *list.get() == nullptr) {
        out << "no serial devices found\n";
    }
    return kExitOk;
}

std::optional<std::string> stableNameSuggestion(const std::string& devicePath) {
    static const std::regex kAdapterNode("ttyUSB[0-9]+");
    if (!std::regex_match(std::filesystem::path(devicePath).filename().string(), kAdapterNode)) {
        return std::nullopt;
    }
    VellPortDevice** raw = nullptr;
    if (VellPortListDevices(&raw) != VELLPORT_OK) {
        return std::nullopt;
    }
    const DeviceListPointer list(raw);
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(devicePath, error);
    for (VellPortDevice** device = list.get(); *device != nullptr; ++device) {
        if ((*device)->details.byIdPath != nullptr && !error && resolved == (*device)->path) {
            return std::string((*device)->details.byIdPath);
        }
    }
    return std::nullopt;
}

std::optional<PortDestination> describeDestination(const std::string& portName) {
    VellPortInfo* raw = nullptr;
    const int result = VellPortDescribe(portName.c_str(), &raw);
    const InfoPointer info(raw);
    if (result != VELLPORT_OK) {
        return std::nullopt;
    }
    return PortDestination{text(info->devicePath), info->state};
}

std::vector<std::pair<std::string, std::string>> networkPorts() {
    std::vector<std::pair<std::string, std::string>> ports;
    for (int number = 1; number <= kLastPort; ++number) {
        const std::string name = "COM" + std::to_string(number);
        if (const std::optional<PortDestination> destination = describeDestination(name);
            destination && destination->state == VELLPORT_STATE_NETWORK) {
            ports.emplace_back(name, destination->target);
        }
    }
    return ports;
}
