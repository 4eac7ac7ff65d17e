#include "vellport/output/PortReport.h"

#include "display/PortWords.h"
#include "vellport/output/JsonOutput.h"

#include <QJsonObject>
#include <QJsonValue>
#include <filesystem>
#include <regex>

namespace vellport {
namespace {

QJsonValue jsonId(int id) {
    return id >= 0 ? QJsonValue(id) : QJsonValue(QJsonValue::Null);
}

} // namespace

std::string textOrEmpty(const char* value) {
    return value != nullptr ? value : "";
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
    return PortDestination{textOrEmpty(info->devicePath), info->state};
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
} // namespace vellport
