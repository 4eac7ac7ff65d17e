// End to end: the real VellSetting with the real port link library and devsim, driven by keys on a real X
// server, and shown by a headless Wayland compositor.
#include "Files.h"
#include "Simulator.h"
#include "TempDir.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kStartBound{20s};
constexpr std::chrono::milliseconds kStepBound{10s};
constexpr std::chrono::milliseconds kPoll{50ms};

struct ToolResult {
    int exitCode = -1;
    QString output;
};

// Runs a short-lived tool to its end, within a bound.
ToolResult RunTool(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(static_cast<int>(kStepBound.count()))) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput())};
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds bound) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > bound.count()) {
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(kPoll.count()));
    }
    return true;
}

// One virtual X server for the whole run, with xdotool to type and ImageMagick's import to take screenshots;
// tests skip when any of them is missing or the server cannot be started.
class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        s_xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        s_import = QStandardPaths::findExecutable(QStringLiteral("import"));
        if (xvfb.isEmpty() || s_xdotool.isEmpty() || s_import.isEmpty()) {
            s_skipReason =
                "Xvfb, xdotool or ImageMagick's import is not installed (scripts/install-deps brings "
                "all three)";
            return;
        }
        // -displayfd 1: the server picks a free display and prints its number once it accepts clients;
        // -noreset: no reset (and refused connections) each time the last client leaves.
        m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                              QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-noreset"),
                              QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QByteArray number;
        const bool ready = WaitFor(
            [&] {
                m_server.waitForReadyRead(static_cast<int>(kPoll.count()));
                number += m_server.readAllStandardOutput();
                return number.contains('\n') || m_server.state() == QProcess::NotRunning;
            },
            kStartBound);
        if (!ready || !number.contains('\n')) {
            s_skipReason = "Xvfb did not start: " + m_server.readAllStandardError().toStdString();
            return;
        }
        s_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }
    void TearDown() override {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(static_cast<int>(kStepBound.count()))) {
                m_server.kill();
                m_server.waitForFinished();
            }
        }
    }

    static inline QString s_display;
    static inline QString s_xdotool;
    static inline QString s_import;
    static inline std::string s_skipReason;

private:
    QProcess m_server;
};

[[maybe_unused]] const auto* const g_xvfb = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

// A headless Wayland compositor of the test's own, with its socket in the test's runtime folder.
class Weston {
public:
    static constexpr const char* kSocket = "vell-wayland-0";

    explicit Weston(const QString& runtimeDir) {
        const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
        if (weston.isEmpty()) {
            m_failure = "weston is not installed (scripts/install-deps brings it)";
            return;
        }
        const QString log = runtimeDir + QStringLiteral("/weston.log");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_process.setProcessEnvironment(environment);
        // It logs to its log file; its helper clients' output is of no interest.
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(weston, {QStringLiteral("--backend=headless-backend.so"),
                                 QStringLiteral("--socket=%1").arg(QLatin1String(kSocket)),
                                 QStringLiteral("--idle-time=0"), QStringLiteral("--no-config"),
                                 QStringLiteral("--log=%1").arg(log)});
        const QString socket = runtimeDir + QLatin1Char('/') + QLatin1String(kSocket);
        const bool listening =
            WaitFor([&] { return QFileInfo::exists(socket) || m_process.state() == QProcess::NotRunning; },
                    kStartBound);
        if (!listening || !QFileInfo::exists(socket)) {
            m_failure = "weston did not start: " + ReadLog(log).right(2000).toStdString();
        }
    }
    ~Weston() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(static_cast<int>(kStepBound.count()))) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;

    // Why the compositor is not there; empty when it listens.
    const std::string& Failure() const { return m_failure; }

private:
    static QByteArray ReadLog(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no log)");
    }

    QProcess m_process;
    std::string m_failure;
};

// What a Wayland client's debug output (WAYLAND_DEBUG=client) says it did with its toplevel windows.
struct WaylandToplevel {
    QString appId;                // the last set_app_id on any toplevel
    bool bufferCommitted = false; // a buffer attached to a toplevel's surface and committed
};

