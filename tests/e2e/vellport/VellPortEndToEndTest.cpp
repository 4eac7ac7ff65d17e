// vellport as a user runs it: sends through the real library to devsim, map file edits, list and devices.
#include "Child.h"
#include "Files.h"
#include "Simulator.h"
#include "TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Writes bytes to path, making its folders first.
void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, bytes);
}

std::string event(const char* name, const char* bytes, int rate) {
    return std::string("{\"event\":\"") + name + "\",\"bytes\":\"" + bytes +
           "\",\"rate\":" + std::to_string(rate) + ",\"dataBits\":8,\"parity\":\"N\",\"stopBits\":1}";
}

// A temporary home with its own config folder and an empty stand-in system, and a devsim on a link in it.
class VellPort : public testing::Test {
protected:
    void SetUp() override {
        m_config = m_dir + "/config";
        m_mapFile = m_config + "/VellPortDll/ports.conf";
        m_link = m_dir + "/ttyVELL";
        fs::create_directories(m_dir + "/sys");
        fs::create_directories(m_dir + "/dev");
        m_environment = {{"HOME", m_dir},
                         {"XDG_CONFIG_HOME", m_config},
                         {"VELLPORT_SYSFS_ROOT", m_dir + "/sys"},
                         {"VELLPORT_DEV_ROOT", m_dir + "/dev"}};
    }
    void TearDown() override {
        if (m_started) {
            EXPECT_EQ(m_simulator.stop(), std::vector<std::string>{}) << "devsim saw more than was sent";
        }
    }

    void startSimulator() {
        ASSERT_TRUE(m_simulator.start({"--json", "--link", m_link}));
        m_started = true;
    }

    // outputFile: where standard output goes instead of to the test; inChild: what the child does to itself
    // before it runs vellport (async-signal-safe calls only).
    Outcome run(const std::vector<std::string>& arguments, const char* outputFile = nullptr,
                const std::function<void()>& inChild = {}) {
        QProcess process;
        if (outputFile != nullptr) {
            process.setStandardOutputFile(QString::fromUtf8(outputFile));
        }
        if (inChild) {
            process.setChildProcessModifier(inChild);
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : m_environment) {
            environment.insert(QString::fromStdString(name), QString::fromStdString(value));
        }
        process.setProcessEnvironment(environment);
        QStringList list;
        for (const std::string& argument : arguments) {
            list << QString::fromStdString(argument);
        }
        process.start(QStringLiteral(VELLPORT_PATH), list);
        Outcome outcome;
        if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit) {
            return outcome;
        }
        outcome.status = process.exitCode();
        outcome.out = process.readAllStandardOutput().toStdString();
        outcome.err = process.readAllStandardError().toStdString();
        return outcome;
    }

    QJsonObject runJson(const std::vector<std::string>& arguments) {
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(outcome.out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << outcome.out;
        return document.object();
    }

    const TempDir m_temp;
    const std::string m_dir = m_temp.path();
    std::string m_config;
    std::string m_mapFile;
    std::string m_link;
    std::map<std::string, std::string> m_environment;
    Simulator m_simulator;
    bool m_started = false;
};

// Standard output a pipe whose reader has gone (as after | head -1), and SIGPIPE as a shell leaves it.
void closedPipe() {
    int ends[2];
    if (::pipe(ends) == 0) {
        ::close(ends[0]);
        ::dup2(ends[1], STDOUT_FILENO);
        ::close(ends[1]);
    }
    ::signal(SIGPIPE, SIG_DFL);
}

struct SendCase {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<std::string> optionIni; // written to config/VellSetting/Option.ini
    int mappedPort;                       // the COM number pointed at devsim
    const char* event;
    const char* bytes;
    int rate;
};

void PrintTo(const SendCase& row, std::ostream* out) {
    *out << row.name;
}

class Send : public VellPort, public testing::WithParamInterface<SendCase> {};

