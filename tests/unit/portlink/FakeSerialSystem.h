// A fake /sys and /dev in a temporary folder: a USB adapter (ttyUSB0 with a by-id name), a serial port with
// no UART behind it (ttyS0), an onboard UART (ttyS1) and a virtual console, their nodes real pseudo-terminals
// so they are character devices that no test can mistake for hardware.
#pragma once

#include "Files.h"
#include "TempDir.h"

#include <filesystem>
#include <pty.h>
#include <stdlib.h>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

class FakeSerialSystem {
public:
    static constexpr const char* kByIdName = "usb-FTDI_FT232R_USB_UART_A12345-if00-port0";

    FakeSerialSystem() {
        namespace fs = std::filesystem;
        const fs::path sys = sysfs();
        // ttyS1's UART sits below serial core's controller and port devices, as from Linux 6.3.
        const fs::path uart = sys / "devices/pnp0/00:01";
        fs::create_directories(uart / "00:01:0/00:01:0.0");
        for (const char* driver :
             {"pnp/drivers/serial", "serial-base/drivers/ctrl", "serial-base/drivers/port"}) {
            fs::create_directories(sys / "bus" / driver);
        }
        fs::create_directory_symlink(sys / "bus/pnp", uart / "subsystem");
        fs::create_directory_symlink(sys / "bus/pnp/drivers/serial", uart / "driver");
        for (const auto& [device, driver] :
             {std::pair{"00:01:0", "ctrl"}, std::pair{"00:01:0/00:01:0.0", "port"}}) {
            fs::create_directory_symlink(sys / "bus/serial-base", uart / device / "subsystem");
            fs::create_directory_symlink(sys / "bus/serial-base/drivers" / driver, uart / device / "driver");
        }
        fs::create_directories(sys / "devices/platform/serial8250/ttyS0");
        for (const auto& [name, device, type] :
             {std::tuple{"ttyS0", sys / "devices/platform/serial8250/ttyS0", "0"},
              std::tuple{"ttyS1", uart / "00:01:0/00:01:0.0", "4"}}) {
            fs::create_directories(sys / "class/tty" / name);
            fs::create_directory_symlink(device, sys / "class/tty" / name / "device");
            write(sys / "class/tty" / name / "type", std::string(type) + "\n");
        }
        fs::create_directories(sys / "class/tty/tty1");

        const fs::path devRoot = dev();
        fs::create_directories(devRoot / "serial/by-id");
        addUsbAdapter("ttyUSB0", "1-2");
        for (const char* name : {"ttyS0", "ttyS1", "tty1"}) {
            fs::create_symlink(openTerminal(), devRoot / name);
        }
        fs::create_symlink("../../ttyUSB0", byIdPath());
        fs::create_symlink("../../ttyUSB9", devRoot / "serial/by-id/usb-unplugged-if00-port0");
    }
    FakeSerialSystem(const FakeSerialSystem&) = delete;
    FakeSerialSystem& operator=(const FakeSerialSystem&) = delete;
    ~FakeSerialSystem() {
        for (int terminal : m_terminals) {
            ::close(terminal);
        }
    }

    // A USB serial adapter on USB port usbPort ("1-2"), sysfs naming it name, its node a pseudo-terminal.
    void addUsbAdapter(const std::string& name, const std::string& usbPort) {
        namespace fs = std::filesystem;
        const fs::path sys = sysfs();
        const fs::path usbDevice = sys / "devices/pci0000:00/0000:00:14.0/usb1" / usbPort;
        const fs::path port = usbDevice / (usbPort + ":1.0") / name;
        fs::create_directories(port / "tty" / name);
        for (const auto& [attribute, value] :
             {std::pair{"idVendor", "0403"}, std::pair{"idProduct", "6001"},
              std::pair{"manufacturer", "FTDI"}, std::pair{"product", "FT232R USB UART"},
              std::pair{"serial", "A12345"}}) {
            write(usbDevice / attribute, std::string(value) + "\n");
        }
        fs::create_directories(sys / "bus/usb-serial/drivers/ftdi_sio");
        fs::create_directory_symlink(sys / "bus/usb-serial/drivers/ftdi_sio", port / "driver");
        fs::create_directory_symlink("../../../" + name, port / "tty" / name / "device");
        fs::create_directories(sys / "class/tty");
        fs::create_directory_symlink(port / "tty" / name, sys / "class/tty" / name);
        fs::create_symlink(openTerminal(), fs::path(dev()) / name);
    }

    std::string root() const { return m_root; }
    std::string sysfs() const { return m_root + "/sys"; }
    std::string dev() const { return m_root + "/dev"; }
    std::string node(const std::string& name) const { return dev() + "/" + name; }
    std::string byIdPath() const { return dev() + "/serial/by-id/" + kByIdName; }
    std::string realPath(const std::string& path) const { return std::filesystem::canonical(path).string(); }
    // A pseudo-terminal outside the fake sysfs, as devsim gives one.
    std::string openTerminal() {
        int master = -1;
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            return {};
        }
        m_terminals.push_back(master);
        m_terminals.push_back(slave);
        return name;
    }

private:
    static void write(const std::filesystem::path& file, const std::string& text) { WriteBytes(file, text); }

    const TempDir m_temp{"vellport-fakesys"};
    const std::string m_root = m_temp.path();
    std::vector<int> m_terminals;
};