WaylandToplevel ReadWaylandRequests(const QString& log) {
    static const QRegularExpression xdgSurface(QStringLiteral(
        "-> xdg_wm_base@\\d+\\.get_xdg_surface\\(new id xdg_surface@(\\d+), wl_surface@(\\d+)\\)"));
    static const QRegularExpression toplevel(
        QStringLiteral("-> xdg_surface@(\\d+)\\.get_toplevel\\(new id xdg_toplevel@(\\d+)\\)"));
    static const QRegularExpression appId(
        QStringLiteral("-> xdg_toplevel@(\\d+)\\.set_app_id\\(\"([^\"]*)\"\\)"));
    static const QRegularExpression attach(QStringLiteral("-> wl_surface@(\\d+)\\.attach\\(wl_buffer@\\d+,"));
    static const QRegularExpression commit(QStringLiteral("-> wl_surface@(\\d+)\\.commit\\(\\)"));

    QHash<QString, QString> surfaceOfXdgSurface;
    QSet<QString> toplevelSurfaces;
    QSet<QString> toplevels;
    QSet<QString> attached;
    WaylandToplevel seen;
    for (const QString& line : log.split(QLatin1Char('\n'))) {
        if (const auto match = xdgSurface.match(line); match.hasMatch()) {
            surfaceOfXdgSurface.insert(match.captured(1), match.captured(2));
        } else if (const auto match = toplevel.match(line); match.hasMatch()) {
            toplevelSurfaces.insert(surfaceOfXdgSurface.value(match.captured(1)));
            toplevels.insert(match.captured(2));
        } else if (const auto match = appId.match(line);
                   match.hasMatch() && toplevels.contains(match.captured(1))) {
            seen.appId = match.captured(2);
        } else if (const auto match = attach.match(line); match.hasMatch()) {
            attached.insert(match.captured(1));
        } else if (const auto match = commit.match(line); match.hasMatch()) {
            seen.bufferCommitted = seen.bufferCommitted || (attached.contains(match.captured(1)) &&
                                                            toplevelSurfaces.contains(match.captured(1)));
        }
    }
    return seen;
}

std::string IniText(const std::string& port, int baudIndex) {
    return "[COMM]\r\nPort=" + port + "\r\nBaud=" + std::to_string(baudIndex) +
           "\r\nIP1=10\r\nIP2=0\r\nIP3=0\r\nIP4=5\r\n";
}

std::optional<std::string> DevsimLine(bool on, int baudIndex) {
    return std::string("screen saver ") + (on ? "ON  (" : "OFF (") +
           kBaudList.at(static_cast<std::size_t>(baudIndex)) + " 8N1)";
}

