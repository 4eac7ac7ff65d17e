// The port link library end to end: commands through a real pseudo-terminal to devsim, and every fault path.
#include "Child.h"
#include "Files.h"
#include "PortHolder.h"
#include "PortMap.h"
#include "Simulator.h"
#include "StderrCapture.h"
#include "TempDir.h"
#include "VellPortDll.h"

#include <QCoreApplication>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const unsigned char kOn[] = {0x1B, 0x27, 0x0A, 0x01};
const unsigned char kOff[] = {0x1B, 0x27, 0x0A, 0x00};

std::string jsonEvent(const char* event, const char* bytes, int rate, int stopBits = 1) {
    return std::string("{\"event\":\"") + event + "\",\"bytes\":\"" + bytes +
           "\",\"rate\":" + std::to_string(rate) +
           ",\"dataBits\":8,\"parity\":\"N\",\"stopBits\":" + std::to_string(stopBits) + "}";
}

// A devsim on a link in a temporary folder, with COM names pointed at it through the environment.
class EndToEnd : public testing::Test {
protected:
    void TearDown() override {
        if (m_started) {
            EXPECT_EQ(m_simulator.stop(), std::vector<std::string>{}) << "devsim saw more than was sent";
        }
    }

    void startSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{"--json", "--link", m_link};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_simulator.start(arguments));
        ASSERT_EQ(m_simulator.firstLine(), "{\"event\":\"ready\",\"path\":\"" + m_link + "\"}");
        m_started = true;
    }

    termios lineSettings() const {
        const int terminal = ::open(m_link.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        termios settings{};
        ::tcgetattr(terminal, &settings);
        ::close(terminal);
        return settings;
    }

    std::string terminalPath() const { return std::filesystem::read_symlink(m_link).string(); }

    const TempDir m_temp;
    const std::string m_dir = m_temp.path();
    const std::string m_link = m_temp.file("ttyVELL");
    Simulator m_simulator;
    bool m_started = false;
    PortMap m_ports;
};

struct RateCase {
    int rate;
    speed_t speed;
    const char* name;
    int portNumber;
};

class Rates : public EndToEnd, public testing::WithParamInterface<RateCase> {};