TEST_P(Send, DeliversTheCommandAtTheRate) {
    const SendCase& row = GetParam();
    startSimulator();
    m_environment["VELLPORT_COM" + std::to_string(row.mappedPort)] = m_link;
    if (row.optionIni) {
        writeFile(m_config + "/VellSetting/Option.ini", *row.optionIni);
    }
    const Outcome outcome = run(row.arguments);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(m_simulator.readLine(), event(row.event, row.bytes, row.rate));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Send,
    testing::Values(
        SendCase{"OnAtTheGivenPortAndRate",
                 {"send", "on", "--port", "COM3", "--baud", "19200"},
                 std::nullopt,
                 3,
                 "on",
                 "1B 27 0A 01",
                 19200},
        SendCase{"OffInDeviceNamespaceForm",
                 {"send", "off", "--port=\\\\.\\COM12", "--baud=115200"},
                 std::nullopt,
                 12,
                 "off",
                 "1B 27 0A 00",
                 115200},
        SendCase{"NoSettingsFileIsCom1At9600", {"send", "off"}, std::nullopt, 1, "off", "1B 27 0A 00", 9600},
        SendCase{"PortAndRateFromOptionIni",
                 {"send", "on"},
                 "[COMM]\r\nPort=COM5\r\nBaud=4\r\n",
                 5,
                 "on",
                 "1B 27 0A 01",
                 38400},
        SendCase{"UnknownStoredPortIsCom2",
                 {"send", "off"},
                 "[COMM]\nPort=LPT1\nBaud=0\n",
                 2,
                 "off",
                 "1B 27 0A 00",
                 2400},
        SendCase{"GivenPortStoredRate",
                 {"send", "on", "--port", "COM7"},
                 "[COMM]\nPort=COM1\nBaud=6\n",
                 7,
                 "on",
                 "1B 27 0A 01",
                 115200},
        SendCase{"GivenRateOutranksABadStoredIndex",
                 {"send", "off", "--baud", "57600"},
                 "[COMM]\nPort=\\\\.\\COM12\nBaud=9\n",
                 12,
                 "off",
                 "1B 27 0A 00",
                 57600}),
    [](const testing::TestParamInfo<SendCase>& info) { return std::string{info.param.name}; });

