// VellSetting: the serial display settings utility.
#include "SettingsApp.h"

#include <QApplication>
#include <clocale>

int main(int argc, char* argv[]) {
    // The settings store's code page follows the user's locale.
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    CSettingsApp settingsApp(app);
    settingsApp.InitInstance();
    // The run's result is never examined: however the window closed, the program succeeded.
    return 0;
}
