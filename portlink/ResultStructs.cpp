#include "ResultStructs.h"

#include "PortName.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace portlink {
namespace {

char* copyText(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Unknown details stay NULL rather than empty, as the header promises.
char* copyKnownText(const std::string& text) {
    return text.empty() ? nullptr : copyText(text);
}

void freeText(const char* text) {
    std::free(const_cast<char*>(text));
}

// Zeroed, so that a free on the way out of a half-filled struct releases only what was filled.
template <typename Struct>
Struct* newZeroed(std::size_t count = 1) {
    // Struct is a pointer for the NULL-ended arrays: an array of pointers is what is wanted there.
    auto* zeroed =
        static_cast<Struct*>(std::calloc(count, sizeof(Struct))); // NOLINT(bugprone-sizeof-expression)
    if (zeroed == nullptr) {
        throw std::bad_alloc();
    }
    return zeroed;
}

template <typename Struct>
using Owned = std::unique_ptr<Struct, void (*)(Struct*)>;

void fillDetails(VellPortDeviceDetails& out, const DeviceDetails& details) {
    out.vendorId = details.vendorId;
    out.productId = details.productId;
    out.isUsb = details.isUsb ? 1 : 0;
    out.kernelName = copyKnownText(details.kernelName);
    out.driver = copyKnownText(details.driver);
    out.manufacturer = copyKnownText(details.manufacturer);
    out.product = copyKnownText(details.product);
    out.serialNumber = copyKnownText(details.serialNumber);
    out.byIdPath = copyKnownText(details.byIdPath);
}

void freeDetails(const VellPortDeviceDetails& details) {
    for (const char* text : {details.kernelName, details.driver, details.manufacturer, details.product,
                             details.serialNumber, details.byIdPath}) {
        freeText(text);
    }
}

// The C code of each enumerator, in the enumeration's order.
template <typename Enum, std::size_t N>
int codeOf(Enum value, const std::array<int, N>& codes) {
    return codes.at(static_cast<std::size_t>(value));
}

constexpr std::array<int, 4> kRuleCodes{VELLPORT_RULE_ENVIRONMENT, VELLPORT_RULE_USER_MAP,
                                        VELLPORT_RULE_SYSTEM_MAP, VELLPORT_RULE_DEFAULT};
constexpr std::array<int, 5> kStateCodes{VELLPORT_STATE_PRESENT, VELLPORT_STATE_MISSING,
                                         VELLPORT_STATE_NOT_DEVICE, VELLPORT_STATE_NO_HARDWARE,
                                         VELLPORT_STATE_NO_PERMISSION};

void freeDevice(VellPortDevice* device) {
    freeText(device->path);
    freeDetails(device->details);
    if (device->portNames != nullptr) {
        for (const char* const* name = device->portNames; *name != nullptr; ++name) {
            freeText(*name);
        }
        std::free(const_cast<const char**>(device->portNames));
    }
    std::free(device);
}

VellPortDevice* newDevice(const FoundDevice& found) {
    Owned<VellPortDevice> device(newZeroed<VellPortDevice>(), freeDevice);
    device->path = copyText(found.path);
    fillDetails(device->details, found.details);
    auto** names = newZeroed<const char*>(found.portNumbers.size() + 1);
    device->portNames = names;
    for (const int portNumber : found.portNumbers) {
        names[device->portCount] = copyText("COM" + std::to_string(portNumber));
        ++device->portCount;
    }
    return device.release();
}

} // namespace

VellPortInfo* newPortInfo(int portNumber, const Resolution& resolution) {
    Owned<VellPortInfo> info(newZeroed<VellPortInfo>(), freePortInfo);
    // A network target is told as such, never connected to: a description must stay fast.
    const bool network = parseEndpoint(resolution.target).has_value();
    const PathDescription description =
        network ? PathDescription{} : describePath(resolution.target, SystemRoots::current());
    info->portNumber = portNumber;
    info->rule = codeOf(resolution.rule, kRuleCodes);
    info->state = network ? VELLPORT_STATE_NETWORK : codeOf(description.state, kStateCodes);
    info->portName = copyText("COM" + std::to_string(portNumber));
    info->devicePath = copyText(resolution.target);
    info->mapFile = copyKnownText(resolution.mapFile);
    info->realPath = copyKnownText(description.realPath);
    fillDetails(info->details, description.details);
    return info.release();
}

void freePortInfo(VellPortInfo* info) {
    if (info == nullptr) {
        return;
    }
    for (const char* text : {info->portName, info->devicePath, info->mapFile, info->realPath}) {
        freeText(text);
    }
    freeDetails(info->details);
    std::free(info);
}

VellPortDevice** newDeviceList(const std::vector<FoundDevice>& found) {
    Owned<VellPortDevice*> devices(newZeroed<VellPortDevice*>(found.size() + 1), freeDeviceList);
    for (std::size_t i = 0; i < found.size(); ++i) {
        devices.get()[i] = newDevice(found[i]);
    }
    return devices.release();
}

void freeDeviceList(VellPortDevice** list) {
    if (list == nullptr) {
        return;
    }
    for (VellPortDevice** device = list; *device != nullptr; ++device) {
        freeDevice(*device);
    }
    std::free(list);
}

int fixCode(PermissionFix fix) {
    return codeOf(fix, std::array<int, 4>{VELLPORT_FIX_JOIN_GROUP, VELLPORT_FIX_LOG_IN_AGAIN,
                                          VELLPORT_FIX_UDEV_RULE, VELLPORT_FIX_SYSTEM});
}

} // namespace portlink