TEST_P(Rates, OnAndOffArriveAsSentAtThatRate) {
    startSimulator();
    m_ports.map(GetParam().portNumber, m_link);
    StderrCapture capture;
    EXPECT_EQ(SetComParam(GetParam().name, GetParam().rate, 8, 'N', 1, 0), VELLPORT_OK);
    EXPECT_EQ(SendData(GetParam().name, kOn, 4), VELLPORT_OK);
    EXPECT_EQ(SendData(GetParam().name, kOff, 4), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", GetParam().rate));
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("off", "1B 27 0A 00", GetParam().rate));
    const termios settings = lineSettings();
    EXPECT_EQ(::cfgetospeed(&settings), GetParam().speed);
    EXPECT_EQ(settings.c_cflag & CSTOPB, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ProgramList, Rates,
    testing::Values(RateCase{2400, B2400, "COM1", 1}, RateCase{4800, B4800, "\\\\.\\COM12", 12},
                    RateCase{9600, B9600, "COM3", 3}, RateCase{19200, B19200, "\\\\.\\COM14", 14},
                    RateCase{38400, B38400, "com5", 5}, RateCase{57600, B57600, "\\\\.\\com16", 16},
                    RateCase{115200, B115200, "COM7", 7}, RateCase{2400, B2400, "\\\\.\\COM21", 21},
                    RateCase{9600, B9600, "\\\\.\\COM23", 23}, RateCase{115200, B115200, "\\\\.\\COM27", 27}),
    [](const auto& info) {
        return std::to_string(info.param.rate) + "_COM" + std::to_string(info.param.portNumber);
    });

TEST_F(EndToEnd, TwoStopBitsReachTheLine) {
    startSimulator();
    m_ports.map(30, m_link);
    ASSERT_EQ(SetComParam("COM30", 19200, 8, 'N', 2, 0), VELLPORT_OK);
    ASSERT_EQ(SendData("COM30", kOn, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 19200, 2));
    const termios settings = lineSettings();
    EXPECT_NE(settings.c_cflag & CSTOPB, 0u);
}

TEST_F(EndToEnd, BothNameFormsShareOnePortsParameters) {
    startSimulator();
    m_ports.map(31, m_link);
    ASSERT_EQ(SetComParam("\\\\.\\com31", 4800, 8, 'N', 1, 0), VELLPORT_OK);
    ASSERT_EQ(SendData("COM31", kOff, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("off", "1B 27 0A 00", 4800));
}

TEST_F(EndToEnd, ParametersDoNotLeakIntoAnotherPort) {
    startSimulator();
    m_ports.map(32, m_link);
    m_ports.map(33, m_link);
    ASSERT_EQ(SetComParam("COM32", 2400, 8, 'N', 2, 0), VELLPORT_OK);
    // Both names lead to one terminal: each command is read back before the next call changes its settings,
    // or the simulator could see an earlier command under a later call's settings.
    ASSERT_EQ(SendData("COM32", kOn, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 2400, 2));
    ASSERT_EQ(SendData("COM33", kOn, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 9600, 1));
    ASSERT_EQ(SendData("COM32", kOff, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("off", "1B 27 0A 00", 2400, 2));
}

TEST_F(EndToEnd, RefusedParametersKeepTheStoredOnes) {
    startSimulator();
    m_ports.map(34, m_link);
    ASSERT_EQ(SetComParam("COM34", 57600, 8, 'N', 1, 0), VELLPORT_OK);
    StderrCapture capture;
    EXPECT_EQ(SetComParam("COM34", 1200, 8, 'N', 3, 0), VELLPORT_ERR_ARG);
    EXPECT_EQ(StderrCapture::lines(capture.finish()).size(), 1u);
    ASSERT_EQ(SendData("COM34", kOn, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 57600));
}

TEST_F(EndToEnd, OtherBytesAreReportedAsUnknownHex) {
    startSimulator();
    m_ports.map(35, m_link);
    const unsigned char bytes[] = {'A', 0x0A, 0x1B, 0x27, 0x0A, 0x01, 0xFF};
    ASSERT_EQ(SendData("COM35", bytes, sizeof bytes), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("unknown", "41 0A", 9600));
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 9600));
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("unknown", "FF", 9600));
}

TEST_F(EndToEnd, MapFileEntryIsUsedAndAMalformedLineWarnsOnce) {
    startSimulator();
    const std::string config = m_dir + "/config";
    std::filesystem::create_directories(config + "/VellPortDll");
    WriteBytes(config + "/VellPortDll/ports.conf",
               "# test map\nCOM37 " + m_link + "\nCOM36=" + m_link + "\n");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    StderrCapture capture;
    EXPECT_EQ(SendData("COM36", kOn, 4), VELLPORT_OK);
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ports.conf:2"), std::string::npos) << lines[0];
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 9600));
}

