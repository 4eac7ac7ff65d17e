// The library's own handle on a pseudo-terminal: the settings it applies, and what it refuses to open.
#include "SerialLink.h"

#include "Files.h"
#include "TempDir.h"
#include "VellPortDll.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using portlink::PortParams;
using portlink::SerialLink;

class PseudoTerminal {
public:
    PseudoTerminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        m_path = ::ptsname(m_master);
        m_terminal = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal() {
        ::close(m_terminal);
        ::close(m_master);
    }
    const std::string& path() const { return m_path; }
    termios settings() const {
        termios attributes{};
        ::tcgetattr(m_terminal, &attributes);
        return attributes;
    }
    // Another program setting the line between two of ours.
    void setRate(speed_t rate) {
        termios attributes = settings();
        ::cfsetspeed(&attributes, rate);
        ::tcsetattr(m_terminal, TCSANOW, &attributes);
    }

private:
    int m_master = -1;
    int m_terminal = -1;
    std::string m_path;
};

struct ApplyCase {
    const char* label;
    PortParams params;
    QSerialPort::DataBits dataBits;
    QSerialPort::Parity parity;
    QSerialPort::StopBits stopBits;
    QSerialPort::FlowControl flowControl;
};

class SerialLinkApply : public testing::TestWithParam<ApplyCase> {};

TEST_P(SerialLinkApply, SetsEveryParameterOnItsHandle) {
    PseudoTerminal terminal;
    SerialLink link;
    std::string reason;
    ASSERT_EQ(link.open(terminal.path(), GetParam().params, reason), VELLPORT_OK) << reason;
    EXPECT_EQ(link.port().baudRate(), GetParam().params.baudRate);
    // A pseudo-terminal always reports 8N, so these are checked on the port object the library configured.
    EXPECT_EQ(link.port().dataBits(), GetParam().dataBits);
    EXPECT_EQ(link.port().parity(), GetParam().parity);
    EXPECT_EQ(link.port().stopBits(), GetParam().stopBits);
    EXPECT_EQ(link.port().flowControl(), GetParam().flowControl);
}

INSTANTIATE_TEST_SUITE_P(
    Params, SerialLinkApply,
    testing::Values(ApplyCase{"default_8N1", PortParams{}, QSerialPort::Data8, QSerialPort::NoParity,
                              QSerialPort::OneStop, QSerialPort::NoFlowControl},
                    ApplyCase{"8N2_hardware", PortParams{19200, 8, 'N', 2, 1}, QSerialPort::Data8,
                              QSerialPort::NoParity, QSerialPort::TwoStop, QSerialPort::HardwareControl},
                    ApplyCase{"8N1_software", PortParams{4800, 8, 'n', 1, 2}, QSerialPort::Data8,
                              QSerialPort::NoParity, QSerialPort::OneStop, QSerialPort::SoftwareControl},
                    ApplyCase{"8N2", PortParams{57600, 8, 'N', 2, 0}, QSerialPort::Data8,
                              QSerialPort::NoParity, QSerialPort::TwoStop, QSerialPort::NoFlowControl}),
    [](const auto& info) { return std::string(info.param.label); });

struct UnsupportedCase {
    const char* label;
    PortParams params;
    const char* reason;
};

class SerialLinkUnsupported : public testing::TestWithParam<UnsupportedCase> {};

