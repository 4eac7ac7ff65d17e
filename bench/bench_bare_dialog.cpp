// References for the start-up figure: a bare Qt program showing an empty dialog of the given size until its
// first frame, or, given a font and a text, the same dialog with that one line in that font.
#include "FirstFrameCloser.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QLabel>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 3 && argc != 6) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT [FONT-FAMILY POINT-SIZE TEXT]\n", argv[0]);
        return 2;
    }
    app.installEventFilter(new FirstFrameCloser(&app));
    QDialog dialog;
    dialog.setFixedSize(std::atoi(argv[1]), std::atoi(argv[2]));
    if (argc == 6) {
        dialog.setFont(QFont(QString::fromUtf8(argv[3]), std::atoi(argv[4])));
        auto* label = new QLabel(QString::fromUtf8(argv[5]), &dialog);
        label->move(10, 10);
    }
    dialog.exec();
    return 0;
}