// The COM names the library lists for the device at path, or nothing when it does not list that device.
std::optional<std::vector<std::string>> listedNames(const std::string& path) {
    VellPortDevice** list = nullptr;
    if (VellPortListDevices(&list) != VELLPORT_OK) {
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> names;
    for (VellPortDevice** device = list; *device != nullptr; ++device) {
        if ((*device)->path == path) {
            names.emplace((*device)->portNames, (*device)->portNames + (*device)->portCount);
        }
    }
    VellPortFreeDeviceList(list);
    return names;
}

std::pair<int, int> ruleAndState(const char* port) {
    VellPortInfo* info = nullptr;
    if (VellPortDescribe(port, &info) != VELLPORT_OK) {
        return {0, 0};
    }
    const std::pair result{info->rule, info->state};
    VellPortFreeInfo(info);
    return result;
}

TEST_F(EndToEnd, DescriptionsFollowTheMapAndTheDeviceWithoutTouchingIt) {
    startSimulator();
    m_ports.map(37, m_link);
    const std::string config = m_dir + "/config";
    std::filesystem::create_directories(config + "/VellPortDll");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::string terminal = terminalPath();
    StderrCapture capture;

    EXPECT_EQ(ruleAndState("COM37"), std::pair(int(VELLPORT_RULE_ENVIRONMENT), int(VELLPORT_STATE_PRESENT)));
    EXPECT_EQ(ruleAndState("COM38").first, VELLPORT_RULE_DEFAULT);
    EXPECT_EQ(listedNames(terminal), std::vector<std::string>{"COM37"});

    WriteBytes(config + "/VellPortDll/ports.conf", "COM38=" + m_link + "\n");
    EXPECT_EQ(ruleAndState("COM38"), std::pair(int(VELLPORT_RULE_USER_MAP), int(VELLPORT_STATE_PRESENT)));
    EXPECT_EQ(listedNames(terminal), (std::vector<std::string>{"COM37", "COM38"}));

    // Unplugged: devsim gone, its link dangles.
    EXPECT_EQ(m_simulator.stop(), std::vector<std::string>{}) << "describing reached the device";
    m_started = false;
    EXPECT_EQ(ruleAndState("COM37"), std::pair(int(VELLPORT_RULE_ENVIRONMENT), int(VELLPORT_STATE_MISSING)));
    EXPECT_EQ(listedNames(terminal), std::nullopt);
    EXPECT_EQ(capture.finish(), "");
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(EndToEnd, StuckDeviceTimesOut) {
    startSimulator({"--stuck"});
    m_ports.map(37, m_link);
    const int rate = 921600;
    const std::vector<unsigned char> large(64 * 1024, 0x55);
    ASSERT_EQ(SetComParam("COM37", rate, 8, 'N', 1, 0), VELLPORT_OK);
    // The documented bound is 500 ms plus twice the wire time of 10 bits a byte; the test allows twice that,
    // as a guard against a send that never gives up, not as a measurement (bench/ measures).
    const auto bound =
        std::chrono::milliseconds(500) +
        2 * std::chrono::microseconds(static_cast<long long>(large.size()) * 10 * 1000000 / rate);
    StderrCapture capture;
    const auto start = Clock::now();
    EXPECT_EQ(SendData("COM37", large.data(), static_cast<int>(large.size())), VELLPORT_ERR_TIMEOUT);
    const auto elapsed = Clock::now() - start;
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    EXPECT_LE(elapsed, 2 * bound);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("timed out"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(m_link), std::string::npos) << lines[0];
}

TEST_F(EndToEnd, PortHeldThroughItsLockFileIsBusy) {
    startSimulator();
    m_ports.map(38, m_link);
    PortHolder holder;
    ASSERT_TRUE(holder.hold(terminalPath()));

    StderrCapture capture;
    EXPECT_EQ(SendData("COM38", kOn, 4), VELLPORT_ERR_BUSY);
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("busy"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("dialout"), std::string::npos) << lines[0];

    holder.release();
    EXPECT_EQ(SendData("COM38", kOn, 4), VELLPORT_OK);
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 9600));
}