// One run of the program in a working folder of the test's own, with every COM name mapped to devsim.
class AppRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (UsesXServer() && !XvfbEnvironment::s_skipReason.empty()) {
            GTEST_SKIP() << XvfbEnvironment::s_skipReason;
        }
        m_work = Temp(QStringLiteral("work"));
        ASSERT_TRUE(QDir().mkpath(m_work));
        ASSERT_TRUE(QDir().mkpath(Temp(QStringLiteral("home/.config"))));
        ASSERT_TRUE(m_devsim.start({"--link", m_temp.file("display.tty")}))
            << "devsim printed no terminal path";
    }

    void TearDown() override {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished();
        }
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), XvfbEnvironment::s_display);
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("HOME"), Temp(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Temp(QStringLiteral("home/.config")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(m_temp.path()));
        environment.insert(QStringLiteral("PATH"), QString::fromStdString(m_temp.path()) +
                                                       QStringLiteral(":") + environment.value("PATH"));
        for (int n = 1; n <= 30; ++n) {
            environment.insert(QStringLiteral("VELLPORT_COM%1").arg(n),
                               QString::fromStdString(m_devsim.firstLine()));
        }
        return environment;
    }

    // A run on a Wayland compositor needs no X server.
    virtual bool UsesXServer() const { return true; }

    QString Temp(const QString& name) const {
        return QString::fromStdString(m_temp.file(name.toStdString()));
    }
    QString IniPath() const { return m_work + QStringLiteral("/Option.ini"); }
    std::string Ini() const { return IniPath().toStdString(); }

    // Starts the program as a client of the compositor on the Wayland socket in the test's runtime folder and
    // waits until it has committed a buffer to its toplevel; the protocol debug output goes to m_waylandLog.
    void StartOnWayland() {
        QProcessEnvironment environment = Environment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QLatin1String(Weston::kSocket));
        environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
        m_program.setWorkingDirectory(m_work);
        m_program.setProcessEnvironment(environment);
        m_program.setProcessChannelMode(QProcess::SeparateChannels);
        m_program.start(QStringLiteral(VELLSETTING_EXE), {});
        ASSERT_TRUE(m_program.waitForStarted(static_cast<int>(kStepBound.count())));
        const bool shown = WaitFor(
            [&] {
                m_program.waitForReadyRead(static_cast<int>(kPoll.count()));
                m_waylandLog += QString::fromLocal8Bit(m_program.readAllStandardError());
                return ReadWaylandRequests(m_waylandLog).bufferCommitted ||
                       m_program.state() == QProcess::NotRunning;
            },
            kStartBound);
        ASSERT_TRUE(shown && m_program.state() == QProcess::Running)
            << "no buffer committed to a toplevel; output:\n"
            << m_waylandLog.right(3000).toStdString();
    }

    // Starts the program and waits until its window is visible and has the keyboard.
    void Start(const QString& program = QStringLiteral(VELLSETTING_EXE), const QStringList& arguments = {}) {
        m_program.setWorkingDirectory(m_work);
        m_program.setProcessEnvironment(m_environment ? *m_environment : Environment());
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        m_program.start(program, arguments);
        ASSERT_TRUE(m_program.waitForStarted(static_cast<int>(kStepBound.count())));
        const QString pid = QString::number(m_program.processId());
        const bool shown = WaitFor(
            [&] {
                const ToolResult found = Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--pid"), pid});
                m_window = found.output.section(QLatin1Char('\n'), 0, 0).trimmed();
                return !m_window.isEmpty() || m_program.state() == QProcess::NotRunning;
            },
            kStartBound);
        ASSERT_TRUE(shown && !m_window.isEmpty()) << "no visible window";
        std::printf("VellSetting window shown %lld ms after start\n",
                    static_cast<long long>(timer.elapsed()));
        ASSERT_EQ(Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window}).exitCode, 0);
    }

    void Keys(const QStringList& keys) {
        QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")};
        ASSERT_EQ(Xdotool(arguments + keys).exitCode, 0) << keys.join(' ').toStdString();
    }

    // Waits for the program's end; its exit status, or -1 when a signal ended it.
    int Finish() {
        if (!m_program.waitForFinished(static_cast<int>(kStepBound.count()))) {
            return -2;
        }
        return m_program.exitStatus() == QProcess::NormalExit ? m_program.exitCode() : -1;
    }

    ToolResult Xdotool(const QStringList& arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), XvfbEnvironment::s_display);
        return RunTool(XvfbEnvironment::s_xdotool, arguments, environment);
    }

    // The colour "#RRGGBB" of one pixel of the window.
    QString PixelColour(int x, int y) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), XvfbEnvironment::s_display);
        const ToolResult pixel = RunTool(XvfbEnvironment::s_import,
                                         {QStringLiteral("-window"), m_window, QStringLiteral("-crop"),
                                          QStringLiteral("1x1+%1+%2").arg(x).arg(y),
                                          QStringLiteral("+repage"), QStringLiteral("txt:-")},
                                         environment);
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("srgb\\((\\d+),(\\d+),(\\d+)\\)")).match(pixel.output);
        if (!match.hasMatch()) {
            return {};
        }
        return QStringLiteral("#%1%2%3")
            .arg(match.captured(1).toInt(), 2, 16, QLatin1Char('0'))
            .arg(match.captured(2).toInt(), 2, 16, QLatin1Char('0'))
            .arg(match.captured(3).toInt(), 2, 16, QLatin1Char('0'))
            .toUpper();
    }

    // The whole window as the X server shows it.
    QImage WindowImage() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), XvfbEnvironment::s_display);
        QProcess import;
        import.setProcessEnvironment(environment);
        import.start(XvfbEnvironment::s_import,
                     {QStringLiteral("-window"), m_window, QStringLiteral("png:-")});
        if (!import.waitForFinished(static_cast<int>(kStepBound.count()))) {
            import.kill();
            import.waitForFinished();
            return {};
        }
        return QImage::fromData(import.readAllStandardOutput(), "PNG");
    }

    const TempDir m_temp;
    std::optional<QProcessEnvironment> m_environment; // set: the program runs with this, not Environment()
    QString m_waylandLog;
    QString m_work;
    Simulator m_devsim;
    QProcess m_program;
    QString m_window;
};

