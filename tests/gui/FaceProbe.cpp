// Opens the settings window under the font configuration it is given and prints the face the window drew
// its template font with and the window's size, for the font match test.
#include "settings/Profile.h"
#include "ui/SettingsDlg.h"

#include <QApplication>
#include <QFontInfo>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: FaceProbe SETTINGS-FILE\n");
        return 2;
    }
    g_strIniPath = argv[1];
    QApplication app(argc, argv);
    CSettingsDlg dialog;
    std::printf("%s\n%dx%d\n", QFontInfo(dialog.font()).family().toUtf8().constData(), dialog.width(),
                dialog.height());
    return 0;
}
