// Reference for the start-up figure: a bare Qt program showing an empty dialog of the given size until its
// first frame.
#include "FirstFrameCloser.h"

#include <QApplication>
#include <QDialog>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    app.installEventFilter(new FirstFrameCloser(&app));
    QDialog dialog;
    dialog.setFixedSize(std::atoi(argv[1]), std::atoi(argv[2]));
    dialog.exec();
    return 0;
}
