// What the library tells about port names and serial devices, as text for people or JSON for scripts.
#include "vellport/PortReport.h"

#include "VellPortDll.h"
#include "link/PortWords.h"
#include "vellport/VellPort.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <regex>

namespace {

constexpr int kListedPorts = 30;
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

QJsonValue jsonText(const char* value) {
    return value != nullptr ? QJsonValue(QString::fromUtf8(value)) : QJsonValue(QJsonValue::Null);
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
    default:
        return "missing";
    }
}

QJsonObject detailsJson(const VellPortDeviceDetails& details) {
    return QJsonObject{
        {"kernelName", jsonText(details.kernelName)},
        {"driver", jsonText(details.driver)},
        {"usb", details.isUsb != 0},
        {"vendorId", jsonId(details.vendorId)},
        {"productId", jsonId(details.productId)},
        {"manufacturer", jsonText(details.manufacturer)},
        {"product", jsonText(details.product)},
        {"serialNumber", jsonText(details.serialNumber)},
        {"byIdPath", jsonText(details.byIdPath)},
        {"description", QString::fromStdString(adapterWords(details, WordsLanguage::English))}};
}

void writeJson(const QJsonObject& document, std::ostream& out) {
    out << QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

// COM1 to COM30 always; a higher name only when something maps it.
std::vector<InfoPointer> describePorts(std::ostream& err, int& status) {
    std::vector<InfoPointer> ports;
    for (int number = 1; number <= kLastPort; ++number) {
        VellPortInfo* raw = nullptr;
        const int result = VellPortDescribe(("COM" + std::to_string(number)).c_str(), &raw);
        InfoPointer info(raw);
        if (result != VELLPORT_OK) {
            err << "vellport: VellPortDescribe COM" << number << ": " << resultName(result) << "\n";
            status = kExitFailed;
            return {};
        }
        if (number <= kListedPorts || info->rule != VELLPORT_RULE_DEFAULT) {
            ports.push_back(std::move(info));
        }
    }
    return ports;
}

} // namespace

int runList(bool json, std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    const std::vector<InfoPointer> ports = describePorts(err, status);
    if (status != kExitOk) {
        return status;
    }
    QJsonArray entries;
    for (const InfoPointer& info : ports) {
        if (json) {
            entries.append(QJsonObject{{"port", QString::fromUtf8(info->portName)},
                                       {"number", info->portNumber},
                                       {"device", QString::fromUtf8(info->devicePath)},
                                       {"rule", ruleKey(info->rule)},
                                       {"mapFile", jsonText(info->mapFile)},
                                       {"state", stateKey(info->state)},
                                       {"realPath", jsonText(info->realPath)},
                                       {"details", detailsJson(info->details)}});
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
    return kExitOk;
}

int runDevices(bool json, std::ostream& out, std::ostream& err) {
    VellPortDevice** raw = nullptr;
    const int result = VellPortListDevices(&raw);
    const DeviceListPointer list(raw);
    if (result != VELLPORT_OK) {
        err << "vellport: VellPortListDevices: " << resultName(result) << "\n";
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
            devices.append(QJsonObject{{"path", QString::fromUtf8(found.path)},
                                       {"details", detailsJson(found.details)},
                                       {"ports", ports}});
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
