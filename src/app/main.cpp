// VellSetting: the serial display settings utility.
#include "SettingsApp.h"

#include <QApplication>
#include <clocale>
#include <csignal>

int main(int argc, char* argv[]) {
    // The settings store's code page follows the user's locale.
    std::setlocale(LC_ALL, "");
    // Past a file size limit (ulimit -f) a write then fails with EFBIG, so a save fails as on a full disk:
    // the old file stays and the temporary one goes, instead of the signal killing the program mid-save.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    CSettingsApp settingsApp(app);
    settingsApp.InitInstance();
    // The run's result is never examined: however the window closed, the program succeeded.
    return 0;
}
