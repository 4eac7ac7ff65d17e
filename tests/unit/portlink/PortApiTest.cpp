// The C interface's argument checks and refusals: each returns its code and writes exactly one stderr line.
#include "Child.h"
#include "FakeSerialSystem.h"
#include "Files.h"
#include "PortMap.h"
#include "StderrCapture.h"
#include "TempDir.h"
#include "VellPortDll.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <stdlib.h>
#include <sys/stat.h>

namespace {

const unsigned char kOnCommand[] = {0x1B, 0x27, 0x0A, 0x01};

// Runs a call, returning its result and checking it wrote exactly one stderr line holding every expected
// part, and that with the lines switched off it writes none and gives the same result and reason.
template <typename Call>
int expectOneErrorLine(Call call, std::initializer_list<std::string> parts) {
    StderrCapture capture;
    const int result = call();
    const std::string reason = VellPortLastError();
    VellPortSetErrorLines(0);
    EXPECT_EQ(call(), result);
    EXPECT_EQ(VellPortLastError(), reason);
    VellPortSetErrorLines(1);
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    EXPECT_EQ(lines.size(), 1u);
    if (!lines.empty()) {
        EXPECT_EQ(lines.front(), "VellPortDll: " + reason);
        for (const std::string& part : parts) {
            EXPECT_NE(lines.front().find(part), std::string::npos)
                << "missing \"" << part << "\" in " << lines.front();
        }
    }
    return result;
}

struct RefusedName {
    const char* label;
    const char* name;
};

class RefusedNames : public testing::TestWithParam<RefusedName> {};

TEST_P(RefusedNames, AreUnknownNamesForEveryCall) {
    const char* name = GetParam().name;
    EXPECT_EQ(
        expectOneErrorLine([&] { return SendData(name, kOnCommand, 4); }, {"SendData(", "not a port name"}),
        VELLPORT_ERR_NAME);
    EXPECT_EQ(expectOneErrorLine([&] { return SetComParam(name, 9600, 8, 'N', 1, 0); },
                                 {"SetComParam(", "not a port name"}),
              VELLPORT_ERR_NAME);
    VellPortInfo* info = reinterpret_cast<VellPortInfo*>(&info); // must be cleared on failure
    EXPECT_EQ(expectOneErrorLine([&] { return VellPortDescribe(name, &info); },
                                 {"VellPortDescribe(", "not a port name"}),
              VELLPORT_ERR_NAME);
    EXPECT_EQ(info, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedNames,
                         testing::Values(RefusedName{"COM0", "COM0"}, RefusedName{"COM256", "COM256"},
                                         RefusedName{"COM01", "COM01"}, RefusedName{"dot_dot", "COM1/../x"},
                                         RefusedName{"device_path", "/dev/ttyS0"}, RefusedName{"empty", ""},
                                         RefusedName{"null", nullptr},
                                         RefusedName{"namespace_alone", "\\\\.\\"}),
                         [](const auto& info) { return std::string(info.param.label); });

struct BadParams {
    const char* label;
    int baudRate;
    int dataBits;
    char parity;
    int stopBits;
    int flowControl;
    const char* reasonPart;
};

class RefusedParams : public testing::TestWithParam<BadParams> {};

TEST_P(RefusedParams, AreBadArguments) {
    const BadParams& p = GetParam();
    EXPECT_EQ(
        expectOneErrorLine(
            [&] { return SetComParam("COM2", p.baudRate, p.dataBits, p.parity, p.stopBits, p.flowControl); },
            {"SetComParam(\"COM2\")", "/dev/ttyS1", p.reasonPart}),
        VELLPORT_ERR_ARG);
}

INSTANTIATE_TEST_SUITE_P(Values, RefusedParams,
                         testing::Values(BadParams{"rate_zero", 0, 8, 'N', 1, 0, "baud rate"},
                                         BadParams{"data_bits_9", 9600, 9, 'N', 1, 0, "data bits"},
                                         BadParams{"parity_Q", 9600, 8, 'Q', 1, 0, "parity"},
                                         BadParams{"stop_bits_3", 9600, 8, 'N', 3, 0, "stop bits"},
                                         BadParams{"flow_5", 9600, 8, 'N', 1, 5, "flow control"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(SetComParam, AcceptsBothNameFormsSilently) {
    StderrCapture capture;
    EXPECT_EQ(SetComParam("COM3", 115200, 8, 'N', 1, 0), VELLPORT_OK);
    EXPECT_EQ(SetComParam("\\\\.\\com30", 2400, 7, 'e', 2, 1), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
}

TEST(SendData, NegativeCountAndNullDataAreBadArguments) {
    EXPECT_EQ(expectOneErrorLine([] { return SendData("COM1", kOnCommand, -1); },
                                 {"SendData(\"COM1\")", "negative"}),
              VELLPORT_ERR_ARG);
    EXPECT_EQ(
        expectOneErrorLine([] { return SendData("COM1", nullptr, 4); }, {"SendData(\"COM1\")", "null data"}),
        VELLPORT_ERR_ARG);
}

TEST(SendData, ZeroBytesSucceedWithoutOpening) {
    const PortMap ports(40, "/nonexistent/device");
    StderrCapture capture;
    EXPECT_EQ(SendData("COM40", nullptr, 0), VELLPORT_OK);
    EXPECT_EQ(SendData("COM40", kOnCommand, 0), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
}

TEST(SendData, MissingDeviceNamesItsPath) {
    const PortMap ports(41, "/nonexistent/ttyUSB9");
    EXPECT_EQ(expectOneErrorLine([] { return SendData("\\\\.\\COM41", kOnCommand, 4); },
                                 {"SendData(\"\\\\.\\COM41\")", "/nonexistent/ttyUSB9", "no such device"}),
              VELLPORT_ERR_NO_DEVICE);
}

TEST(SendData, MappedRegularFileIsRefusedAndKept) {
    const TempDir dir;
    const std::string file = dir.file("Option.ini");
    WriteBytes(file, "[COMM]\n");
    const PortMap ports(42, file);
    EXPECT_EQ(expectOneErrorLine([] { return SendData("COM42", kOnCommand, 4); },
                                 {"SendData(\"COM42\")", file, "not a character device"}),
              VELLPORT_ERR_NO_DEVICE);
    EXPECT_EQ(std::filesystem::file_size(file), 7u);
}

// Sets environment variables for one test and puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }
    void set(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(GetUSBPort, CountsTheUsbAdaptersOfTheScannedSystemAndClearsTheLastFailure) {
    FakeSerialSystem system;
    system.addUsbAdapter("ttyACM0", "1-3");
    ScopedEnvironment environment;
    environment.set("VELLPORT_SYSFS_ROOT", system.sysfs());
    environment.set("VELLPORT_DEV_ROOT", system.dev());
    VellPortSetErrorLines(0);
    EXPECT_EQ(SendData("COM0", kOnCommand, 4), VELLPORT_ERR_NAME);
    VellPortSetErrorLines(1);
    StderrCapture capture;
    EXPECT_EQ(GetUSBPort(), 2); // ttyUSB0 and ttyACM0; the built-in ttyS0 and ttyS1 and the console are not
    EXPECT_EQ(capture.finish(), "");
    EXPECT_STREQ(VellPortLastError(), "");
}

std::string textOrEmpty(const char* text) {
    return text ? text : "";
}

enum class Target { Terminal, ByIdName, Missing, RegularFile, Endpoint, None };

// How a port is mapped for one row, and what its description must say.
struct DescribeCase {
    const char* label;
    const char* port;
    const char* environmentVariable; // null: mapped through the user map file, or not at all
    Target target;
    int rule;
    int state;
};

void PrintTo(const DescribeCase& row, std::ostream* out) {
    *out << row.label;
}

class Describe : public testing::TestWithParam<DescribeCase> {};

TEST_P(Describe, TellsThePathTheRuleAndTheState) {
    FakeSerialSystem system;
    ScopedEnvironment environment;
    environment.set("VELLPORT_SYSFS_ROOT", system.sysfs());
    environment.set("VELLPORT_DEV_ROOT", system.dev());
    environment.set("XDG_CONFIG_HOME", system.root() + "/config");
    const DescribeCase& row = GetParam();
    const std::string terminal = system.openTerminal();
    std::string target;
    switch (row.target) {
    case Target::Terminal:
        target = terminal;
        break;
    case Target::ByIdName:
        target = system.byIdPath();
        break;
    case Target::Missing:
        target = system.node("ttyUSB7");
        break;
    case Target::RegularFile:
        target = system.root() + "/Option.ini";
        WriteBytes(target, "[COMM]\n");
        break;
    case Target::Endpoint:
        target = "rfc2217://counter-pi.invalid:2001"; // never looked up
        break;
    case Target::None:
        target = "/dev/ttyS254"; // the fixed rule for COM255
        break;
    }
    const std::string mapFile = system.root() + "/config/VellPortDll/ports.conf";
    const std::string portName = std::string(row.port).substr(std::string(row.port).find("COM"));
    if (row.environmentVariable != nullptr) {
        environment.set(row.environmentVariable, target);
    } else if (row.target != Target::None) {
        std::filesystem::create_directories(system.root() + "/config/VellPortDll");
        WriteBytes(mapFile, "# adapters\n" + portName + " = " + target + "\n");
    }

    StderrCapture capture;
    VellPortInfo* info = nullptr;
    ASSERT_EQ(VellPortDescribe(row.port, &info), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(textOrEmpty(info->portName), portName);
    EXPECT_EQ(textOrEmpty(info->devicePath), target);
    EXPECT_EQ(info->rule, row.rule);
    EXPECT_EQ(textOrEmpty(info->mapFile), row.rule == VELLPORT_RULE_USER_MAP ? mapFile : "");
    EXPECT_EQ(info->state, row.state);
    const bool exists = row.state != VELLPORT_STATE_MISSING && row.state != VELLPORT_STATE_NETWORK;
    EXPECT_EQ(textOrEmpty(info->realPath), exists ? system.realPath(target) : "");
    const bool usb = row.target == Target::ByIdName;
    EXPECT_EQ(info->details.isUsb, usb ? 1 : 0);
    EXPECT_EQ(textOrEmpty(info->details.byIdPath), usb ? system.byIdPath() : "");
    EXPECT_EQ(textOrEmpty(info->details.kernelName), usb ? "ttyUSB0" : "");
    EXPECT_EQ(textOrEmpty(info->details.manufacturer), usb ? "FTDI" : "");
    EXPECT_EQ(info->details.vendorId, usb ? 0x0403 : -1);
    EXPECT_EQ(info->details.serialNumber == nullptr, !usb);
    VellPortFreeInfo(info);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, Describe,
    testing::Values(DescribeCase{"environment_mapped_terminal", "COM43", "VELLPORT_COM43", Target::Terminal,
                                 VELLPORT_RULE_ENVIRONMENT, VELLPORT_STATE_PRESENT},
                    DescribeCase{"user_mapped_usb_adapter_in_namespace_form", "\\\\.\\COM44", nullptr,
                                 Target::ByIdName, VELLPORT_RULE_USER_MAP, VELLPORT_STATE_PRESENT},
                    DescribeCase{"user_mapped_missing_device", "COM45", nullptr, Target::Missing,
                                 VELLPORT_RULE_USER_MAP, VELLPORT_STATE_MISSING},
                    DescribeCase{"user_mapped_network_endpoint", "COM47", nullptr, Target::Endpoint,
                                 VELLPORT_RULE_USER_MAP, VELLPORT_STATE_NETWORK},
                    DescribeCase{"environment_mapped_regular_file", "COM46", "VELLPORT_COM46",
                                 Target::RegularFile, VELLPORT_RULE_ENVIRONMENT, VELLPORT_STATE_NOT_DEVICE},
                    DescribeCase{"fixed_rule", "COM255", nullptr, Target::None, VELLPORT_RULE_DEFAULT,
                                 VELLPORT_STATE_MISSING}),
    [](const auto& info) { return std::string(info.param.label); });

enum class MapFile { Regular, Missing, Fifo, TerminalLink, Directory, Unreadable, Huge, NotUtf8, OwnLineBad };

// What the user's map file is for one row, and what a send and a description of COM250 make of it.
struct MapFileCase {
    const char* label;
    MapFile map;
    bool asNobody;
    const char* deviceGroup; // the mapped terminal's group and mode; null leaves them as they are
    mode_t deviceMode;
    int result;                  // SendData's
    int state;                   // VellPortDescribe's; 0: it refuses the name, as SendData does
    const char* linePart;        // in the map file's warning, or in the failure line of a device row
    int fix = VELLPORT_FIX_NONE; // VellPortExplainPermission's for the device of a device row
};

void PrintTo(const MapFileCase& row, std::ostream* out) {
    *out << row.label;
}

class MapFileState : public testing::TestWithParam<MapFileCase> {};

TEST_P(MapFileState, EndsInTheDocumentedResultWithinTheBound) {
    const MapFileCase& row = GetParam();
    if (row.asNobody && !CanBecomeNobody()) {
        GTEST_SKIP() << "needs root to drop to the user nobody";
    }
    FakeSerialSystem system;
    std::filesystem::permissions(system.root(),
                                 std::filesystem::perms::all ^ std::filesystem::perms::others_write);
    ScopedEnvironment environment;
    environment.set("VELLPORT_SYSFS_ROOT", system.sysfs());
    environment.set("VELLPORT_DEV_ROOT", system.dev());
    environment.set("XDG_CONFIG_HOME", system.root() + "/config");
    const std::string mapFile = system.root() + "/config/VellPortDll/ports.conf";
    std::filesystem::create_directories(system.root() + "/config/VellPortDll");
    const std::string terminal = system.openTerminal();
    if (row.deviceGroup != nullptr) {
        const group* deviceGroup = ::getgrnam(row.deviceGroup);
        ASSERT_NE(deviceGroup, nullptr) << "no group " << row.deviceGroup;
        ASSERT_EQ(::chown(terminal.c_str(), 0, deviceGroup->gr_gid), 0);
        ASSERT_EQ(::chmod(terminal.c_str(), row.deviceMode), 0);
    }
    const bool mapped = row.map == MapFile::Regular || row.map == MapFile::NotUtf8;
    std::string target = terminal;
    switch (row.map) {
    case MapFile::Regular:
    case MapFile::Unreadable:
        WriteBytes(mapFile, "COM250=" + terminal + "\n");
        ::chmod(mapFile.c_str(), row.map == MapFile::Unreadable ? 0600 : 0644);
        break;
    case MapFile::Missing:
        break;
    case MapFile::Fifo:
        ASSERT_EQ(::mkfifo(mapFile.c_str(), 0644), 0);
        break;
    case MapFile::TerminalLink:
        std::filesystem::create_symlink(terminal, mapFile);
        break;
    case MapFile::Directory:
        std::filesystem::create_directory(mapFile);
        break;
    case MapFile::Huge:
        WriteBytes(mapFile, "COM250=" + terminal + "\n#" + std::string(std::size_t{1024} * 1024, ' ') + "\n");
        break;
    case MapFile::OwnLineBad:
        WriteBytes(mapFile, "COM250=tcp://box:2002 # lobby\n");
        break;
    case MapFile::NotUtf8:
        target = system.root() + "/caf\xE9-\xFF";
        std::filesystem::create_symlink(terminal, target);
        WriteBytes(mapFile, "# caf\xE9\nCOM250=" + target + "\n");
        break;
    }
    const bool ownLineBad = row.map == MapFile::OwnLineBad;
    const std::string devicePath = mapped ? target : ownLineBad ? mapFile + ":1" : "/dev/ttyS249";
    const int rule = mapped ? VELLPORT_RULE_USER_MAP : VELLPORT_RULE_DEFAULT;
    // Twice the documented bound of a 4-byte send at 9600 8N1: a guard against a hang, not a measurement.
    const auto bound =
        std::chrono::milliseconds(500) + 2 * std::chrono::microseconds(4 * 10 * 1000000 / 9600);

    StderrCapture capture;
    const ChildResult run = RunInChild(
        [&] {
            if (row.asNobody && !BecomeNobody()) {
                return 100;
            }
            const int result = SendData("COM250", kOnCommand, 4);
            const int delivery = VellPortLastDelivery();
            VellPortInfo* info = nullptr;
            const int describeResult = VellPortDescribe("COM250", &info);
            const bool described =
                row.state == 0
                    ? describeResult == VELLPORT_ERR_NAME && info == nullptr &&
                          std::string(VellPortLastError()).find(devicePath) != std::string::npos
                    : describeResult == VELLPORT_OK && textOrEmpty(info->devicePath) == devicePath &&
                          info->rule == rule && info->state == row.state;
            VellPortFreeInfo(info);
            const char* group = nullptr;
            if (row.deviceGroup != nullptr &&
                (VellPortExplainPermission(terminal.c_str(), &group) != row.fix ||
                 textOrEmpty(group) != (row.fix == VELLPORT_FIX_JOIN_GROUP ? row.deviceGroup : ""))) {
                return 103;
            }
            // A drained device confirms the bytes; a failure, and a call that is no send, tell nothing.
            if (delivery != (result == VELLPORT_OK ? VELLPORT_DELIVERY_CONFIRMED : VELLPORT_DELIVERY_NONE) ||
                VellPortLastDelivery() != VELLPORT_DELIVERY_NONE) {
                return 102;
            }
            return described ? -result : 101;
        },
        std::chrono::ceil<std::chrono::milliseconds>(2 * bound));
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    ASSERT_FALSE(run.timedOut) << "still busy after twice the documented bound";
    ASSERT_TRUE(run.exitCode.has_value());
    EXPECT_NE(*run.exitCode, 101) << "VellPortDescribe gave another path, rule or state";
    EXPECT_NE(*run.exitCode, 102) << "VellPortLastDelivery is not what the send and the describe tell";
    EXPECT_NE(*run.exitCode, 103) << "VellPortExplainPermission names another fix than the send";
    EXPECT_EQ(-*run.exitCode, row.result);
    const bool warned = !mapped && row.map != MapFile::Missing && !ownLineBad;
    ASSERT_EQ(lines.size(),
              (warned ? 1u : 0u) + (row.result != VELLPORT_OK ? 1u : 0u) + (ownLineBad ? 1u : 0u));
    if (warned) {
        EXPECT_NE(lines.front().find(mapFile + ": skipped, " + row.linePart), std::string::npos)
            << lines.front();
    }
    if (row.result != VELLPORT_OK) {
        const std::string& sendLine = lines[warned ? 1 : 0];
        EXPECT_NE(sendLine.find("SendData(\"COM250\"): " + devicePath + ": "), std::string::npos) << sendLine;
        EXPECT_NE(sendLine.find(warned || row.linePart == nullptr ? "" : row.linePart), std::string::npos)
            << sendLine;
    }
    if (row.deviceGroup != nullptr) {
        char facts[64];
        std::snprintf(facts, sizeof facts, "(device root:%s %04o; user nobody in group ", row.deviceGroup,
                      static_cast<unsigned>(row.deviceMode));
        EXPECT_NE(lines.back().find(facts), std::string::npos) << lines.back();
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, MapFileState,
    testing::Values(
        MapFileCase{"regular_file_maps_the_port", MapFile::Regular, false, nullptr, 0, VELLPORT_OK,
                    VELLPORT_STATE_PRESENT, nullptr},
        MapFileCase{"missing_file_leaves_the_fixed_rule_silently", MapFile::Missing, false, nullptr, 0,
                    VELLPORT_ERR_NO_DEVICE, VELLPORT_STATE_MISSING, nullptr},
        MapFileCase{"fifo_is_skipped_without_blocking", MapFile::Fifo, false, nullptr, 0,
                    VELLPORT_ERR_NO_DEVICE, VELLPORT_STATE_MISSING, "a FIFO, not a regular file"},
        MapFileCase{"link_to_a_terminal_is_skipped_unopened", MapFile::TerminalLink, false, nullptr, 0,
                    VELLPORT_ERR_NO_DEVICE, VELLPORT_STATE_MISSING, "a character device, not a regular file"},
        MapFileCase{"directory_is_skipped", MapFile::Directory, false, nullptr, 0, VELLPORT_ERR_NO_DEVICE,
                    VELLPORT_STATE_MISSING, "a directory, not a regular file"},
        MapFileCase{"unreadable_file_is_skipped", MapFile::Unreadable, true, nullptr, 0,
                    VELLPORT_ERR_NO_DEVICE, VELLPORT_STATE_MISSING, "cannot be read: Permission denied"},
        MapFileCase{"file_over_a_mebibyte_is_skipped", MapFile::Huge, false, nullptr, 0,
                    VELLPORT_ERR_NO_DEVICE, VELLPORT_STATE_MISSING, "larger than 1048576 bytes"},
        MapFileCase{"own_line_not_valid_leads_nowhere", MapFile::OwnLineBad, false, nullptr, 0,
                    VELLPORT_ERR_NAME, 0,
                    "not a valid map line, so the name leads nowhere (text after the URL"},
        MapFileCase{"path_not_utf8_is_used_byte_for_byte", MapFile::NotUtf8, false, nullptr, 0, VELLPORT_OK,
                    VELLPORT_STATE_PRESENT, nullptr},
        MapFileCase{"device_root_0600_needs_a_udev_rule", MapFile::Regular, true, "root", 0600,
                    VELLPORT_ERR_PERMISSION, VELLPORT_STATE_NO_PERMISSION,
                    "the device needs a udev rule giving it group dialout and mode 0660, as in "
                    "/usr/share/doc/vellsetting/vellsetting-udev.rules.example",
                    VELLPORT_FIX_UDEV_RULE},
        MapFileCase{"device_of_a_group_names_the_group", MapFile::Regular, true, "dialout", 0660,
                    VELLPORT_ERR_PERMISSION, VELLPORT_STATE_NO_PERMISSION,
                    "join group dialout (sudo usermod -aG dialout nobody) and log in again",
                    VELLPORT_FIX_JOIN_GROUP}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Describe, NullResultPointerIsABadArgument) {
    EXPECT_EQ(expectOneErrorLine([] { return VellPortDescribe("COM1", nullptr); },
                                 {"VellPortDescribe(\"COM1\")", "null"}),
              VELLPORT_ERR_ARG);
    EXPECT_EQ(
        expectOneErrorLine([] { return VellPortListDevices(nullptr); }, {"VellPortListDevices(", "null"}),
        VELLPORT_ERR_ARG);
    VellPortFreeInfo(nullptr);
    VellPortFreeDeviceList(nullptr);
}

TEST(ListDevices, AByIdNameAndItsNodeAreOneDeviceWithBothNames) {
    FakeSerialSystem system;
    ScopedEnvironment environment;
    environment.set("VELLPORT_SYSFS_ROOT", system.sysfs());
    environment.set("VELLPORT_DEV_ROOT", system.dev());
    environment.set("VELLPORT_COM48", system.node("ttyUSB0"));
    environment.set("VELLPORT_COM47", system.byIdPath());
    StderrCapture capture;
    VellPortDevice** list = nullptr;
    ASSERT_EQ(VellPortListDevices(&list), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
    ASSERT_NE(list, nullptr);
    std::vector<std::string> shown;
    for (VellPortDevice** device = list; *device != nullptr; ++device) {
        std::string line = std::string((*device)->path) + ":";
        for (int i = 0; i < (*device)->portCount; ++i) {
            line += std::string(" ") + (*device)->portNames[i];
        }
        EXPECT_EQ((*device)->portNames[(*device)->portCount], nullptr);
        shown.push_back(line + " " + textOrEmpty((*device)->details.byIdPath));
    }
    VellPortFreeDeviceList(list);
    // The fake onboard UART has no name leading to it: COM2's fixed path is the real /dev/ttyS1.
    std::vector<std::string> expected{system.realPath(system.node("ttyS1")) + ": ",
                                      system.realPath(system.node("ttyUSB0")) + ": COM47 COM48 " +
                                          system.byIdPath()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
}

} // namespace
