// The window's event loop while its sends wait for a silent host (URL given): how late a call posted to the
// window's thread every 10 ms runs, while three presses of "Open" (6 s of sends) are under way and the port
// list opens and closes, against the same send made on the window's thread itself.
#include "BenchFolder.h"
#include "VellPortDll.h"
#include "settings/Profile.h"
#include "ui/PortWorker.h"
#include "ui/SettingsDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// How late each call posted every 10 ms ran, in ms, while work ran on the window's thread.
std::vector<double> lateness(QApplication& app, const std::function<void()>& work) {
    std::vector<double> late;
    std::atomic<bool> probing{true};
    std::thread prober([&] {
        while (probing) {
            const auto posted = Clock::now();
            QMetaObject::invokeMethod(
                &app,
                [&late, posted] {
                    late.push_back(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    work();
    probing = false;
    prober.join();
    QApplication::processEvents();
    std::sort(late.begin(), late.end());
    return late;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: bench_window URL-OF-A-SILENT-HOST\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    ::setenv("VELLPORT_COM1", argv[1], 1);
    VellPortSetErrorLines(0);
    const BenchFolder folder("vell-window-bench");
    g_strIniPath = folder.file("Option.ini");

    CSettingsDlg window;
    window.show();
    const auto* worker = window.findChild<PortWorker*>();
    auto* open = window.findChild<QPushButton*>(QStringLiteral("id1004"));
    auto* ports = window.findChild<QComboBox*>(QStringLiteral("id1000"));
    QTimer lists; // the operator opens and closes the port list meanwhile
    QObject::connect(&lists, &QTimer::timeout,
                     [ports] { ports->view()->isVisible() ? ports->hidePopup() : ports->showPopup(); });
    const auto sendsStart = Clock::now();
    const std::vector<double> late = lateness(app, [&] {
        for (int press = 0; press < 3; ++press)
            open->click();
        lists.start(100);
        while (worker->sendsPending() > 0)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        lists.stop();
    });
    const double sends = std::chrono::duration<double, std::milli>(Clock::now() - sendsStart).count();
    const unsigned char on[] = {0x1B, 0x27, 0x0A, 0x01};
    const std::vector<double> reference = lateness(app, [&] { SendData("COM1", on, sizeof on); });
    // "window_ms median p99 max samples sends_ms reference_max_ms"
    std::printf("window_ms %.2f %.2f %.2f %zu %.0f %.0f\n", late[late.size() / 2],
                late[late.size() * 99 / 100], late.back(), late.size(), sends, reference.back());
    return 0;
}
