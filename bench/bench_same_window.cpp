// Reference for the start-up figures: the settings window written the plain Qt way, with nothing of the
// program behind it. The same controls, English texts, font, size and focus, a 32x32 icon, shown modally; no
// skin, no port library, no settings file, no version record. Positions are the window's dialog units scaled
// to the given size, so every control sits where the program puts it.
#include "FirstFrameCloser.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

namespace {

// The window's own extent in dialog units: pixels = units * size / extent.
constexpr int kUnitsWide = 266;
constexpr int kUnitsHigh = 120;

struct Scaler {
    int width;
    int height;
    QRect operator()(int x, int y, int cx, int cy) const {
        return {x * width / kUnitsWide, y * height / kUnitsHigh, cx * width / kUnitsWide,
                cy * height / kUnitsHigh};
    }
};

template <typename W>
W* Place(W* widget, const QRect& where) {
    widget->setGeometry(where);
    return widget;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT FONT-FAMILY POINT-SIZE\n", argv[0]);
        return 2;
    }
    app.installEventFilter(new FirstFrameCloser(&app));
    const Scaler at{std::atoi(argv[1]), std::atoi(argv[2])};
    QFont font(QString::fromUtf8(argv[3]));
    font.setPointSize(std::atoi(argv[4]));
    QApplication::setFont(font);

    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("VellSetting-1.0.0.0"));
    QImage pixels(32, 32, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(QColor(0x2a, 0x6f, 0xb0));
    dialog.setWindowIcon(QIcon(QPixmap::fromImage(pixels)));
    dialog.setFixedSize(at.width, at.height);

    Place(new QGroupBox(QStringLiteral("Communications setting"), &dialog), at(6, 3, 253, 39));
    Place(new QGroupBox(QStringLiteral("Screen saver setting"), &dialog), at(7, 49, 252, 40));
    auto* portLabel = Place(new QLabel(QStringLiteral("Port:"), &dialog), at(10, 25, 28, 8));
    auto* baudLabel = Place(new QLabel(QStringLiteral("Baud:"), &dialog), at(135, 23, 28, 8));
    for (QLabel* label : {portLabel, baudLabel})
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);

    auto* ports = Place(new QComboBox(&dialog), at(41, 22, 90, 14));
    for (int n = 1; n <= 30; ++n)
        ports->addItem(n < 10 ? QStringLiteral("COM%1").arg(n) : QStringLiteral("\\\\.\\COM%1").arg(n));
    ports->setCurrentIndex(2);
    auto* bauds = Place(new QComboBox(&dialog), at(165, 22, 90, 14));
    for (const char* rate : {"2400", "4800", "9600", "19200", "38400", "57600", "115200"})
        bauds->addItem(QString::fromLatin1(rate));
    bauds->setCurrentIndex(6);

    // The address control: four fields in a frame, hidden while a COM port is chosen.
    auto* address = Place(new QFrame(&dialog), at(165, 19, 90, 15));
    auto* row = new QHBoxLayout(address);
    row->setContentsMargins(1, 1, 1, 1);
    for (int i = 0; i < 4; ++i) {
        auto* field = new QLineEdit(QString::number(i == 0 ? 192 : 10), address);
        field->setMaxLength(3);
        field->setFrame(false);
        row->addWidget(field);
    }
    address->hide();

    const char* buttons[] = {"Open", "Close", "Default"};
    for (int i = 0; i < 3; ++i)
        Place(new QPushButton(QString::fromLatin1(buttons[i]), &dialog), at(40 + 79 * i, 67, 50, 14));
    auto* exit = Place(new QPushButton(QStringLiteral("Exit"), &dialog), at(198, 99, 50, 14));
    QObject::connect(exit, &QPushButton::clicked, &dialog, &QDialog::reject);

    ports->setFocus(Qt::OtherFocusReason);
    dialog.exec();
    return 0;
}