std::string Port(const QString& ini) {
    return IniReadString(kCommSection, "Port", "?", ini.toStdString());
}
int Baud(const QString& ini) {
    return IniReadInt(kCommSection, "Baud", -99, ini.toStdString());
}

// ---- The operator's run: keys reach the device at the rate in force, the choices are saved.

struct KeyboardRow {
    const char* name;
    std::string storedPort; // "": no settings file
    int storedBaud;
    QStringList keysInBaudList; // pressed while the baud list has the focus
    std::string savedPort;
    int savedBaud;
};

class KeyboardRun : public AppRun, public ::testing::WithParamInterface<KeyboardRow> {};

TEST_P(KeyboardRun, OpenAndCloseReachTheDeviceAndTheChoiceIsSaved) {
    const KeyboardRow& row = GetParam();
    if (!row.storedPort.empty()) {
        WriteBytes(Ini(), IniText(row.storedPort, row.storedBaud));
    }
    Start();
    // Focus starts in the port list; Tab to the baud list, then to "Open" and "Close".
    Keys(QStringList{QStringLiteral("Tab")} + row.keysInBaudList +
         QStringList{QStringLiteral("Tab"), QStringLiteral("space"), QStringLiteral("Tab"),
                     QStringLiteral("space")});
    EXPECT_EQ(m_devsim.readLine(kStepBound), DevsimLine(true, row.savedBaud));
    EXPECT_EQ(m_devsim.readLine(kStepBound), DevsimLine(false, row.savedBaud));
    Keys({QStringLiteral("Escape")});
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(m_devsim.stop(), std::vector<std::string>{}) << "the device got more than Open and Close";
    EXPECT_EQ(Port(IniPath()), row.savedPort);
    EXPECT_EQ(Baud(IniPath()), row.savedBaud);
    // The address is written back as stored, or as its defaults on a first run.
    const bool stored = !row.storedPort.empty();
    EXPECT_EQ(IniReadInt(kCommSection, "IP1", -1, Ini()), stored ? 10 : 192);
    EXPECT_EQ(IniReadInt(kCommSection, "IP4", -1, Ini()), stored ? 5 : 10);
}

INSTANTIATE_TEST_SUITE_P(
    App, KeyboardRun,
    ::testing::Values(KeyboardRow{"StoredRate38400OnCom3", "COM3", 4, {}, "COM3", 4},
                      KeyboardRow{
                          "DownInTheBaudListChooses57600", "COM3", 4, {QStringLiteral("Down")}, "COM3", 5},
                      KeyboardRow{"DeviceNamespacePortCom12", "\\\\.\\COM12", 6, {}, "\\\\.\\COM12", 6},
                      KeyboardRow{"FirstRunWithoutSettingsFileUsesCom1At9600", "", -1, {}, "COM1", 2}),
    [](const ::testing::TestParamInfo<KeyboardRow>& info) { return std::string(info.param.name); });

