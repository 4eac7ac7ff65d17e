// The port list, the stored-port rule, the address forms, and loading and saving "COMM".
#include "settings/CommSettings.h"

#include "Files.h"
#include "TempDir.h"
#include "settings/Profile.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

TEST(PortList, HasThirtyEntriesInDeviceNamespaceFromTen) {
    const auto ports = BuildPortList();
    ASSERT_EQ(ports.size(), 30u);
    EXPECT_EQ(ports[0], "COM1");
    EXPECT_EQ(ports[8], "COM9");
    EXPECT_EQ(ports[9], "\\\\.\\COM10");
    EXPECT_EQ(ports[29], "\\\\.\\COM30");
}

struct PortCase {
    const char* name;
    std::string stored;
    int index;
};

// Failure messages show the row by its name.
void PrintTo(const PortCase& row, std::ostream* out) {
    *out << row.name;
}

class StoredPort : public testing::TestWithParam<PortCase> {};

TEST_P(StoredPort, SelectsTheEntryTheListWould) {
    EXPECT_EQ(FindPortIndex(BuildPortList(), GetParam().stored), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StoredPort,
    testing::Values(PortCase{"Com1SelectsIndex0", "COM1", 0}, PortCase{"Com5SelectsIndex4", "COM5", 4},
                    PortCase{"LowerCaseCom3SelectsIndex2", "com3", 2},
                    PortCase{"BareComSelectsCom2", "COM", 1}, PortCase{"Lpt1SelectsCom2", "LPT1", 1},
                    PortCase{"DeviceCom12SelectsIndex11", "\\\\.\\COM12", 11},
                    PortCase{"EmptySelectsCom2", "", 1}, PortCase{"DeviceCom1SelectsCom10", "\\\\.\\COM1", 9},
                    PortCase{"DeviceCom30SelectsLast", "\\\\.\\com30", 29},
                    PortCase{"LongerThanEntrySelectsCom2", "COM11", 1}),
    [](const testing::TestParamInfo<PortCase>& info) { return std::string{info.param.name}; });

struct SelectionCase {
    const char* name;
    std::string port;
    int baudIndex;
    CommSelection expected;
};

void PrintTo(const SelectionCase& row, std::ostream* out) {
    *out << row.name;
}

class StoredSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(StoredSelection, IsWhatTheWindowShowsOnOpening) {
    CommSettings stored;
    stored.port = GetParam().port;
    stored.baudIndex = GetParam().baudIndex;
    const CommSelection selection = selectStored(BuildPortList(), stored);
    EXPECT_EQ(selection.portIndex, GetParam().expected.portIndex);
    EXPECT_EQ(selection.baudIndex, GetParam().expected.baudIndex);
}

INSTANTIATE_TEST_SUITE_P(Rules, StoredSelection,
                         testing::Values(SelectionCase{"DefaultsAreCom1At9600", "COM1", 2, {0, 2}},
                                         SelectionCase{"FirstBaudEntry", "COM4", 0, {3, 0}},
                                         SelectionCase{"LastBaudEntry", "\\\\.\\COM15", 6, {14, 6}},
                                         SelectionCase{"IndexPastTheListSelectsNoBaud", "COM3", 7, {2, -1}},
                                         SelectionCase{"NegativeIndexSelectsNoBaud", "COM3", -1, {2, -1}},
                                         SelectionCase{"UnknownPortSelectsCom2", "LPT1", 3, {1, 3}}),
                         [](const testing::TestParamInfo<SelectionCase>& info) {
                             return std::string{info.param.name};
                         });

TEST(Address, TextAndValueKeepTheOctetOrder) {
    const std::array<int, 4> ip{192, 168, 2, 10};
    EXPECT_EQ(formatAddress(ip), "192.168.2.10");
    EXPECT_EQ(addressOctets(0xC0A8020Au), ip);
    EXPECT_EQ(addressOctets(0x01020304u), (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_EQ(formatAddress({300, -1, 0, 255}), "300.-1.0.255");
}

class CommSettingsFile : public testing::Test {
protected:
    void SetUp() override { g_strIniPath = m_dir.file("Option.ini"); }
    void TearDown() override { g_strIniPath.clear(); }
    TempDir m_dir;
};

TEST_F(CommSettingsFile, NoFileLoadsDefaultsAndSavesThemExactly) {
    const CommSettings loaded = loadCommSettings();
    EXPECT_EQ(loaded.port, "COM1");
    EXPECT_EQ(loaded.baudIndex, 2);
    EXPECT_STREQ(kBaudList[static_cast<std::size_t>(loaded.baudIndex)], "9600");
    EXPECT_EQ(formatAddress(loaded.ip), "192.168.2.10");
    saveCommSettings(loaded);
    EXPECT_EQ(ReadBytes(g_strIniPath),
              "[COMM]\r\nPort=COM1\r\nBaud=2\r\nIP1=192\r\nIP2=168\r\nIP3=2\r\nIP4=10\r\n");
}

TEST_F(CommSettingsFile, SavedSettingsLoadBack) {
    CommSettings settings;
    settings.port = "\\\\.\\COM17";
    settings.baudIndex = -1;
    settings.ip = {10, 0, 0, 254};
    saveCommSettings(settings);
    const CommSettings loaded = loadCommSettings();
    EXPECT_EQ(loaded.port, settings.port);
    EXPECT_EQ(loaded.baudIndex, -1);
    EXPECT_EQ(loaded.ip, settings.ip);
}

TEST_F(CommSettingsFile, SaveEditsAnExistingFileInPlace) {
    WriteBytes(g_strIniPath, "; mine\n[COMM]\nIP4=10\nPort=COM1\n[Other]\nx=1\n");
    CommSettings settings;
    settings.port = "COM3";
    saveCommSettings(settings);
    EXPECT_EQ(ReadBytes(g_strIniPath),
              "; mine\n[COMM]\nIP4=10\nPort=COM3\nBaud=2\r\nIP1=192\r\nIP2=168\r\nIP3=2\r\n[Other]\nx=1\n");
}

} // namespace
