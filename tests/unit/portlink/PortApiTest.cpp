// The C interface's argument checks and refusals: each returns its code and writes exactly one stderr line.
#include "StderrCapture.h"
#include "VellPortDll.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

const unsigned char kOnCommand[] = {0x1B, 0x27, 0x0A, 0x01};

// Runs a call, returning its result and checking it wrote exactly one stderr line holding every expected
// part.
template <typename Call>
int expectOneErrorLine(Call call, std::initializer_list<std::string> parts) {
    StderrCapture capture;
    const int result = call();
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    EXPECT_EQ(lines.size(), 1u);
    if (!lines.empty()) {
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
    ::setenv("VELLPORT_COM40", "/nonexistent/device", 1);
    StderrCapture capture;
    EXPECT_EQ(SendData("COM40", nullptr, 0), VELLPORT_OK);
    EXPECT_EQ(SendData("COM40", kOnCommand, 0), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
    ::unsetenv("VELLPORT_COM40");
}

TEST(SendData, MissingDeviceNamesItsPath) {
    ::setenv("VELLPORT_COM41", "/nonexistent/ttyUSB9", 1);
    EXPECT_EQ(expectOneErrorLine([] { return SendData("\\\\.\\COM41", kOnCommand, 4); },
                                 {"SendData(\"\\\\.\\COM41\")", "/nonexistent/ttyUSB9", "no such device"}),
              VELLPORT_ERR_NO_DEVICE);
    ::unsetenv("VELLPORT_COM41");
}

TEST(SendData, MappedRegularFileIsRefusedAndKept) {
    char pattern[] = "/tmp/vellport-api-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string file = std::string(pattern) + "/Option.ini";
    std::ofstream(file) << "[COMM]\n";
    ::setenv("VELLPORT_COM42", file.c_str(), 1);
    EXPECT_EQ(expectOneErrorLine([] { return SendData("COM42", kOnCommand, 4); },
                                 {"SendData(\"COM42\")", file, "not a character device"}),
              VELLPORT_ERR_NO_DEVICE);
    EXPECT_EQ(std::filesystem::file_size(file), 7u);
    ::unsetenv("VELLPORT_COM42");
    std::filesystem::remove_all(pattern);
}

TEST(GetUSBPort, CountsWithoutFailing) {
    StderrCapture capture;
    EXPECT_GE(GetUSBPort(), 0);
    EXPECT_EQ(capture.finish(), "");
}

} // namespace