TEST_F(VellPort, SendTakesTheSettingsFileGiven) {
    startSimulator();
    m_environment["VELLPORT_COM4"] = m_link;
    writeFile(m_dir + "/elsewhere.ini", "[COMM]\nPort=com4\nBaud=1\n");
    writeFile(m_config + "/VellSetting/Option.ini", "[COMM]\nPort=COM9\nBaud=7\n");
    const Outcome outcome = run({"send", "on", "--settings", m_dir + "/elsewhere.ini"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(m_simulator.readLine(), event("on", "1B 27 0A 01", 4800));
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<std::string> optionIni;
    int status;
    const char* errorPart;
};

void PrintTo(const RefusalCase& row, std::ostream* out) {
    *out << row.name;
}

class SendRefused : public VellPort, public testing::WithParamInterface<RefusalCase> {};

TEST_P(SendRefused, SendsNothingAndSaysWhy) {
    const RefusalCase& row = GetParam();
    startSimulator();
    m_environment["VELLPORT_COM1"] = m_link;
    m_environment["VELLPORT_COM4"] = m_dir + "/unplugged";
    if (row.optionIni) {
        writeFile(m_config + "/VellSetting/Option.ini", *row.optionIni);
    }
    // A FIFO without a writer: opening it to read would wait for ever.
    ASSERT_EQ(::mkfifo((m_dir + "/fifo").c_str(), 0600), 0);
    writeFile(m_dir + "/huge", "");
    // Sparse: no disk is used, but reading it whole would take 64 GiB of memory.
    fs::resize_file(m_dir + "/huge", std::uintmax_t{64} << 30);
    std::vector<std::string> arguments = row.arguments;
    for (std::string& argument : arguments) {
        if (argument.starts_with("@DIR")) {
            argument.replace(0, 4, m_dir);
        }
    }
    const Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_NE(outcome.err.find(row.errorPart), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("Usage:"), std::string::npos) << "a usage error is one line, not the help";
    EXPECT_EQ(outcome.err.find("VellPortDll: "), std::string::npos)
        << "the library's line comes once, in ours";
    EXPECT_EQ(outcome.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SendRefused,
    testing::Values(
        RefusalCase{
            "StoredIndexPastTheList", {"send", "on"}, "[COMM]\nPort=COM1\nBaud=7\n", 2, "selects no rate"},
        RefusalCase{
            "StoredIndexNegative", {"send", "off"}, "[COMM]\nPort=COM1\nBaud=-1\n", 2, "selects no rate"},
        // One line: where the name leads, the result and the library's reason.
        RefusalCase{"MissingDeviceIsOneLineWithTheReason",
                    {"send", "on", "--port", "COM4", "--baud", "9600"},
                    std::nullopt,
                    1,
                    "/unplugged  failed (no device): no such device  "},
        RefusalCase{"NotAComName", {"send", "on", "--port", "LPT1"}, std::nullopt, 2, "not a port name"},
        RefusalCase{"ZeroRate", {"send", "on", "--baud", "0"}, std::nullopt, 2, "not a rate"},
        RefusalCase{"NegativeRate", {"send", "on", "--baud", "-9600"}, std::nullopt, 2, "not a rate"},
        RefusalCase{"NeitherOnNorOff", {"send", "dim"}, std::nullopt, 2, "on or off"},
        RefusalCase{"OptionOfAnotherCommand",
                    {"send", "on", "--system"},
                    std::nullopt,
                    2,
                    "takes no option --system"},
        RefusalCase{
            "UnknownShortOption", {"send", "on", "-x"}, std::nullopt, 2, "vellport: send takes no option -x"},
        RefusalCase{"UnknownCommand", {"blink"}, std::nullopt, 2, "unknown command"},
        RefusalCase{"TargetsFileIsAFifo",
                    {"send", "on", "--port", "COM1", "--targets", "@DIR/fifo", "--baud", "9600"},
                    std::nullopt,
                    2,
                    "not a regular file"},
        RefusalCase{"HugeTargetsFileIsNotRead",
                    {"send", "on", "--targets", "@DIR/huge", "--baud", "9600"},
                    std::nullopt,
                    2,
                    "larger than 1 MiB"},
        RefusalCase{"HugeSettingsFileIsNotRead",
                    {"send", "on", "--settings", "@DIR/huge"},
                    std::nullopt,
                    2,
                    "is larger than 1 MiB: not a settings file"},
        RefusalCase{"ToARelativePath",
                    {"send", "on", "--to", "ttyUSB0", "--baud", "9600"},
                    std::nullopt,
                    2,
                    "--to: 'ttyUSB0' is neither a COM name nor a target"},
        // Short, with one line that works, never the whole help.
        RefusalCase{"NoCommand", {}, std::nullopt, 2, "vellport: no command given, e.g.: vellport list\n"},
        RefusalCase{"SendWithoutState",
                    {"send"},
                    std::nullopt,
                    2,
                    "vellport: send needs on or off, e.g.: vellport send on --port COM3\n"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string{info.param.name}; });

struct MapCase {
    const char* name;
    std::optional<std::string> before; // nullopt: no map file
    std::vector<std::string> arguments;
    int status;
    std::optional<std::string> after; // nullopt: as before, byte for byte (or still absent)
    const char* errorPart;
};

void PrintTo(const MapCase& row, std::ostream* out) {
    *out << row.name;
}

class MapEdit : public VellPort, public testing::WithParamInterface<MapCase> {};

const std::string kHeader =
    "# COM name map of the VellPortDll port link library, read again at every call.\n";
const std::string kMine =
    "# my displays\r\nCOM1=/dev/ttyS0\r\n\r\n#COM3=/dev/old\r\nCOM3 = /dev/a\r\nCOM3=/dev/b";

TEST_P(MapEdit, KeepsTheRestOrRefusesWithoutWriting) {
    const MapCase& row = GetParam();
    if (row.before) {
        writeFile(m_mapFile, *row.before);
    }
    fs::create_directories(m_dir + "/folder");
    const Outcome outcome = run(row.arguments);
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    EXPECT_NE(outcome.err.find(row.errorPart), std::string::npos) << outcome.err;
    const std::optional<std::string> expected = row.after ? row.after : row.before;
    if (!expected) {
        EXPECT_FALSE(fs::exists(m_mapFile));
    } else if (row.after && !row.before) {
        const std::string written = ReadBytes(m_mapFile);
        EXPECT_TRUE(written.starts_with(kHeader)) << written;
        EXPECT_TRUE(written.ends_with(*row.after)) << written;
    } else {
        EXPECT_EQ(ReadBytes(m_mapFile), *expected);
    }
    // No temporary file is left beside the map.
    if (fs::exists(m_config + "/VellPortDll")) {
        EXPECT_EQ(std::distance(fs::directory_iterator(m_config + "/VellPortDll"), fs::directory_iterator()),
                  row.before || row.after ? 1 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MapEdit,
    testing::Values(
        MapCase{"NewFileGetsHeaderAndLine",
                std::nullopt,
                {"map", "COM3", "/dev/null"},
                0,
                "\nCOM3=/dev/null\n",
                ""},
        MapCase{"ReplacesFirstActiveLineOnly",
                kMine,
                {"map", "\\\\.\\com3", "/dev/null"},
                0,
                "# my displays\r\nCOM1=/dev/ttyS0\r\n\r\n#COM3=/dev/old\r\nCOM3=/dev/null\r\nCOM3=/dev/b",
                ""},
        MapCase{
            "AppendsANewName", kMine, {"map", "COM12", "/dev/null"}, 0, kMine + "\nCOM12=/dev/null\n", ""},
        MapCase{"UnpluggedAdapterWithAWarning",
                kMine,
                {"map", "COM12", "/dev/ttyUSB77"},
                0,
                kMine + "\nCOM12=/dev/ttyUSB77\n",
                "does not exist now"},
        MapCase{"UnmapRemovesEveryActiveLine",
                kMine,
                {"unmap", "COM3"},
                0,
                "# my displays\r\nCOM1=/dev/ttyS0\r\n\r\n#COM3=/dev/old\r\n",
                ""},
        MapCase{"UnmapWithoutAFileCreatesNone", std::nullopt, {"unmap", "COM3"}, 0, std::nullopt, ""},
        MapCase{"RefusesAFolder", kMine, {"map", "COM3", "/tmp"}, 2, std::nullopt, "not a character device"},
        MapCase{"RefusesARegularFile",
                kMine,
                {"map", "COM3", "/proc/version"},
                2,
                std::nullopt,
                "not a character device"},
        MapCase{"RefusesARelativePath",
                kMine,
                {"map", "COM3", "ttyUSB0"},
                2,
                std::nullopt,
                "not an absolute device path"},
        MapCase{"RefusesALineBreak",
                kMine,
                {"map", "COM3", "/dev/x\nCOM4=/dev/y"},
                2,
                std::nullopt,
                "line break"},
        MapCase{
            "RefusesANonComName", kMine, {"map", "LPT1", "/dev/null"}, 2, std::nullopt, "not a port name"},
        MapCase{"RefusesAMissingDevice",
                std::nullopt,
                {"map", "COM3"},
                2,
                std::nullopt,
                "e.g.: vellport map COM3 /dev/"},
        // An endpoint is checked for its form only: nothing is connected.
        MapCase{"AnEndpointUrl",
                kMine,
                {"map", "COM5", "rfc2217://counter-pi:2001"},
                0,
                kMine + "\nCOM5=rfc2217://counter-pi:2001\n",
                ""},
        MapCase{"RefusesAnEndpointWithoutPort",
                kMine,
                {"map", "COM5", "rfc2217://counter-pi"},
                2,
                std::nullopt,
                "no :PORT after the host, e.g.: vellport map COM5 rfc2217://counter-pi:2001\n"},
        MapCase{"RefusesAFolderWithoutCreatingTheFile",
                std::nullopt,
                {"map", "COM3", "/tmp"},
                2,
                std::nullopt,
                "not a character device"}),
    [](const testing::TestParamInfo<MapCase>& info) { return std::string{info.param.name}; });

TEST_F(VellPort, AMapFileThatCannotBeWrittenFailsWithTheReason) {
    // The map's folder is a file: it cannot be made.
    writeFile(m_config + "/VellPortDll", "");
    Outcome outcome = run({"map", "COM3", "/dev/null"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot create the folder of " + m_mapFile), std::string::npos) << outcome.err;
    // The map file is a folder: it cannot be replaced.
    fs::remove(m_config + "/VellPortDll");
    fs::create_directories(m_mapFile);
    outcome = run({"unmap", "COM3"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("cannot write " + m_mapFile + ": Is a directory"), std::string::npos)
        << outcome.err;
}

TEST_F(VellPort, MapOfAnAdapterNodeSuggestsItsStableName) {
    startSimulator();
    const std::string node = m_dir + "/dev/ttyUSB0";
    fs::create_symlink(fs::read_symlink(m_link), node);
    fs::create_directories(m_dir + "/dev/serial/by-id");
    const std::string stable = m_dir + "/dev/serial/by-id/usb-Vell_Display_A1-if00-port0";
    fs::create_symlink("../../ttyUSB0", stable);
    const Outcome outcome = run({"map", "COM3", node});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("its stable name is " + stable), std::string::npos) << outcome.err;
}

TEST_F(VellPort, ListAndDevicesAgreeWithTheMapping) {
    startSimulator();
    const std::string terminal = fs::read_symlink(m_link).string();
    ASSERT_EQ(run({"map", "COM3", m_link}).status, 0);
    ASSERT_EQ(run({"map", "COM40", m_dir + "/unplugged"}).status, 0);
    writeFile(m_mapFile, ReadBytes(m_mapFile) + "COM41=tcp://box:2002 # lobby\n");
    m_environment["VELLPORT_COM5"] = terminal;

    const Outcome listed = run({"list", "--json"});
    EXPECT_EQ(listed.status, 1) << "a name that leads nowhere is a failure";
    std::map<std::string, QJsonObject> ports;
    for (const QJsonValue port :
         QJsonDocument::fromJson(QByteArray::fromStdString(listed.out))["ports"].toArray()) {
        ports[port["port"].toString().toStdString()] = port.toObject();
    }
    EXPECT_EQ(ports.size(), 32u) << "COM1 to COM30, the mapped COM40 and COM41 whose line is not valid";
    EXPECT_TRUE(ports["COM41"]["error"].toString().contains("not a valid map line")) << listed.out;
    EXPECT_EQ(ports["COM3"]["device"].toString().toStdString(), m_link);
    EXPECT_EQ(ports["COM3"]["rule"], "user-map");
    EXPECT_EQ(ports["COM3"]["mapFile"].toString().toStdString(), m_mapFile);
    EXPECT_EQ(ports["COM3"]["state"], "present");
    EXPECT_EQ(ports["COM3"]["realPath"].toString().toStdString(), terminal);
    EXPECT_EQ(ports["COM5"]["rule"], "environment");
    EXPECT_EQ(ports["COM5"]["state"], "present");
    EXPECT_EQ(ports["COM40"]["state"], "missing");
    EXPECT_EQ(ports["COM40"]["realPath"], QJsonValue(QJsonValue::Null));
    EXPECT_EQ(ports["COM2"]["rule"], "default");
    EXPECT_EQ(ports["COM2"]["device"], "/dev/ttyS1");

    const QJsonArray devices = runJson({"devices", "--json"})["devices"].toArray();
    ASSERT_EQ(devices.size(), 1) << "the stand-in system has only the pseudo-terminal";
    EXPECT_EQ(devices[0]["path"].toString().toStdString(), terminal);
    EXPECT_EQ(devices[0]["ports"], QJsonArray({"COM3", "COM5"}));
    EXPECT_EQ(devices[0]["details"]["usb"], false);

    const Outcome text = run({"list"});
    EXPECT_NE(text.out.find("COM3 \u2192 " + m_link + " (present) [user-map " + m_mapFile + "]\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("COM41 \u2192 " + m_mapFile + ":"), std::string::npos) << text.out;
    // The map is read at every call: an unmap shows at once.
    ASSERT_EQ(run({"unmap", "COM3"}).status, 0);
    EXPECT_EQ(runJson({"devices", "--json"})["devices"][0]["ports"], QJsonArray({"COM5"}));
}

// Every command that writes to standard output, run with it on a full disk.
class OutputLost : public VellPort, public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(OutputLost, IsAFailureWithTheReason) {
    const Outcome outcome = run(GetParam(), "/dev/full");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.err.ends_with("vellport: cannot write standard output: No space left on device\n"))
        << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, OutputLost,
    testing::Values(std::vector<std::string>{"list"}, std::vector<std::string>{"list", "--json"},
                    std::vector<std::string>{"devices"}, std::vector<std::string>{"devices", "--json"},
                    std::vector<std::string>{"map", "COM3", "/dev/null"},
                    std::vector<std::string>{"unmap", "COM3"}, std::vector<std::string>{"probe"},
                    std::vector<std::string>{"--help"}, std::vector<std::string>{"--version"}),
    [](const testing::TestParamInfo<std::vector<std::string>>& info) {
        std::string name;
        for (const std::string& argument : info.param) {
            for (const char c : argument) {
                name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
            }
        }
        return name;
    });

TEST_F(VellPort, PathBytesSurviveJsonAndTextFollowsTheLocale) {
    const std::string strange = m_dir + "/tty\xff\xfe" + "A";
    writeFile(m_mapFile, "COM7=" + strange + "\n");
    const QJsonArray ports = runJson({"list", "--json"})["ports"].toArray();
    const QJsonObject com7 = ports[6].toObject();
    ASSERT_EQ(com7["port"], "COM7");
    EXPECT_EQ(QByteArray::fromHex(com7["deviceHex"].toString().toLatin1()).toStdString(), strange);
    EXPECT_TRUE(com7["device"].toString().contains(QChar(0xFFFD)));
    EXPECT_FALSE(ports[0].toObject().contains("deviceHex")) << "UTF-8 paths carry no hex";

    m_environment["LC_ALL"] = "C";
    const Outcome text = run({"list"});
    EXPECT_NE(text.out.find("COM1 -> /dev/ttyS0 ("), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("\u2192"), std::string::npos) << text.out;
}

TEST_F(VellPort, SendToManyReportsEachTargetThenTheSummary) {
    startSimulator();
    Simulator second;
    Simulator third;
    const std::string secondLink = m_dir + "/ttyVELL2";
    const std::string thirdLink = m_dir + "/ttyVELL3";
    ASSERT_TRUE(second.start({"--json", "--link", secondLink}));
    ASSERT_TRUE(third.start({"--json", "--link", thirdLink}));
    m_environment["VELLPORT_COM3"] = m_link;
    m_environment["VELLPORT_COM9"] = m_dir + "/unplugged";
    // COM3 three times: as given, in its other form, and as the device it leads to.
    writeFile(m_dir + "/displays.txt",
              "# the shop\r\n\n  " + thirdLink + "  \r\n#COM4\nCOM9\n\\\\.\\com3\n" + m_link + "\n");
    const std::vector<std::string> arguments{
        "--port", "COM3", "--to", secondLink, "--targets", m_dir + "/displays.txt", "--baud", "19200"};
    const auto send = [&](const char* state, std::vector<std::string> options,
                          const std::function<void()>& inChild = {}) {
        options.insert(options.begin(), {"send", state});
        return run(options, nullptr, inChild);
    };
    const auto expectEvents = [&](const char* name, const char* bytes, std::vector<Simulator*> simulators) {
        for (Simulator* simulator : simulators) {
            EXPECT_EQ(simulator->readLine(), event(name, bytes, 19200));
        }
    };
    const std::vector<Simulator*> all{&m_simulator, &second, &third};

    const Outcome text = send("on", arguments);
    EXPECT_EQ(text.status, 1) << text.err;
    for (const std::string& line : std::vector<std::string>{
             "COM3 \u2192 " + m_link + "  ok  ",
             "\\\\.\\com3 \u2192 " + m_link + " (same display as COM3)  ok  ",
             m_link + " (same display as COM3)  ok  ", secondLink + "  ok  ", thirdLink + "  ok  ",
             "COM9 \u2192 " + m_dir + "/unplugged  failed (no device): no such device  "}) {
        EXPECT_NE(("\n" + text.out).find("\n" + line), std::string::npos) << line << " in\n" << text.out;
    }
    EXPECT_TRUE(text.out.ends_with(" ms\n6 targets (4 distinct): 5 ok, 1 VELLPORT_ERR_NO_DEVICE\n"))
        << text.out;
    expectEvents("on", "1B 27 0A 01", all);

    std::vector<std::string> json = arguments;
    json.push_back("--json");
    const Outcome off = send("off", json);
    EXPECT_EQ(off.status, 1) << off.err;
    const QJsonObject document = QJsonDocument::fromJson(QByteArray::fromStdString(off.out)).object();
    EXPECT_EQ(document["summary"].toObject(),
              QJsonObject({{"targets", 6}, {"distinct", 4}, {"ok", 5}, {"VELLPORT_ERR_NO_DEVICE", 1}}));
    EXPECT_EQ(document["targets"][0]["leadsTo"].toString().toStdString(), m_link);
    EXPECT_EQ(document["targets"][0]["delivery"], "confirmed");
    EXPECT_EQ(document["targets"][3]["target"], "COM9");
    EXPECT_EQ(document["targets"][3]["result"], "VELLPORT_ERR_NO_DEVICE");
    EXPECT_EQ(document["targets"][3]["delivery"], QJsonValue(QJsonValue::Null));
    EXPECT_EQ(document["targets"][5]["sameAs"], 0);
    expectEvents("off", "1B 27 0A 00", all);

    // Quiet: the failure and the summary; nothing at all when every display switched.
    std::vector<std::string> quiet = arguments;
    quiet.push_back("-q");
    const Outcome failures = send("on", quiet);
    EXPECT_TRUE(failures.out.starts_with("COM9 \u2192 ")) << failures.out;
    EXPECT_EQ(std::count(failures.out.begin(), failures.out.end(), '\n'), 2) << failures.out;
    expectEvents("on", "1B 27 0A 01", all);
    const Outcome success =
        send("off", {"--to", secondLink, "--to", thirdLink, "--baud", "19200", "--quiet"});
    EXPECT_EQ(success.status, 0) << success.err;
    EXPECT_EQ(success.out, "");
    expectEvents("off", "1B 27 0A 00", {&second, &third});

    // The reader goes away before the first line: one display after the other, every one still switches.
    std::vector<std::string> piped = arguments;
    piped.insert(piped.end(), {"--parallel", "1"});
    const Outcome closed = send("on", piped, closedPipe);
    EXPECT_EQ(closed.status, 1) << closed.err;
    EXPECT_TRUE(closed.err.ends_with("vellport: cannot write standard output: Broken pipe\n")) << closed.err;
    expectEvents("on", "1B 27 0A 01", all);
    EXPECT_EQ(second.stop(), std::vector<std::string>{});
    EXPECT_EQ(third.stop(), std::vector<std::string>{});
}

// A listener that never accepts: its kernel takes the bytes, and the connection stays open to the bound.
TEST_F(VellPort, ARawServerThatKeepsTheConnectionOpenIsOnlyAcknowledged) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7F000004); // 127.0.0.4, a loopback address of this test's own
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "tcp://127.0.0.4:" + std::to_string(ntohs(address.sin_port));

    const Outcome text = run({"send", "on", "--to", url, "--baud", "9600"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(text.out.starts_with(url + "  ok (acknowledged only: the server kept the connection open; "
                                           "raw TCP: the rate was not set)  "))
        << text.out;
    EXPECT_TRUE(text.out.ends_with(" ms\n1 target: 0 ok, 1 acknowledged only\n")) << text.out;
    const Outcome strict = run({"send", "on", "--to", url, "--baud", "9600", "--json", "--strict"});
    EXPECT_EQ(strict.status, 1) << strict.err;
    const QJsonObject document = QJsonDocument::fromJson(QByteArray::fromStdString(strict.out)).object();
    EXPECT_EQ(document["targets"][0]["delivery"], "acknowledged");
    EXPECT_EQ(document["summary"]["acknowledged"], 1);
    ::close(listener);
}

// Root is exempt from RLIMIT_NPROC, so as root the limit is tried on the user nobody.
TEST_F(VellPort, AThreadLimitSendsOnFewerThreadsAndEveryTargetGetsItsLine) {
    const bool root = ::geteuid() == 0;
    if (root && !CanBecomeNobody()) {
        GTEST_SKIP() << "root ignores RLIMIT_NPROC, and there is no user nobody to try the limit on";
    }
    const uid_t uid = root ? NobodyUid() : ::getuid();
    const gid_t gid = root ? NobodyGid() : ::getgid();
    std::vector<std::string> arguments{"send", "on", "--baud", "9600", "--parallel", "200"};
    for (int host = 1; host <= 5; ++host) {
        arguments.insert(arguments.end(), {"--to", "tcp://127.0.0." + std::to_string(host) + ":1"});
    }
    // LeakSanitizer's own thread at exit (a sanitizer build) would be refused by the same limit.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    m_environment["ASAN_OPTIONS"] = std::string(sanitizer != nullptr ? sanitizer : "") + ":detect_leaks=0";
    const Outcome outcome = run(arguments, nullptr, [root, uid, gid] {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(125);
        }
        // The process itself is the one task its user may have: not one thread more.
        const rlimit one{1, 1};
        ::setrlimit(RLIMIT_NPROC, &one);
    });
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_NE(outcome.err.find("the system refuses more threads"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.out.find("\n5 targets: 0 ok, 5 VELLPORT_ERR_REFUSED\n"), std::string::npos)
        << outcome.out;
}

TEST_F(VellPort, ProbeTakesTheNetworkNamesOfTheMap) {
    writeFile(m_mapFile, "COM5=rfc2217://nothing.invalid:2001\nCOM6=/dev/null\n");
    const Outcome all = run({"probe", "--baud", "9600"});
    EXPECT_EQ(all.status, 1);
    EXPECT_TRUE(all.out.starts_with("COM5 \u2192 rfc2217://nothing.invalid:2001  ")) << all.out;
    EXPECT_TRUE(all.out.find("\n1 target: 0 ok, 1 VELLPORT_ERR_") != std::string::npos) << all.out;
    const Outcome device = run({"probe", "COM6", "--baud", "9600"});
    EXPECT_EQ(device.status, 1);
    EXPECT_TRUE(device.out.starts_with("COM6 \u2192 /dev/null  not a network endpoint  ")) << device.out;
    EXPECT_EQ(run({"probe", "/dev/null"}).status, 2);
}

// An mDNS responder on loopback that answers any question with ser2net's adverts on counter.local
// (127.0.0.1), one per argument "NAME;TXT;TXT...", ports from 2001; it prints the port it listens on.
constexpr const char* kResponder = R"(import socket, struct, sys
def name(n): return b''.join(bytes([len(l)]) + l.encode() for l in n.split('.')) + b'\0'
def rr(n, t, d): return name(n) + struct.pack('>HHIH', t, 0x8001, 120, len(d)) + d
recs = [rr('counter.local', 1, socket.inet_aton('127.0.0.1'))]
for port, arg in enumerate(sys.argv[1:], 2001):
    inst, *txt = arg.split(';')
    full = inst + '._iostream._tcp.local'
    recs += [rr('_iostream._tcp.local', 12, name(full)), rr(full, 16, b''.join(bytes([len(e)]) + e.encode() for e in txt)),
             rr(full, 33, struct.pack('>HHH', 0, 0, port) + name('counter.local'))]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('127.0.0.1', 0))
print(s.getsockname()[1], flush=True)
while True:
    q, a = s.recvfrom(9000)
    s.sendto(q[:2] + struct.pack('>5H', 0x8400, 0, len(recs), 0, 0) + b''.join(recs), a))";

struct DiscoverCase {
    const char* name;
    std::vector<std::string> adverts; // none: a port where nobody answers
    std::vector<std::string> arguments;
    std::string mapFile;
    int status;
    std::vector<std::string> shown;
    std::string absent;
};

void PrintTo(const DiscoverCase& row, std::ostream* out) {
    *out << row.name;
}

class Discover : public VellPort, public testing::WithParamInterface<DiscoverCase> {};

TEST_P(Discover, ShowsTheAdvertsWithReadyMapLines) {
    const DiscoverCase& row = GetParam();
    QProcess responder;
    std::string address = "255.255.255.255:5353";
    if (!row.adverts.empty()) {
        QStringList arguments{"-c", kResponder};
        for (const std::string& advert : row.adverts) {
            arguments << QString::fromStdString(advert);
        }
        responder.start("python3", arguments);
        if (!responder.waitForReadyRead(10000)) {
            GTEST_SKIP() << "no python3 to answer as an mDNS responder";
        }
        address = "127.0.0.1:" + responder.readLine().trimmed().toStdString();
    } else if (row.status == 0) {
        address = "127.0.0.1:9"; // the discard port: nobody answers
    }
    m_environment["VELLPORT_MDNS_ADDRESS"] = address;
    // Free names are judged against the machine's own sysfs, where a ttyS node without a UART is free.
    m_environment.erase("VELLPORT_SYSFS_ROOT");
    m_environment.erase("VELLPORT_DEV_ROOT");
    writeFile(m_mapFile, row.mapFile);
    std::vector<std::string> arguments{"discover"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const Outcome outcome = run(arguments);
    responder.kill();
    responder.waitForFinished();
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    for (const std::string& line : row.shown) {
        EXPECT_NE((outcome.out + outcome.err).find(line), std::string::npos) << outcome.out << outcome.err;
    }
    EXPECT_TRUE(row.absent.empty() || outcome.out.find(row.absent) == std::string::npos) << outcome.out;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Discover,
    testing::Values(
        DiscoverCase{
            "PlainAndRawTakeTheFirstFreeNames",
            {"front;provider=ser2net;gensiostack=telnet(rfc2217),tcp;location=front desk",
             "raw;provider=ser2net;gensiostack=tcp"},
            {},
            "COM1=/dev/null\n",
            0,
            {"front  rfc2217://127.0.0.1:2001\n  host counter.local port 2001 (127.0.0.1), stack "
             "telnet(rfc2217),tcp\n  location=front desk\n  vellport map COM2 rfc2217://127.0.0.1:2001\n",
             "  vellport map COM3 tcp://127.0.0.1:2002\n2 displays answered within 1 s; adverts are "
             "unauthenticated"},
            ""},
        DiscoverCase{"AMappedUrlIsNamedNotMappedAgain",
                     {"front;provider=ser2net;gensiostack=telnet(rfc2217),tcp"},
                     {"--seconds", "0.3"},
                     "COM7=rfc2217://127.0.0.1:2001\n",
                     0,
                     {"  mapped as COM7\n"},
                     "vellport map"},
        DiscoverCase{
            "CertauthAndOtherProvidersGetNoMapLine",
            {"lab;provider=ser2net;gensiostack=telnet(rfc2217),certauth,ssl,tcp",
             "printer;provider=cups;gensiostack=tcp"},
            {"--seconds", "0.3"},
            "",
            0,
            {"lab  not supported: certauth (ser2net's own login before the data)\n", "1 display answered"},
            "vellport map"},
        DiscoverCase{"JsonForScripts",
                     {"tls;provider=ser2net;gensiostack=telnet(rfc2217),ssl,tcp;baud=9600n81"},
                     {"--json", "--seconds", "0.3"},
                     "COM1=/dev/null\n",
                     0,
                     {"\"url\": \"rfc2217+tls://127.0.0.1:2001\"", "\"baud\": \"9600n81\"",
                      "\"map\": \"vellport map COM2 rfc2217+tls://127.0.0.1:2001\"", "\"mappedAs\": null"},
                     ""},
        DiscoverCase{"NobodyAnsweringIsNoFailure",
                     {},
                     {"--seconds", "0.3"},
                     "",
                     0,
                     {"no displays answered within 0.3 s\n"},
                     ""},
        DiscoverCase{"NothingSentIsAFailure",
                     {},
                     {"--seconds", "0.3"},
                     "",
                     1,
                     {"vellport: discover: cannot send to 255.255.255.255:5353: Permission denied\n"},
                     ""},
        DiscoverCase{"ABoundOutOfRangeIsUsage",
                     {},
                     {"--seconds", "0"},
                     "",
                     2,
                     {"vellport: '0' is not a number of seconds from 0.01 to 60"},
                     ""}),
    [](const testing::TestParamInfo<DiscoverCase>& info) { return std::string{info.param.name}; });

// ser2net's own adverts through a real avahi-daemon, in a network and mount namespace of the test's own.
TEST_F(VellPort, DiscoverFindsSer2netThroughAvahi) {
    QProcess process;
    process.start("unshare",
                  {"-nm", "bash", DISCOVER_AVAHI_SCRIPT, VELLPORT_PATH, QString::fromStdString(m_dir)});
    if (!process.waitForFinished(60000)) {
        GTEST_SKIP() << "no unshare to run in";
    }
    const std::string out = process.readAllStandardOutput().toStdString();
    const std::string err = process.readAllStandardError().toStdString();
    if (process.exitCode() == 77 || err.starts_with("unshare:")) {
        GTEST_SKIP() << err;
    }
    EXPECT_EQ(process.exitCode(), 0) << err;
    EXPECT_NE(out.find("back-raw  tcp://10.9.0.1:2002\n"), std::string::npos) << out;
    EXPECT_NE(out.find("front-desk  rfc2217://10.9.0.1:2001\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  location=front desk\n  baud=9600n81\n"), std::string::npos) << out;
}

TEST_F(VellPort, HelpAndVersion) {
    const Outcome help = run({"send", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("map COM<n> TARGET [--system]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("probe [COM<n>|URL]... [--baud RATE] [--settings FILE]"), std::string::npos)
        << help.out;
    EXPECT_NE(run({"discover", "--help"}).out.find("adverts are unauthenticated"), std::string::npos);
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vellport " VELL_PRODUCT_VERSION "\n");
}

} // namespace
