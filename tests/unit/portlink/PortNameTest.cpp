// Port name parsing, map lines and the order in which targets are resolved.
#include "PortName.h"

#include "DeviceScan.h"
#include "FakeSerialSystem.h"
#include "Files.h"
#include "PortMapping.h"
#include "TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using portlink::MapLine;

struct NameCase {
    const char* label;
    const char* name;
    int expected; // 0: refused
};

class PortNameParse : public testing::TestWithParam<NameCase> {};

TEST_P(PortNameParse, GivesThePortNumberOrRefuses) {
    const std::optional<int> number = portlink::parsePortName(GetParam().name);
    EXPECT_EQ(number.value_or(0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameParse,
    testing::Values(NameCase{"COM1", "COM1", 1}, NameCase{"COM255", "COM255", 255},
                    NameCase{"lower_case", "com3", 3}, NameCase{"mixed_case", "cOm42", 42},
                    NameCase{"device_namespace", "\\\\.\\COM15", 15},
                    NameCase{"device_namespace_lower", "\\\\.\\com15", 15}, NameCase{"COM0", "COM0", 0},
                    NameCase{"COM256", "COM256", 0}, NameCase{"COM01_leading_zero", "COM01", 0},
                    NameCase{"COM1000", "COM1000", 0}, NameCase{"path_after_number", "COM1/../x", 0},
                    NameCase{"device_path", "/dev/ttyS0", 0}, NameCase{"empty", "", 0},
                    NameCase{"namespace_alone", "\\\\.\\", 0}, NameCase{"COM_without_number", "COM", 0},
                    NameCase{"trailing_space", "COM1 ", 0}, NameCase{"leading_space", " COM1", 0},
                    NameCase{"sign", "COM+1", 0}, NameCase{"LPT1", "LPT1", 0},
                    NameCase{"single_backslash_prefix", "\\.\\COM1", 0},
                    NameCase{"namespace_twice", "\\\\.\\\\\\.\\COM1", 0}),
    [](const auto& info) { return std::string(info.param.label); });

struct MapLineCase {
    const char* label;
    const char* line;
    MapLine::Kind kind;
    int portNumber;
    const char* target;
    const char* problem = ""; // part of a malformed line's problem
};

class MapLineParse : public testing::TestWithParam<MapLineCase> {};

TEST_P(MapLineParse, ClassifiesTheLine) {
    const MapLine parsed = portlink::parseMapLine(GetParam().line);
    EXPECT_EQ(parsed.kind, GetParam().kind);
    EXPECT_EQ(parsed.portNumber, GetParam().portNumber);
    EXPECT_EQ(parsed.target, GetParam().target);
    EXPECT_EQ(parsed.problem.empty(), parsed.kind != MapLine::Kind::Malformed);
    EXPECT_NE(parsed.problem.find(GetParam().problem), std::string::npos) << parsed.problem;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MapLineParse,
    testing::Values(MapLineCase{"entry", "COM3=/dev/ttyUSB0", MapLine::Kind::Entry, 3, "/dev/ttyUSB0"},
                    MapLineCase{"inner_blank", "COM3=/dev/a b", MapLine::Kind::Entry, 3, "/dev/a b"},
                    MapLineCase{"spaces_and_case", "  com12 = /dev/serial/by-id/usb-x \r",
                                MapLine::Kind::Entry, 12, "/dev/serial/by-id/usb-x"},
                    MapLineCase{"blank", "   ", MapLine::Kind::Skip, 0, ""},
                    MapLineCase{"comment", "# COM1=/dev/ttyS9", MapLine::Kind::Skip, 0, ""},
                    MapLineCase{"relative_path", "COM1=ttyUSB0", MapLine::Kind::Malformed, 1, "",
                                "not an absolute device path"},
                    MapLineCase{"no_equals", "COM1 /dev/ttyUSB0", MapLine::Kind::Malformed, 1, "", "no '='"},
                    MapLineCase{"empty_path", "COM1=", MapLine::Kind::Malformed, 1, "", "no target"},
                    MapLineCase{"bad_number", "COM0=/dev/ttyUSB0", MapLine::Kind::Malformed, 0, "",
                                "not COM<n>"},
                    MapLineCase{"namespace_key", "\\\\.\\COM1=/dev/ttyUSB0", MapLine::Kind::Malformed, 1, "",
                                "written COM1"},
                    MapLineCase{"url_without_port", "COM12=rfc2217://counter-pi", MapLine::Kind::Malformed,
                                12, "", "no :PORT"},
                    MapLineCase{"comment_after_url", "COM16=tcp://box:2002 # lobby", MapLine::Kind::Malformed,
                                16, "", "comment takes a line of its own"},
                    MapLineCase{"tls_url_with_name", "COM4=rfc2217+TLS://box:2001?name=host-a",
                                MapLine::Kind::Entry, 4, "rfc2217+TLS://box:2001?name=host-a"},
                    MapLineCase{"name_on_a_plain_url", "COM4=tcp://box:2002?name=a", MapLine::Kind::Malformed,
                                4, "", "either with +tls"}),
    [](const auto& info) { return std::string(info.param.label); });

class Resolution : public testing::Test {
protected:
    void SetUp() override {
        m_sources.userMapPath = m_dir.file("user.conf");
        m_sources.systemMapPath = m_dir.file("system.conf");
    }

    std::string resolve(int portNumber) {
        const auto warn = [this](const std::string& warning) { m_warnings.push_back(warning); };
        return portlink::resolvePort(portNumber, m_sources, warn).target;
    }

    TempDir m_dir;
    portlink::MapSources m_sources;
    std::vector<std::string> m_warnings;
};

TEST_F(Resolution, MissingMapFilesFallBackToTheFixedRule) {
    EXPECT_EQ(resolve(1), "/dev/ttyS0");
    EXPECT_EQ(resolve(255), "/dev/ttyS254");
    EXPECT_TRUE(m_warnings.empty());
}

TEST_F(Resolution, EnvironmentBeatsUserMapBeatsSystemMap) {
    WriteBytes(m_sources.userMapPath, "COM2=/dev/user2\nCOM3=/dev/user3\n");
    WriteBytes(m_sources.systemMapPath, "COM1=/dev/system1\nCOM2=/dev/system2\nCOM3=/dev/system3\n");
    m_sources.environmentValue = "/dev/environment";
    EXPECT_EQ(resolve(3), "/dev/environment");
    m_sources.environmentValue.clear();
    EXPECT_EQ(resolve(3), "/dev/user3");
    EXPECT_EQ(resolve(2), "/dev/user2");
    EXPECT_EQ(resolve(1), "/dev/system1");
    EXPECT_EQ(resolve(4), "/dev/ttyS3");
    EXPECT_TRUE(m_warnings.empty());
    // The rule and the file that chose each path.
    const auto ruleOf = [this](int portNumber) {
        const portlink::Resolution resolution = portlink::resolvePort(portNumber, m_sources, {});
        return std::pair{resolution.rule, resolution.mapFile};
    };
    EXPECT_EQ(ruleOf(3), std::pair(portlink::PortRule::UserMap, m_sources.userMapPath));
    EXPECT_EQ(ruleOf(1), std::pair(portlink::PortRule::SystemMap, m_sources.systemMapPath));
    EXPECT_EQ(ruleOf(4), std::pair(portlink::PortRule::Fixed, std::string()));
    m_sources.environmentValue = "/dev/environment";
    EXPECT_EQ(ruleOf(3), std::pair(portlink::PortRule::Environment, std::string()));
}

TEST_F(Resolution, FirstEntryOfAFileWins) {
    WriteBytes(m_sources.userMapPath, "COM5=/dev/first\nCOM5=/dev/second\n");
    EXPECT_EQ(resolve(5), "/dev/first");
}

TEST_F(Resolution, OwnMalformedLineLeadsNowhereOthersAreIgnoredWithOneWarningEach) {
    WriteBytes(m_sources.userMapPath,
               "# my adapters\n\nCOM 5 /dev/ttyUSB0\nCOM6=relative\nCOM5=/dev/ttyUSB1\nCOM5=tcp://x\n");
    WriteBytes(m_sources.systemMapPath, "COM6=/dev/system6\n");
    EXPECT_EQ(resolve(5), "/dev/ttyUSB1");
    ASSERT_EQ(m_warnings.size(), 3u);
    EXPECT_NE(m_warnings[0].find("user.conf:3"), std::string::npos) << m_warnings[0];
    EXPECT_NE(m_warnings[1].find("user.conf:4"), std::string::npos) << m_warnings[1];
    EXPECT_NE(m_warnings[2].find("user.conf:6"), std::string::npos) << m_warnings[2];
    // COM6's own line decides, and never the system map's entry behind it; its own line is no warning.
    m_warnings.clear();
    const portlink::Resolution six = portlink::resolvePort(
        6, m_sources, [this](const std::string& warning) { m_warnings.push_back(warning); });
    EXPECT_EQ(six.target, "");
    ASSERT_TRUE(six.invalid.has_value());
    EXPECT_EQ(six.invalid->place, m_sources.userMapPath + ":4");
    EXPECT_NE(six.invalid->reason.find("not an absolute device path"), std::string::npos);
    EXPECT_NE(six.invalid->reason.find("\"COM6=relative\""), std::string::npos) << six.invalid->reason;
    EXPECT_EQ(m_warnings.size(), 2u);
}

TEST_F(Resolution, RelativeEnvironmentValueLeadsNowhere) {
    m_sources.environmentValue = "ttyUSB0";
    WriteBytes(m_sources.systemMapPath, "COM7=/dev/system7\n");
    const portlink::Resolution seven = portlink::resolvePort(7, m_sources, {});
    EXPECT_EQ(seven.target, "");
    ASSERT_TRUE(seven.invalid.has_value());
    EXPECT_EQ(seven.invalid->place, "VELLPORT_COM7");
}

TEST(MapSources, UserMapFollowsXdgConfigHomeThenHome) {
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string savedConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/elsewhere/config", 1);
    ::setenv("VELLPORT_COM9", "/dev/ttyACM0", 1);
    portlink::MapSources sources = portlink::currentMapSources(9);
    EXPECT_EQ(sources.userMapPath, "/elsewhere/config/VellPortDll/ports.conf");
    EXPECT_EQ(sources.systemMapPath, "/etc/VellPortDll/ports.conf");
    EXPECT_EQ(sources.environmentValue, "/dev/ttyACM0");
    EXPECT_EQ(portlink::currentMapSources(8).environmentValue, "");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(portlink::currentMapSources(9).userMapPath, "/home/someone/.config/VellPortDll/ports.conf");
    ::unsetenv("VELLPORT_COM9");
    ::setenv("HOME", savedHome.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
}

using portlink::DeviceState;

// What a path in the fake system should be described as; the node names are under its /dev.
struct PathCase {
    const char* label;
    const char* path; // relative to the fake root
    DeviceState state;
    const char* kernelName;
    bool isUsb;
    bool hasByIdName;
    const char* driver;
    const char* fifoAttribute = nullptr; // a USB attribute of the fake adapter that is a FIFO instead
};

void PrintTo(const PathCase& row, std::ostream* out) {
    *out << row.label;
}

class PathDescription : public testing::TestWithParam<PathCase> {};

TEST_P(PathDescription, ReadsTheStateAndDetailsWithoutOpening) {
    FakeSerialSystem system;
    WriteBytes(system.root() + "/Option.ini", "[COMM]\n");
    const portlink::SystemRoots roots{system.sysfs(), system.dev()};
    const PathCase& row = GetParam();
    if (row.fifoAttribute != nullptr) {
        const std::string attribute =
            system.sysfs() + "/devices/pci0000:00/0000:00:14.0/usb1/1-2/" + row.fifoAttribute;
        ASSERT_EQ(::unlink(attribute.c_str()), 0);
        ASSERT_EQ(::mkfifo(attribute.c_str(), 0644), 0);
    }
    const portlink::PathDescription description =
        portlink::describePath(system.root() + "/" + row.path, roots);
    EXPECT_EQ(description.state, row.state);
    EXPECT_EQ(description.details.kernelName, row.kernelName);
    EXPECT_EQ(description.details.isUsb, row.isUsb);
    EXPECT_EQ(description.details.driver, row.driver);
    EXPECT_EQ(description.details.byIdPath, row.hasByIdName ? system.byIdPath() : "");
    if (row.isUsb) {
        EXPECT_EQ(description.details.vendorId, 0x0403);
        EXPECT_EQ(description.details.productId, 0x6001);
        EXPECT_EQ(description.details.manufacturer, "FTDI");
        EXPECT_EQ(description.details.product, row.fifoAttribute ? "" : "FT232R USB UART");
        EXPECT_EQ(description.details.serialNumber, "A12345");
        EXPECT_EQ(description.realPath, system.realPath(system.node("ttyUSB0")));
    } else {
        EXPECT_EQ(description.details.vendorId, -1);
        EXPECT_EQ(description.details.manufacturer, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    FakeSystem, PathDescription,
    testing::Values(
        PathCase{"usb_adapter_by_its_by_id_name",
                 "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0", DeviceState::Present,
                 "ttyUSB0", true, true, "ftdi_sio"},
        PathCase{"usb_adapter_by_its_node", "dev/ttyUSB0", DeviceState::Present, "ttyUSB0", true, true,
                 "ftdi_sio"},
        PathCase{"serial_port_without_uart", "dev/ttyS0", DeviceState::NoHardware, "ttyS0", false, false, ""},
        PathCase{"onboard_uart_names_its_driver_not_serial_cores", "dev/ttyS1", DeviceState::Present, "ttyS1",
                 false, false, "serial"},
        PathCase{"virtual_console_is_no_serial_port", "dev/tty1", DeviceState::Present, "", false, false, ""},
        PathCase{"missing_node", "dev/ttyUSB7", DeviceState::Missing, "", false, false, ""},
        PathCase{"by_id_name_of_unplugged_adapter", "dev/serial/by-id/usb-unplugged-if00-port0",
                 DeviceState::Missing, "", false, false, ""},
        PathCase{"regular_file", "Option.ini", DeviceState::NotDevice, "", false, false, ""},
        PathCase{"usb_attribute_that_is_a_fifo_reads_as_unknown", "dev/ttyUSB0", DeviceState::Present,
                 "ttyUSB0", true, true, "ftdi_sio", "product"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DeviceList, OneEntryPerDeviceWithEveryNameThatLeadsThere) {
    FakeSerialSystem system;
    const std::string terminal = system.openTerminal();
    const auto resolve = [&](int portNumber) -> portlink::Resolution {
        switch (portNumber) {
        case 2:
            return {system.node("ttyS1"), portlink::PortRule::Fixed, {}};
        case 3:
            return {system.byIdPath(), portlink::PortRule::UserMap, "ports.conf"};
        case 4:
            return {system.node("ttyUSB0"), portlink::PortRule::Environment, {}};
        case 5:
        case 9:
            return {terminal, portlink::PortRule::Environment, {}};
        case 6:
            return {system.node("ttyUSB7"), portlink::PortRule::UserMap, "ports.conf"};
        default:
            // ttyS0 has no UART behind it; the rest do not exist.
            return {system.node("ttyS" + std::to_string(portNumber - 1)), portlink::PortRule::Fixed, {}};
        }
    };
    const std::vector<portlink::FoundDevice> devices =
        portlink::listDevices({system.sysfs(), system.dev()}, resolve);
    std::map<std::string, std::vector<int>> found;
    for (const portlink::FoundDevice& device : devices) {
        found[device.path] = device.portNumbers;
        if (device.path == system.realPath(system.node("ttyUSB0"))) {
            EXPECT_EQ(device.details.byIdPath, system.byIdPath());
            EXPECT_EQ(device.details.product, "FT232R USB UART");
        }
    }
    const std::map<std::string, std::vector<int>> expected{{system.realPath(system.node("ttyS1")), {2}},
                                                           {system.realPath(system.node("ttyUSB0")), {3, 4}},
                                                           {system.realPath(terminal), {5, 9}}};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(devices.size(), expected.size()) << "a device listed twice";
}

} // namespace