// ---- Signals: the closing ones save like "Exit", SIGKILL loses the run's choices.

struct SignalRow {
    const char* name;
    int signalNumber;
    bool saves;
    int exitCode;             // -1: ended by the signal
    rlim_t fileSizeLimit = 0; // bytes the program may write to one file (ulimit -f); 0: no limit
};

class SignalRun : public AppRun, public ::testing::WithParamInterface<SignalRow> {};

TEST_P(SignalRun, SettingsAreSavedOnlyWhenTheWindowCanClose) {
    const SignalRow& row = GetParam();
    // Another section makes the file bigger than the port's lock file, so a limit can fall between the two.
    const std::string stored = IniText("COM3", 4) + "[Notes]\r\nText=" + std::string(400, 'n') + "\r\n";
    WriteBytes(Ini(), stored);
    if (row.fileSizeLimit != 0) {
        const rlim_t limit = row.fileSizeLimit;
        m_program.setChildProcessModifier([limit] {
            const rlimit fileSize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        });
    }
    Start();
    // Choose 57600 and press "Open": the device's line proves the choice has been made before the signal.
    Keys({QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("space")});
    ASSERT_EQ(m_devsim.readLine(kStepBound), DevsimLine(true, 5));

    ASSERT_EQ(::kill(static_cast<pid_t>(m_program.processId()), row.signalNumber), 0);
    EXPECT_EQ(Finish(), row.exitCode);
    if (row.saves) {
        EXPECT_EQ(Port(IniPath()), "COM3");
        EXPECT_EQ(Baud(IniPath()), 5);
    } else {
        EXPECT_EQ(ReadBytes(Ini()), stored);
    }
    // No temporary file of a save is left beside the settings file.
    EXPECT_EQ(QDir(m_work).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')).toStdString(),
              "Option.ini");
}

INSTANTIATE_TEST_SUITE_P(
    App, SignalRun,
    ::testing::Values(SignalRow{"SigtermSaves", SIGTERM, true, 0}, SignalRow{"SigintSaves", SIGINT, true, 0},
                      SignalRow{"SighupSaves", SIGHUP, true, 0},
                      SignalRow{"SigkillLeavesTheFileAsItWas", SIGKILL, false, -1},
                      // Room for less than the file: the save fails as on a full disk.
                      SignalRow{"FileSizeLimitFailsTheSaveAndTheProgramGoesOn", SIGTERM, false, 0, 256}),
    [](const ::testing::TestParamInfo<SignalRow>& info) { return std::string(info.param.name); });

// Closing with two presses queued behind a send to a silent host saves at once, drops them, and ends within
// the bound of the send under way (2 s, the wire time and the library's 100 ms of overrun), not after three.
TEST_F(AppRun, SigtermWithPressesQueuedBehindASilentHostEndsWithinOneBound) {
    Simulator silent;
    ASSERT_TRUE(silent.start({"--rfc2217-server", "0", "--silent"}));
    WriteBytes(Ini(), IniText("COM3", 4));
    m_environment = Environment();
    m_environment->insert(QStringLiteral("VELLPORT_COM3"),
                          QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.ports().at(0)));
    Start();
    Keys(QStringLiteral("Tab Down Tab space space space").split(' ')); // 57600, then "Open" three times
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(static_cast<pid_t>(m_program.processId()), SIGTERM), 0);
    const bool savedWhileSending =
        WaitFor([&] { return Baud(IniPath()) == 5 || m_program.state() == QProcess::NotRunning; },
                kStepBound) &&
        m_program.state() == QProcess::Running;
    EXPECT_EQ(Finish(), 0);
    const auto took = (std::chrono::steady_clock::now() - signalled) / 1ms;
    EXPECT_LE(took, 2000 + 2 * 40 * 1000 / 57600 + 1 + 100 + 500) << "500 ms for the exit itself";
    EXPECT_TRUE(savedWhileSending) << "Baud=" << Baud(IniPath());
}

// ---- The working folder.

