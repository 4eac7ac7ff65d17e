// VellSetting: the serial display settings utility.
#include "SettingsApp.h"
#include "ui/LibraryCalls.h"

#include <QApplication>
#include <clocale>
#include <csignal>
#include <cstdlib>

int main(int argc, char* argv[]) {
    // The settings store's code page follows the user's locale.
    std::setlocale(LC_ALL, "");
    // Past a file size limit (ulimit -f) a write then fails with EFBIG, so a save fails as on a full disk:
    // the old file stays and the temporary one goes, instead of the signal killing the program mid-save.
    std::signal(SIGXFSZ, SIG_IGN);
    // Wayland compositors tie the window to the menu entry and its icon by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELL_APP_ID));
    // The program reads no command line: Qt would take -style, -reverse, -platform and the like from it, so
    // it gets the program's name alone. QT_* environment variables still apply.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {qtArgc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    CSettingsApp settingsApp(app);
    settingsApp.InitInstance();
    // The run's result is never examined: however the window closed, the program succeeded. A send still
    // under way when the window closed is given the rest of its bound; a call still inside the library after
    // that must not have the library's statics destroyed under it by exit().
    if (!libraryCallsEnded())
        std::_Exit(0);
    return 0;
}
