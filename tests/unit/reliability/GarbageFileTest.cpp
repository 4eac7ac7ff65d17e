// The settings file holding garbage: the program reads what the profile rules give, and saving keeps every
// byte it does not own.
#include "Child.h"
#include "Files.h"
#include "TempDir.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"

#include <chrono>
#include <gtest/gtest.h>
#include <random>

namespace {

using namespace std::string_literals;
using std::chrono::milliseconds;

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(20261208); // fixed seed: the same garbage on every run
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    bytes[0] = 'x'; // not a UTF-16 mark: the file stays 8-bit text
    return bytes;
}

struct GarbageCase {
    const char* name;
    std::string content;
    CommSettings expected; // what the profile read gives for it
};

CommSettings Settings(std::string port, int baud, std::array<int, 4> ip = {192, 168, 2, 10}) {
    CommSettings settings;
    settings.port = std::move(port);
    settings.baudIndex = baud;
    settings.ip = ip;
    return settings;
}

std::vector<GarbageCase> GarbageCases() {
    const CommSettings defaults;
    return {
        {"RandomMegabyte", RandomBytes(1 << 20), defaults},
        // A NUL ends what its line says: the rest of the line is ignored, "Ba" is a key without "=".
        {"NulInsideLines", "[COMM]\r\nPort=COM5\0junk\r\nBa\0ud=3\r\nIP1=10\0=7\r\n"s,
         Settings("COM5", 2, {10, 168, 2, 10})},
        {"Utf8Mark", "\xEF\xBB\xBF[COMM]\r\nPort=COM4\r\nBaud=5\r\n", Settings("COM4", 5)},
        {"CarriageReturnLineEnds", "[COMM]\rPort=COM6\rBaud=1\rIP4=77\r",
         Settings("COM6", 1, {192, 168, 2, 77})},
        {"LineFeedLineEnds", "[COMM]\nPort=COM2\nBaud=0\n", Settings("COM2", 0)},
        // The read buffer holds 127 bytes.
        {"MegabyteLine", "[COMM]\r\nPort=" + std::string(1 << 20, 'A') + "\r\nBaud=4\r\n",
         Settings(std::string(127, 'A'), 4)},
        {"MegabyteLineWithoutLineEnd", "[COMM]\r\nBaud=6\r\n" + std::string(1 << 20, '['),
         Settings("COM1", 6)},
        // "[COMM" is no header: the Port after it belongs to no section.
        {"HeaderWithoutClosingBracket", "[COMM\r\nPort=COM9\r\n[COMM]\r\nBaud=6\r\n", Settings("COM1", 6)},
        {"KeyWithoutEquals", "[COMM]\r\nPort\r\nBaud\r\nIP2=3\r\n", Settings("COM1", 2, {192, 3, 2, 10})},
        {"ValuesThatAreNoNumbers", "[COMM]\r\nBaud=x5\r\nIP1=0x10\r\nIP2=-1\r\nIP3=99999999999\r\n",
         Settings("COM1", 0, {16, -1, 1215752191, 10})},
        {"OnlyBlanks", std::string(4096, ' ') + "\r\n\t\r\n", defaults},
        {"Empty", "", defaults},
    };
}

class GarbageFile : public testing::TestWithParam<GarbageCase> {
protected:
    void SetUp() override { g_strIniPath = m_dir.file("Option.ini"); }
    TempDir m_dir;
};

void ExpectSettings(const CommSettings& expected, const CommSettings& actual) {
    EXPECT_EQ(expected.port, actual.port);
    EXPECT_EQ(expected.baudIndex, actual.baudIndex);
    EXPECT_EQ(expected.ip, actual.ip);
}

TEST_P(GarbageFile, ReadsWhatTheProfileRulesGiveAndSavingKeepsTheRest) {
    const GarbageCase& garbage = GetParam();
    WriteBytes(g_strIniPath, garbage.content);

    // In a child with a bound, so a hang fails the test instead of stalling the suite.
    const ChildResult load = RunInChild(
        [&] {
            const CommSettings loaded = loadCommSettings();
            const CommSettings& e = garbage.expected;
            return loaded.port == e.port && loaded.baudIndex == e.baudIndex && loaded.ip == e.ip ? 0 : 1;
        },
        milliseconds(10000));
    ASSERT_FALSE(load.timedOut);
    ASSERT_EQ(load.exitCode, 0) << "crashed or read other values";
    ExpectSettings(garbage.expected, loadCommSettings());

    const CommSettings saved = Settings("COM12", 6, {10, 0, 0, 1});
    saveCommSettings(saved);
    ExpectSettings(saved, loadCommSettings());
    // Garbage without a section of ours gets one appended: every byte that was there is still there.
    const bool hadOurSection = garbage.expected.port != "COM1" || garbage.expected.baudIndex != 2 ||
                               garbage.expected.ip != CommSettings{}.ip;
    if (!hadOurSection) {
        const std::string after = ReadBytes(g_strIniPath);
        EXPECT_EQ(after.substr(0, garbage.content.size()), garbage.content);
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, GarbageFile, testing::ValuesIn(GarbageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// 50 MB in front of our section, text or binary: read and saved whole, every byte not ours kept.
struct HugeCase {
    const char* name;
    std::string (*before)();
};

std::string OtherSections() {
    std::string content;
    content.reserve(51u << 20);
    for (int section = 0; content.size() < (50u << 20); ++section) {
        content += "[Other" + std::to_string(section) + "]\r\n";
        for (int key = 0; key < 100; ++key) {
            content += "Key" + std::to_string(key) + "=" + std::string(40, 'v') + "\r\n";
        }
    }
    return content;
}

std::string BinaryBytes() {
    std::string bytes(50u << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 131) % 251);
    }
    return bytes + "\r\n";
}

class HugeFile : public testing::TestWithParam<HugeCase> {};

TEST_P(HugeFile, FiftyMegabytesAreReadAndSavedWhole) {
    const TempDir dir;
    g_strIniPath = dir.file("Option.ini");
    const std::string before = GetParam().before();
    WriteBytes(g_strIniPath, before + "[COMM]\r\nPort=COM8\r\nBaud=3\r\n");
    ExpectSettings(Settings("COM8", 3), loadCommSettings());
    ASSERT_TRUE(IniWriteString(kCommSection, "Port", "COM9"));
    EXPECT_TRUE(ReadBytes(g_strIniPath) == before + "[COMM]\r\nPort=COM9\r\nBaud=3\r\n");
}

INSTANTIATE_TEST_SUITE_P(Reliability, HugeFile,
                         testing::Values(HugeCase{"OtherSections", OtherSections},
                                         HugeCase{"BinaryBytes", BinaryBytes}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// Found by fuzz_profile_roundtrip: "[b=x]" reads back as a section header, so key "[b" cannot hold "x]".
TEST(FuzzFinding, BracketedKeyWhoseValueClosesTheBracketIsRefused) {
    TempDir dir;
    const std::string path = dir.file("Option.ini");
    WriteBytes(path, "[COMM]\r\nPort=COM3\r\n");
    EXPECT_FALSE(IniWriteString("COMM", "[b", "x]", path));
    EXPECT_EQ(ReadBytes(path), "[COMM]\r\nPort=COM3\r\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", path), "COM3");
    // Without the closing bracket the line stays an entry and reads back.
    EXPECT_TRUE(IniWriteString("COMM", "[b", "x", path));
    EXPECT_EQ(IniReadString("COMM", "[b", "", path), "x");
}

} // namespace