TEST_F(AppRun, WorkingFolderLongerThan260BytesHoldsTheSettingsFile) {
    const QString segment(60, QLatin1Char('d'));
    for (int level = 0; level < 5; ++level) {
        m_work += QLatin1Char('/') + segment;
    }
    ASSERT_GT(m_work.toLocal8Bit().size(), 260);
    ASSERT_TRUE(QDir().mkpath(m_work));
    const bool rootFileBefore = QFile::exists(QStringLiteral("/Option.ini"));

    Start();
    Keys({QStringLiteral("Escape")});
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Port(IniPath()), "COM1");
    EXPECT_EQ(Baud(IniPath()), 2);
    if (!rootFileBefore) {
        EXPECT_FALSE(QFile::exists(QStringLiteral("/Option.ini")));
    }
}

// ---- The skin: applied when it is a readable style sheet, ignored otherwise; the window shows either way.

struct SkinRow {
    const char* name;
    std::optional<std::string> skin; // nothing: no skin file
    bool applied;
    bool fifo = false; // the skin's name is a FIFO no one writes to
};

class SkinRun : public AppRun, public ::testing::WithParamInterface<SkinRow> {};

std::string ShippedSkin() {
    return ReadBytes(VELL_SKIN_FILE);
}

TEST_P(SkinRun, WindowShowsWithOrWithoutTheSkin) {
    const SkinRow& row = GetParam();
    if (row.skin) {
        WriteBytes((m_work + QStringLiteral("/XPCorona.ssk")).toStdString(), *row.skin);
    }
    if (row.fifo) {
        ASSERT_EQ(::mkfifo((m_work + QStringLiteral("/XPCorona.ssk")).toLocal8Bit().constData(), 0644), 0);
    }
    Start();
    // A corner of the dialog's own background, outside every control.
    const QString background = PixelColour(2, 2);
    Keys({QStringLiteral("Escape")});
    EXPECT_EQ(Finish(), 0);
    ASSERT_TRUE(QRegularExpression(QStringLiteral("^#[0-9A-F]{6}$")).match(background).hasMatch())
        << "no screenshot taken: \"" << background.toStdString() << "\"";
    EXPECT_EQ(background == QStringLiteral("#ECE9D8"), row.applied) << background.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    App, SkinRun,
    ::testing::Values(
        SkinRow{"ShippedSkinIsApplied", ShippedSkin(), true}, SkinRow{"NoSkinFile", std::nullopt, false},
        SkinRow{"NotUtf8IsIgnored", std::string("QDialog { background: #ece9d8; } ") + "\xff\xfe\x80", false},
        SkinRow{"GarbageTextStillShowsTheWindow", "}}}{{ not a style sheet ;;; @@@", false},
        SkinRow{"EmptyFile", "", false}, SkinRow{"FifoNoOneWritesToIsNotWaitedOn", std::nullopt, false, true},
        SkinRow{"OverTheSizeBoundIsIgnored", ShippedSkin() + std::string(1 << 20, ' '), false}),
    [](const ::testing::TestParamInfo<SkinRow>& info) { return std::string(info.param.name); });

// ---- F1 opens the help page at the window's topic, in the window's language: from the installed data folder
// beside the program, or next to the program file in a build tree.

struct HelpRow {
    const char* name;
    const char* lang;
    bool installed;       // run from a copied tree prefix/bin with its pages in prefix/share/vellsetting
    bool chinesePage;     // the tree holds the Chinese page as well as the English one
    const char* expected; // the page opened, relative to the program's folder
    // The Chinese page's name is a FIFO no one writes to.
    bool chineseFifo = false;
};

class HelpRun : public AppRun, public ::testing::WithParamInterface<HelpRow> {};