TEST_F(EndToEnd, UnprivilegedUserGetsPermissionDenied) {
    startSimulator();
    const std::string terminal = terminalPath();
    m_ports.map(39, terminal);
    if (!CanBecomeNobody()) {
        GTEST_SKIP() << "needs root to drop to the user nobody";
    }
    StderrCapture capture;
    const ChildResult run = RunInChild([] { return BecomeNobody() ? -SendData("COM39", kOn, 4) : 100; },
                                       std::chrono::seconds(10));
    const std::string text = capture.finish();
    ASSERT_TRUE(run.exitCode.has_value());
    ASSERT_NE(run.exitCode, 100) << "could not drop privileges";
    EXPECT_EQ(-*run.exitCode, VELLPORT_ERR_PERMISSION) << text;
    const std::vector<std::string> lines = StderrCapture::lines(text);
    ASSERT_EQ(lines.size(), 1u) << text;
    EXPECT_NE(lines[0].find("permission denied"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("dialout"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(terminal), std::string::npos) << lines[0];
}

TEST_F(EndToEnd, CallsFromSeveralThreadsForOnePortTakeTurns) {
    startSimulator();
    m_ports.map(42, m_link);
    constexpr int kCallsPerThread = 10;
    StderrCapture capture;
    // Without turns, the second opening would find the first one's lock file and report the port busy.
    const auto sendMany = [](const char* port) {
        int failures = 0;
        for (int i = 0; i < kCallsPerThread; ++i) {
            failures += SendData(port, kOn, 4) != VELLPORT_OK ? 1 : 0;
        }
        return failures;
    };
    auto first = std::async(std::launch::async, sendMany, "COM42");
    auto second = std::async(std::launch::async, sendMany, "\\\\.\\COM42");
    EXPECT_EQ(first.get() + second.get(), 0);
    EXPECT_EQ(capture.finish(), "");
    for (int i = 0; i < 2 * kCallsPerThread; ++i) {
        EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 9600)) << i;
    }
}

TEST_F(EndToEnd, WorksWithAQtApplicationObject) {
    startSimulator();
    m_ports.map(44, m_link);
    int argc = 1;
    char name[] = "portlink_e2e_test";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    StderrCapture capture;
    EXPECT_EQ(SendData("COM44", kOn, 4), VELLPORT_OK);
    EXPECT_EQ(std::async(std::launch::async, [] { return SendData("COM44", kOff, 4); }).get(), VELLPORT_OK);
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("on", "1B 27 0A 01", 9600));
    EXPECT_EQ(m_simulator.readLine(), jsonEvent("off", "1B 27 0A 00", 9600));
}

// The test plays the device itself here, so it can close its side while the library is writing.
TEST(DeviceSide, ClosedMidTransferIsAnIoError) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const PortMap ports(40, ::ptsname(master));
    ASSERT_EQ(SetComParam("COM40", 9600, 8, 'N', 1, 0), VELLPORT_OK);
    const std::vector<unsigned char> large(64 * 1024, 0x55);
    StderrCapture capture;
    auto sending = std::async(std::launch::async, [&large] {
        return SendData("COM40", large.data(), static_cast<int>(large.size()));
    });
    pollfd arriving{master, POLLIN, 0};
    EXPECT_EQ(::poll(&arriving, 1, 5000), 1) << "nothing arrived";
    ::close(master);
    ASSERT_EQ(sending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(sending.get(), VELLPORT_ERR_IO);
    const std::vector<std::string> lines = StderrCapture::lines(capture.finish());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("SendData(\"COM40\")"), std::string::npos) << lines[0];
}

TEST(TextOutput, ShowsEventsWithTheirLineSettings) {
    const TempDir dir;
    const std::string link = dir.file("ttyTEXT");
    {
        Simulator simulator;
        ASSERT_TRUE(simulator.start({"--link", link}));
        EXPECT_EQ(simulator.firstLine(), link);
        const PortMap ports(41, link);
        ASSERT_EQ(SetComParam("COM41", 38400, 8, 'N', 1, 0), VELLPORT_OK);
        ASSERT_EQ(SendData("COM41", kOn, 4), VELLPORT_OK);
        ASSERT_EQ(SendData("COM41", kOff, 4), VELLPORT_OK);
        EXPECT_EQ(simulator.readLine(), "screen saver ON  (38400 8N1)");
        EXPECT_EQ(simulator.readLine(), "screen saver OFF (38400 8N1)");
        int status = -1;
        EXPECT_EQ(simulator.stop(&status), std::vector<std::string>{});
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "link left behind";
    }
}

} // namespace
