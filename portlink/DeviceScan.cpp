#include "DeviceScan.h"

#include "common/RegularFile.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace portlink {
namespace {

namespace fs = std::filesystem;

// A tty that sysfs knows with a device behind it, and the node that stands for it.
struct TtyEntry {
    std::string name;
    fs::path entry;
    std::string nodeRealPath;
};

struct ByIdLink {
    std::string path;
    std::string realPath;
};

// What one scan of sysfs and the by-id folder found, so a listing reads them once.
struct SystemView {
    std::vector<TtyEntry> ttys;
    std::vector<ByIdLink> byIdLinks;
};

std::string canonicalOrEmpty(const fs::path& path) {
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? std::string() : resolved.string();
}

// A sysfs attribute is one short line; a page is all the kernel gives of one.
constexpr std::size_t kLargestAttribute = 4096;

// The first line of an attribute; a missing one, or anything that is not a small regular file (a FIFO or a
// device link in a fake tree), reads as empty.
std::string readAttribute(const fs::path& file) {
    const common::FileBytes read = common::readRegularFile(file.string(), kLargestAttribute);
    if (read.outcome != common::FileBytes::Outcome::Read) {
        return {};
    }
    const std::string_view text = read.bytes;
    return std::string(common::trimEnd(text.substr(0, text.find('\n')), " \r"));
}

int readHexId(const fs::path& file) {
    const std::string text = readAttribute(file);
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return -1;
    }
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 16));
}

std::vector<fs::path> sortedEntries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

SystemView scanSystem(const SystemRoots& roots) {
    SystemView view;
    for (const fs::path& entry : sortedEntries(fs::path(roots.sysfs) / "class" / "tty")) {
        std::error_code error;
        // Virtual consoles and pseudo-terminals have no device link; serial ports do.
        if (!fs::is_symlink(entry / "device", error)) {
            continue;
        }
        const std::string name = entry.filename().string();
        view.ttys.push_back({name, entry, canonicalOrEmpty(fs::path(roots.dev) / name)});
    }
    for (const fs::path& link : sortedEntries(fs::path(roots.dev) / "serial" / "by-id")) {
        view.byIdLinks.push_back({link.string(), canonicalOrEmpty(link)});
    }
    return view;
}

void readSysfsDetails(const TtyEntry& tty, const SystemRoots& roots, DeviceDetails& details) {
    details.kernelName = tty.name;
    const fs::path device = tty.entry / "device";
    // Serial core (Linux 6.3 on) puts its own port and controller devices between the tty and the UART; the
    // driver worth naming is the UART's.
    fs::path driverDevice = canonicalOrEmpty(device);
    while (!driverDevice.empty() && driverDevice != driverDevice.root_path() &&
           fs::path(canonicalOrEmpty(driverDevice / "subsystem")).filename() == "serial-base") {
        driverDevice = driverDevice.parent_path();
    }
    details.driver = fs::path(canonicalOrEmpty(driverDevice / "driver")).filename().string();
    // The USB device is an ancestor of the serial port's own device (interface, then device).
    const fs::path sysfsRoot = canonicalOrEmpty(roots.sysfs);
    for (fs::path folder = canonicalOrEmpty(device);
         !folder.empty() && folder != sysfsRoot && folder != folder.root_path();
         folder = folder.parent_path()) {
        std::error_code error;
        if (fs::exists(folder / "idVendor", error)) {
            details.isUsb = true;
            details.vendorId = readHexId(folder / "idVendor");
            details.productId = readHexId(folder / "idProduct");
            details.manufacturer = readAttribute(folder / "manufacturer");
            details.product = readAttribute(folder / "product");
            details.serialNumber = readAttribute(folder / "serial");
            break;
        }
    }
}

PathDescription describeIn(const std::string& path, const SystemView& view, const SystemRoots& roots) {
    PathDescription description;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return description; // missing, a dangling link included
    }
    description.realPath = canonicalOrEmpty(path);
    if (!S_ISCHR(status.st_mode)) {
        description.state = DeviceState::NotDevice;
        return description;
    }
    description.state = DeviceState::Present;
    for (const TtyEntry& tty : view.ttys) {
        if (tty.nodeRealPath == description.realPath) {
            readSysfsDetails(tty, roots, description.details);
            // Serial core reports type 0 for a port that has no UART behind it.
            if (readAttribute(tty.entry / "type") == "0") {
                description.state = DeviceState::NoHardware;
            }
            break;
        }
    }
    // Sending opens for writing alone, so that is the right asked about; the effective ids are the ones
    // open() checks. An access check, never an open: describing must not touch the device.
    if (description.state == DeviceState::Present &&
        ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM)) {
        description.state = DeviceState::NoPermission;
    }
    for (const ByIdLink& link : view.byIdLinks) {
        if (link.realPath == description.realPath) {
            description.details.byIdPath = link.path;
            break;
        }
    }
    return description;
}

} // namespace

SystemRoots SystemRoots::current() {
    SystemRoots roots;
    if (const char* sysfs = std::getenv("VELLPORT_SYSFS_ROOT"); sysfs != nullptr && *sysfs != '\0') {
        roots.sysfs = sysfs;
    }
    if (const char* dev = std::getenv("VELLPORT_DEV_ROOT"); dev != nullptr && *dev != '\0') {
        roots.dev = dev;
    }
    return roots;
}

PathDescription describePath(const std::string& path, const SystemRoots& roots) {
    return describeIn(path, scanSystem(roots), roots);
}

int countUsbAdapters(const SystemRoots& roots) {
    const SystemView view = scanSystem(roots);
    return static_cast<int>(std::count_if(view.ttys.begin(), view.ttys.end(), [&](const TtyEntry& tty) {
        DeviceDetails details;
        readSysfsDetails(tty, roots, details);
        return details.isUsb;
    }));
}

std::vector<FoundDevice> listDevices(const SystemRoots& roots,
                                     const std::function<Resolution(int portNumber)>& resolve) {
    const SystemView view = scanSystem(roots);
    std::map<std::string, FoundDevice> found;
    const auto addIfPresent = [&](const std::string& path) -> FoundDevice* {
        PathDescription description = describeIn(path, view, roots);
        // A device the user may not open is still there: the list is of what the system has.
        if (description.state != DeviceState::Present && description.state != DeviceState::NoPermission) {
            return nullptr;
        }
        FoundDevice& device = found[description.realPath];
        device.path = description.realPath;
        device.details = std::move(description.details);
        return &device;
    };
    for (const TtyEntry& tty : view.ttys) {
        addIfPresent((fs::path(roots.dev) / tty.name).string());
    }
    for (const ByIdLink& link : view.byIdLinks) {
        if (!link.realPath.empty() && found.count(link.realPath) == 0) {
            addIfPresent(link.path);
        }
    }
    for (int portNumber = kFirstPort; portNumber <= kLastPort; ++portNumber) {
        const Resolution resolution = resolve(portNumber);
        const std::string realPath = canonicalOrEmpty(resolution.target);
        if (realPath.empty()) {
            continue;
        }
        if (const auto known = found.find(realPath); known != found.end()) {
            known->second.portNumbers.push_back(portNumber);
        } else if (resolution.rule != PortRule::Fixed) {
            // A mapped pseudo-terminal or udev name is a device of its own when nothing else listed it.
            if (FoundDevice* device = addIfPresent(resolution.target)) {
                device->portNumbers.push_back(portNumber);
            }
        }
    }
    std::vector<FoundDevice> devices;
    devices.reserve(found.size());
    for (auto& [path, device] : found) {
        devices.push_back(std::move(device));
    }
    return devices;
}

} // namespace portlink