TEST_P(HelpRun, F1OpensTheHelpPageAtTheWindowsAnchor) {
    const HelpRow& row = GetParam();
    // A stand-in for the desktop's opener records what it was asked to show.
    const std::string opened = m_temp.file("opened.txt");
    const std::string opener = m_temp.file("xdg-open");
    WriteBytes(opener, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + opened + "'\n");
    ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(opener),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    QString program = QStringLiteral(VELLSETTING_EXE);
    if (row.installed) {
        const QString bin = Temp(QStringLiteral("prefix/bin"));
        const QString data = Temp(QStringLiteral("prefix/share/vellsetting"));
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(data));
        ASSERT_TRUE(QFile::copy(program, bin + QStringLiteral("/VellSetting")));
        program = bin + QStringLiteral("/VellSetting");
        QStringList pages{QStringLiteral("VellSetting.html")};
        if (row.chinesePage) {
            pages << QStringLiteral("VellSetting.zh_CN.html");
        }
        for (const QString& page : pages) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(VELL_RES_DIR "/") + page, data + QLatin1Char('/') + page));
        }
        if (row.chineseFifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(data + QStringLiteral("/VellSetting.zh_CN.html")), 0644), 0);
        }
    }
    m_environment = Environment();
    m_environment->insert(QStringLiteral("LANG"), QString::fromLatin1(row.lang));
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) {
        m_environment->remove(QString::fromLatin1(variable));
    }

    Start(program);
    Keys({QStringLiteral("F1")});
    const auto called = [&] {
        const std::string text = ReadBytes(opened);
        return text != "<absent>" && !text.empty();
    };
    ASSERT_TRUE(WaitFor(called, kStepBound)) << "the opener was not called";
    Keys({QStringLiteral("Escape")});
    EXPECT_EQ(Finish(), 0);
    const QString url = QString::fromStdString(ReadBytes(opened)).trimmed();
    const QString expected = QStringLiteral("file://") +
                             QDir::cleanPath(QFileInfo(program).absolutePath() + QLatin1Char('/') +
                                             QString::fromLatin1(row.expected)) +
                             QStringLiteral("#IDD_SETTINGS");
    EXPECT_EQ(url.toStdString(), expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    App, HelpRun,
    ::testing::Values(
        HelpRow{"EnglishNextToTheProgram", "en_US.UTF-8", false, true, "VellSetting.html"},
        HelpRow{"ChineseNextToTheProgram", "zh_CN.UTF-8", false, true, "VellSetting.zh_CN.html"},
        HelpRow{"TaiwanChineseWindowIsEnglish", "zh_TW.UTF-8", false, true, "VellSetting.html"},
        HelpRow{"InstalledTreeEnglish", "en_GB.UTF-8", true, true, "../share/vellsetting/VellSetting.html"},
        HelpRow{"InstalledTreeChinese", "zh_CN.UTF-8", true, true,
                "../share/vellsetting/VellSetting.zh_CN.html"},
        HelpRow{"InstalledTreeWithoutChinesePageOpensEnglish", "zh_CN.GB18030", true, false,
                "../share/vellsetting/VellSetting.html"},
        HelpRow{"ChinesePageThatIsAFifoIsPassedOver", "zh_CN.UTF-8", true, false,
                "../share/vellsetting/VellSetting.html", true}),
    [](const ::testing::TestParamInfo<HelpRow>& info) { return std::string(info.param.name); });

// ---- No command line: Qt's own options leave the window exactly as it is without them.

struct QtOptionsRow {
    const char* name;
    QStringList arguments;
};

class QtOptionsRun : public AppRun, public ::testing::WithParamInterface<QtOptionsRow> {};