// A pseudo-terminal carries neither a character size nor a parity bit; Qt notices, and the library
// reports it rather than send with settings other than those asked for, on every call, not only the first.
TEST_P(SerialLinkUnsupported, IsAnIoErrorNamingTheSetting) {
    PseudoTerminal terminal;
    for (int call = 1; call <= 2; ++call) {
        SerialLink link;
        std::string reason;
        EXPECT_EQ(link.open(terminal.path(), GetParam().params, reason), VELLPORT_ERR_IO) << "call " << call;
        EXPECT_NE(reason.find(GetParam().reason), std::string::npos) << "call " << call << ": " << reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Params, SerialLinkUnsupported,
    testing::Values(
        UnsupportedCase{"seven_bits", PortParams{9600, 7, 'N', 1, 0}, "the data bits of 9600 7N1"},
        UnsupportedCase{"even_parity", PortParams{9600, 8, 'E', 1, 0}, "the parity of 9600 8E1"},
        UnsupportedCase{"odd_parity", PortParams{9600, 8, 'O', 2, 0}, "the parity of 9600 8O2"},
        UnsupportedCase{"mark_parity", PortParams{2400, 8, 'M', 1, 0}, "the parity of 2400 8M1"},
        UnsupportedCase{"space_parity", PortParams{2400, 8, 'S', 1, 0}, "the parity of 2400 8S1"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SerialLink, LineKeepsItsRateAndStopBitsAfterClosing) {
    PseudoTerminal terminal;
    {
        SerialLink link;
        std::string reason;
        ASSERT_EQ(link.open(terminal.path(), PortParams{38400, 8, 'N', 2, 0}, reason), VELLPORT_OK) << reason;
    }
    const termios settings = terminal.settings();
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B38400));
    EXPECT_NE(settings.c_cflag & CSTOPB, 0u);
}

// A second opening finds the line either as the first left it or changed by someone else; either way the line
// must carry the second opening's settings after it closes.
struct SecondOpeningCase {
    const char* label;
    PortParams first;
    speed_t changedInBetween; // 0: nobody touched the line
    PortParams second;
    speed_t expectedRate;
    bool expectedTwoStopBits;
};

class SecondOpening : public testing::TestWithParam<SecondOpeningCase> {};

TEST_P(SecondOpening, LineKeepsTheLastSettings) {
    const SecondOpeningCase& row = GetParam();
    PseudoTerminal terminal;
    for (const PortParams& params : {row.first, row.second}) {
        if (&params != &row.first && row.changedInBetween != 0) {
            terminal.setRate(row.changedInBetween);
        }
        SerialLink link;
        std::string reason;
        ASSERT_EQ(link.open(terminal.path(), params, reason), VELLPORT_OK) << reason;
    }
    const termios settings = terminal.settings();
    EXPECT_EQ(::cfgetospeed(&settings), row.expectedRate);
    EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, row.expectedTwoStopBits);
}

INSTANTIATE_TEST_SUITE_P(
    Openings, SecondOpening,
    testing::Values(
        SecondOpeningCase{
            "same_settings_again", {19200, 8, 'N', 1, 0}, 0, {19200, 8, 'N', 1, 0}, B19200, false},
        SecondOpeningCase{"other_rate", {19200, 8, 'N', 1, 0}, 0, {4800, 8, 'N', 1, 0}, B4800, false},
        SecondOpeningCase{"other_stop_bits", {9600, 8, 'N', 1, 0}, 0, {9600, 8, 'N', 2, 0}, B9600, true},
        SecondOpeningCase{
            "changed_by_another_program", {57600, 8, 'N', 1, 0}, B1200, {57600, 8, 'N', 1, 0}, B57600, false},
        SecondOpeningCase{
            "changed_to_the_coming_rate", {2400, 8, 'N', 2, 0}, B38400, {38400, 8, 'N', 2, 0}, B38400, true}),
    [](const auto& info) { return std::string(info.param.label); });

class NotADevice : public testing::Test {
protected:
    int open(const std::string& path, std::string& reason) {
        SerialLink link;
        return link.open(path, PortParams{}, reason);
    }

    const TempDir m_temp;
    const std::string m_dir = m_temp.path();
};

TEST_F(NotADevice, RegularFileIsRefusedAndLeftAlone) {
    const std::string path = m_dir + "/notes.txt";
    WriteBytes(path, "keep me");
    std::string reason;
    EXPECT_EQ(open(path, reason), VELLPORT_ERR_NO_DEVICE);
    EXPECT_NE(reason.find("regular file"), std::string::npos) << reason;
    EXPECT_EQ(ReadBytes(path), "keep me");
}

TEST_F(NotADevice, DirectoryFifoAndMissingPathAreRefused) {
    const std::string fifo = m_dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string reason;
    EXPECT_EQ(open(m_dir, reason), VELLPORT_ERR_NO_DEVICE);
    EXPECT_NE(reason.find("directory"), std::string::npos) << reason;
    EXPECT_EQ(open(fifo, reason), VELLPORT_ERR_NO_DEVICE);
    EXPECT_NE(reason.find("FIFO"), std::string::npos) << reason;
    EXPECT_EQ(open(m_dir + "/missing", reason), VELLPORT_ERR_NO_DEVICE);
    EXPECT_EQ(reason, "no such device");
}

} // namespace
