// What the system tells about serial devices, from the file system and sysfs alone: no device is ever opened.
#pragma once

#include "PortMapping.h"
#include "PortName.h"

#include <functional>
#include <string>
#include <vector>

namespace portlink {

// The folders that stand for /sys and /dev; tests point them at a fake system in a temporary folder.
struct SystemRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";

    // The defaults, moved by VELLPORT_SYSFS_ROOT and VELLPORT_DEV_ROOT when they are set and not empty.
    static SystemRoots current();
};

// Empty text and -1 stand for "not known".
struct DeviceDetails {
    std::string kernelName;
    std::string driver;
    bool isUsb = false;
    int vendorId = -1;
    int productId = -1;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string byIdPath;
};

// NoPermission: present, but the calling user may not open it for writing.
enum class DeviceState { Present, Missing, NotDevice, NoHardware, NoPermission };

struct PathDescription {
    DeviceState state = DeviceState::Missing;
    std::string realPath; // empty when missing
    DeviceDetails details;
};

// What is at path now, and what sysfs and the by-id folder say of it.
PathDescription describePath(const std::string& path, const SystemRoots& roots);

struct FoundDevice {
    std::string path; // symbolic links resolved
    DeviceDetails details;
    std::vector<int> portNumbers; // ascending
};

// The serial devices present, sorted by path, each with the port numbers whose resolution leads to it.
// Paths that resolve() gives by a map or the environment count as devices when a character device is there.
std::vector<FoundDevice> listDevices(const SystemRoots& roots,
                                     const std::function<Resolution(int portNumber)>& resolve);

// The serial ports sysfs lists below a USB device: the USB serial adapters plugged in.
int countUsbAdapters(const SystemRoots& roots);

} // namespace portlink