TEST_P(QtOptionsRun, WindowIsUnchanged) {
    // A style sheet that would paint the window red, were the option read.
    WriteBytes(m_temp.file("red.qss"), "QDialog { background: #ff0000; }");
    Start();
    const QImage plain = WindowImage();
    Keys({QStringLiteral("Escape")});
    ASSERT_EQ(Finish(), 0);
    ASSERT_FALSE(plain.isNull());

    QStringList arguments = GetParam().arguments;
    arguments.replaceInStrings(QStringLiteral("@TEMP@"), QString::fromStdString(m_temp.path()));
    Start(QStringLiteral(VELLSETTING_EXE), arguments);
    const QImage withOptions = WindowImage();
    Keys({QStringLiteral("Escape")});
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(withOptions.size(), plain.size());
    EXPECT_TRUE(withOptions == plain) << arguments.join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    App, QtOptionsRun,
    ::testing::Values(
        QtOptionsRow{"Reverse", {QStringLiteral("-reverse")}},
        QtOptionsRow{"StyleWindows", {QStringLiteral("-style"), QStringLiteral("windows")}},
        QtOptionsRow{"StyleSheet", {QStringLiteral("-stylesheet"), QStringLiteral("@TEMP@/red.qss")}},
        QtOptionsRow{"PlatformOffscreenAndMore",
                     {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-reverse"),
                      QStringLiteral("-style"), QStringLiteral("fusion")}}),
    [](const ::testing::TestParamInfo<QtOptionsRow>& info) { return std::string(info.param.name); });

// ---- The desktop ties the window to the menu entry: by its window class on X11, by its app id on Wayland.

enum class Session { X11, Wayland };

struct IdentityRow {
    const char* name;
    Session session;
};

// A key's value in the installed desktop entry; "" when it has none.
QString DesktopEntryValue(const QString& key) {
    const QString entry = QString::fromStdString(ReadBytes(VELL_DESKTOP_ENTRY));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^%1=(.*)$").arg(key), QRegularExpression::MultilineOption)
            .match(entry);
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

class DesktopIdentityRun : public AppRun, public ::testing::WithParamInterface<IdentityRow> {
protected:
    void SetUp() override {
        if (GetParam().session == Session::Wayland) {
            m_weston.emplace(QString::fromStdString(m_temp.path()));
            if (!m_weston->Failure().empty()) {
                GTEST_SKIP() << "no Wayland compositor: " << m_weston->Failure();
            }
        }
        AppRun::SetUp();
    }
    void TearDown() override {
        AppRun::TearDown();
        m_weston.reset();
    }
    bool UsesXServer() const override { return GetParam().session == Session::X11; }

    // The X11 window class: the second string of WM_CLASS.
    QString WindowClass() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), XvfbEnvironment::s_display);
        const ToolResult found =
            RunTool(QStringLiteral("xprop"), {QStringLiteral("-id"), m_window, QStringLiteral("WM_CLASS")},
                    environment);
        return QRegularExpression(QStringLiteral("WM_CLASS\\(STRING\\) = \"[^\"]*\", \"([^\"]*)\""))
            .match(found.output)
            .captured(1);
    }

    std::optional<Weston> m_weston;
};

TEST_P(DesktopIdentityRun, WindowCarriesTheMenuEntrysIdentityAndClosesOnSigterm) {
    const IdentityRow& row = GetParam();
    QString announced;
    QString expected;
    if (row.session == Session::X11) {
        Start();
        announced = WindowClass();
        expected = DesktopEntryValue(QStringLiteral("StartupWMClass"));
    } else {
        StartOnWayland();
        announced = ReadWaylandRequests(m_waylandLog).appId;
        // The desktop entry's id is its file name without ".desktop".
        expected = QFileInfo(QStringLiteral(VELL_DESKTOP_ENTRY)).completeBaseName();
        EXPECT_EQ(expected.toStdString(), VELL_APP_ID);
    }
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_EQ(announced.toStdString(), expected.toStdString());

    ASSERT_EQ(::kill(static_cast<pid_t>(m_program.processId()), SIGTERM), 0);
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Port(IniPath()), "COM1");
    EXPECT_EQ(Baud(IniPath()), 2);
}

INSTANTIATE_TEST_SUITE_P(
    App, DesktopIdentityRun,
    ::testing::Values(IdentityRow{"X11WindowClassIsTheEntrysStartupWMClass", Session::X11},
                      IdentityRow{"WaylandAppIdIsTheEntrysId", Session::Wayland}),
    [](const ::testing::TestParamInfo<IdentityRow>& info) { return std::string(info.param.name); });

} // namespace
