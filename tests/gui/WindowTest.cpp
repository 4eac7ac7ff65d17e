// The window as built and as reached: template, texts, icon, face and size; keys, tab order, focus frame
// and what a screen reader says.
#include "SettingsDlgTest.h"

#include <QAccessible>
#include <QColorSpace>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>

namespace {

// The name a screen reader announces. On Linux Qt gives a list its current text as name and its label
// through the labelled-by relation, so a list is announced by its label's name.
QString spokenName(QAccessibleInterface* control) {
    if (control->role() != QAccessible::ComboBox)
        return control->text(QAccessible::Name);
    const auto labels = control->relations(QAccessible::Label);
    return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
}

// The share of the ring one pixel inside r (corners left out for the rounding) that has the colour.
double ringShare(const QImage& shot, const QRect& r, QRgb colour) {
    int hits = 0;
    int total = 0;
    const auto count = [&](int x, int y) {
        ++total;
        hits += (shot.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF) ? 1 : 0;
    };
    for (int x = r.left() + 4; x <= r.right() - 4; ++x) {
        count(x, r.top() + 1);
        count(x, r.bottom() - 1);
    }
    for (int y = r.top() + 4; y <= r.bottom() - 4; ++y) {
        count(r.left() + 1, y);
        count(r.right() - 1, y);
    }
    return total ? double(hits) / total : 0.0;
}

} // namespace

class WindowTest : public SettingsDlgTest {
    Q_OBJECT

private slots:
    void firstRunConfiguresCom1At9600AndSavesDefaults() {
        Open();
        QCOMPARE(RecordedPortCalls().size(), std::size_t{1});
        const PortCall& call = RecordedPortCalls()[0];
        QCOMPARE(call.function, std::string("SetComParam"));
        QCOMPARE(call.port, std::string("COM1"));
        QCOMPARE(call.baud, 9600);
        QCOMPARE(call.dataBits, 8);
        QCOMPARE(call.parity, 'N');
        QCOMPARE(call.stopBits, 1);
        QCOMPARE(call.flow, 0);
        QCOMPARE(Port()->count(), 30);
        QCOMPARE(Port()->currentText(), QStringLiteral("COM1"));
        QCOMPARE(Baud()->currentText(), QStringLiteral("9600"));
        QStringList rates;
        for (int index = 0; index < Baud()->count(); ++index)
            rates << Baud()->itemText(index);
        QCOMPARE(rates, (QStringList{"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
        QVERIFY(Baud()->isVisible());
        QVERIFY(LinkLabel()->isVisible());
        QCOMPARE(LinkLabel()->text(), QStringLiteral("Baud:"));
        QVERIFY(!Address()->isVisible());
        QCOMPARE(m_dlg->findChildren<QGroupBox*>().size(), 2);
        QCOMPARE(QApplication::focusWidget(), Port());
        m_dlg.reset();
        ExpectSaved("COM1", "2");
    }

    // The buttons' texts in the window's language; only the Chinese template carries access keys.
    void buttonTextsFollowTheLanguage_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QStringList>("texts"); // Open, Close, Default, Exit
        QTest::newRow("neutral") << false << QStringList{"Open", "Close", "Default", "Exit"};
        QTest::newRow("Chinese") << true << QStringList{"打开(&O)", "关闭(&C)", "默认设置(&D)", "退出(&E)"};
    }
    void buttonTextsFollowTheLanguage() {
        QFETCH(bool, chinese);
        QFETCH(QStringList, texts);
        Open(chinese);
        const QList<int> ids{IDC_SAVER_ON, IDC_SAVER_OFF, IDC_SAVER_DEFAULT, IDCANCEL};
        for (qsizetype i = 0; i < ids.size(); ++i)
            QCOMPARE(item<QPushButton>(ids[i])->text(), texts[i]);
        QCOMPARE(LinkLabel()->text(), QStringLiteral("Baud:"));
        if (chinese)
            return; // its access keys: ButtonSendTest::chineseAccessKeysPressTheirButtons
        RecordedPortCalls().clear();
        QTest::keyClick(Port(), Qt::Key_C, Qt::AltModifier);
        Settle();
        QCOMPARE(Port()->currentIndex(), 0);
        QVERIFY(RecordedPortCalls().empty());
    }

    // The pixels compiled into the program must be the drawn icon, at the one size the window carries.
    void windowIconIsTheDrawnIcon() {
        const int size = 32;
        Open();
        const QIcon icon = m_dlg->windowIcon();
        QCOMPARE(icon.availableSizes(), (QList<QSize>{{32, 32}}));
        QImage drawn(QStringLiteral(VELL_ICON_DIR "/vellsetting-%1.png").arg(size), "PNG");
        QVERIFY(!drawn.isNull());
        drawn.convertTo(QImage::Format_ARGB32_Premultiplied);
        // The drawn files carry a colour space tag; what must match is the pixels.
        drawn.setColorSpace(QColorSpace());
        QImage shown = icon.pixmap(QSize(size, size), 1.0).toImage();
        shown.convertTo(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(shown.size(), drawn.size());
        QCOMPARE(shown, drawn);
    }

    // Without "宋体" the window takes fontconfig's best Simplified Chinese face, whichever is installed, and
    // its dialog units come from that face: 266 x 120 units at 9 pt are 466 x 210 pixels in WenQuanYi Micro
    // Hei (7 and 14 pixel bases) and 399 x 180 in AR PL SungtiL GB (6 and 12).
    void templateFaceFollowsFontconfig_data() {
        QTest::addColumn<QStringList>("fontDirs");
        QTest::addColumn<QString>("face");
        QTest::addColumn<QString>("size");
        const QString wqy = QStringLiteral("/usr/share/fonts/truetype/wqy");
        const QString sung = QStringLiteral("/usr/share/fonts/truetype/arphic-gbsn00lp");
        QTest::newRow("WenQuanYi only") << QStringList{wqy} << "WenQuanYi Micro Hei"
                                        << "466x210";
        QTest::newRow("AR PL SungtiL GB only") << QStringList{sung} << "AR PL SungtiL GB"
                                               << "399x180";
        // fontconfig ranks the Song face above the sans one for SimSun, whatever else is installed.
        QTest::newRow("both: the Song face wins") << QStringList{wqy, sung} << "AR PL SungtiL GB"
                                                  << "399x180";
    }
    void templateFaceFollowsFontconfig() {
        QFETCH(QStringList, fontDirs);
        QFETCH(QString, face);
        QFETCH(QString, size);
        QString dirs;
        for (const QString& dir : fontDirs) {
            if (!QDir(dir).exists())
                QSKIP(qPrintable(dir + " is missing: scripts/install-deps installs its font"));
            dirs += QStringLiteral("<dir>%1</dir>").arg(dir);
        }
        const QString config = QString::fromStdString(m_dir.file("fonts.conf"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral(
                       "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                       "<fontconfig><dir>%1</dir><cachedir>%2</cachedir>"
                       "<include ignore_missing=\"yes\">/etc/fonts/conf.d</include></fontconfig>\n")
                       .arg(dirs, QString::fromStdString(m_dir.file("fontcache")))
                       .toUtf8());
        file.close();
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("FONTCONFIG_FILE"), config);
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(FACE_PROBE_EXE), {QString::fromStdString(g_strIniPath)});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), face);
        QCOMPARE(lines.value(1), size);
    }

    // Dialog units against pixels worked out by hand for the template's face as installed here (宋体 9 pt
    // drawn with AR PL SungtiL GB, scripts/install-deps): A-Z a-z average 6 pixels a letter, so x and width
    // scale by 6/4; the font is 12 pixels high, so y and height scale by 12/8; halves round up.
    void dialogUnitsAndWindowSize_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QRect>("open");
        QTest::addColumn<QRect>("close");
        QTest::addColumn<QRect>("exit");
        // 266 x 120 units make 399 x 180 pixels; Open (40, 67, 50, 14) makes (60, 100.5, 75, 21), Close
        // starts at 178.5, Exit (198, 99) at (297, 148.5).
        QTest::newRow("neutral") << false << QRect(60, 101, 75, 21) << QRect(179, 101, 75, 21)
                                 << QRect(297, 149, 75, 21);
        // The Chinese buttons are 16 units high and sit higher: Open (40, 66, 50, 16), Exit (198, 97).
        QTest::newRow("Chinese") << true << QRect(60, 99, 75, 24) << QRect(179, 99, 75, 24)
                                 << QRect(297, 146, 75, 24);
    }
    void dialogUnitsAndWindowSize() {
        QFETCH(bool, chinese);
        QFETCH(QRect, open);
        QFETCH(QRect, close);
        QFETCH(QRect, exit);
        Open(chinese);
        QCOMPARE(QFontInfo(m_dlg->font()).family(), QStringLiteral("AR PL SungtiL GB"));
        QCOMPARE(m_dlg->size(), QSize(399, 180));
        QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
        QCOMPARE(item<QPushButton>(IDC_SAVER_ON)->geometry(), open);
        QCOMPARE(item<QPushButton>(IDC_SAVER_OFF)->geometry(), close);
        QCOMPARE(item<QPushButton>(IDCANCEL)->geometry(), exit);
        QVERIFY(!(m_dlg->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QRect area = m_dlg->screen()->availableGeometry();
        QVERIFY(qAbs(m_dlg->geometry().center().x() - area.center().x()) <= 1);
        QVERIFY(!m_dlg->windowIcon().isNull());
        for (QPushButton* button : m_dlg->findChildren<QPushButton*>())
            QVERIFY(!button->isDefault() && !button->autoDefault());
    }

    void keyboardUpAtTopCallsNothing() {
        Open();
        RecordedPortCalls().clear();
        QTest::keyClick(Port(), Qt::Key_Up);
        Settle();
        QCOMPARE(Port()->currentIndex(), 0);
        QVERIFY(RecordedPortCalls().empty());
        QTest::keyClick(Port(), Qt::Key_Down);
        Settle();
        QCOMPARE(Port()->currentText(), QStringLiteral("COM2"));
        QCOMPARE(RecordedPortCalls().size(), std::size_t{1});
        QCOMPARE(RecordedPortCalls()[0].port, std::string("COM2"));
    }

    // Keys in an open list, as the platform's list takes them: each step is a change of selection and
    // configures the port; Enter, F4 and Alt+Up close it keeping the entry, Escape goes back to the one
    // chosen before it opened. Alt with an arrow drops a list and closes it again, as on Windows.
    void keysInAnOpenList_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QKeySequence>("keys"); // the first to the list, the others to its drop-down
        QTest::addColumn<QString>("calls");
        QTest::newRow("port list: each arrow step configures, Enter keeps")
            << IDC_PORT << "COM3" << QKeySequence("Alt+Down, Down, Down, Return") << "COM2 9600, COM3 9600";
        QTest::newRow("port list: F4 keeps the entry")
            << IDC_PORT << "COM2" << QKeySequence("Alt+Down, Down, F4") << "COM2 9600";
        QTest::newRow("baud list: Alt+Up keeps the entry")
            << IDC_BAUD << "4800" << QKeySequence("Alt+Down, Up, Alt+Up") << "COM1 4800";
        QTest::newRow("port list: Escape goes back and configures it again")
            << IDC_PORT << "COM1" << QKeySequence("Alt+Down, Down, Down, Esc")
            << "COM2 9600, COM3 9600, COM1 9600";
        QTest::newRow("baud list: Escape where it was calls nothing more")
            << IDC_BAUD << "9600" << QKeySequence("Alt+Down, Down, Up, Esc") << "COM1 19200, COM1 9600";
        QTest::newRow("port list: Alt+Down, Alt+Up")
            << IDC_PORT << "COM1" << QKeySequence("Alt+Down, Alt+Up") << "";
        QTest::newRow("port list: Alt+Up, Alt+Down")
            << IDC_PORT << "COM1" << QKeySequence("Alt+Up, Alt+Down") << "";
        QTest::newRow("baud list: Alt+Down twice")
            << IDC_BAUD << "9600" << QKeySequence("Alt+Down, Alt+Down") << "";
        QTest::newRow("baud list: Alt+Up twice")
            << IDC_BAUD << "9600" << QKeySequence("Alt+Up, Alt+Up") << "";
    }
    void keysInAnOpenList() {
        QFETCH(int, id);
        QFETCH(QString, shown);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, calls);
        Open();
        QComboBox* list = item<QComboBox>(id);
        list->setFocus();
        RecordedPortCalls().clear();
        QTest::keyClick(list, keys[0].key(), keys[0].keyboardModifiers());
        QTRY_VERIFY_WITH_TIMEOUT(list->view()->isVisible(), 2000);
        for (int i = 1; i < keys.count(); ++i)
            QTest::keyClick(list->view(), keys[i].key(), keys[i].keyboardModifiers());
        QTRY_VERIFY_WITH_TIMEOUT(!list->view()->isVisible(), 2000);
        Settle();
        QCOMPARE(MadeCalls(), calls);
        QCOMPARE(list->currentText(), shown);
        QVERIFY(m_dlg->isVisible());
    }

    void addressEditableByKeyboard() {
        CIPAddressCtrl control;
        control.show();
        QVERIFY(QTest::qWaitForWindowExposed(&control));
        control.setAddressText("0.0.0.0");
        auto fields = control.findChildren<QLineEdit*>();
        fields[0]->setFocus();
        fields[0]->selectAll();
        QTest::keyClicks(QApplication::focusWidget(), "10.");
        QTest::keyClicks(QApplication::focusWidget(), "1");
        QCOMPARE(shownAddress(control), QStringLiteral("10.1.0.0"));
    }

    // What a screen reader says, in the window's language: every control the keyboard reaches (the hidden
    // address and its four fields included) has a name and a role; the labels pair with the lists without
    // taking a key of their own.
    void accessibleNamesFollowTheLanguage_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QStringList>("names"); // port, baud, address, Open, Close, Default, Exit
        QTest::addColumn<QString>("openDescription");
        QTest::newRow("English") << false
                                 << QStringList{"Port", "Baud", "IP", "Open", "Close", "Default", "Exit"}
                                 << "Switches the display's screen saver on.";
        QTest::newRow("Chinese") << true
                                 << QStringList{"端口", "Baud", "IP", "打开", "关闭", "默认设置", "退出"}
                                 << "打开显示屏的屏幕保护。";
    }
    void accessibleNamesFollowTheLanguage() {
        QFETCH(bool, chinese);
        QFETCH(QStringList, names);
        QFETCH(QString, openDescription);
        Open(chinese);
        const QList<int> ids{IDC_PORT,      IDC_BAUD,          IDC_IPADDRESS, IDC_SAVER_ON,
                             IDC_SAVER_OFF, IDC_SAVER_DEFAULT, IDCANCEL};
        const QList<int> roles{QAccessible::ComboBox, QAccessible::ComboBox, QAccessible::Grouping,
                               QAccessible::Button,   QAccessible::Button,   QAccessible::Button,
                               QAccessible::Button};
        for (qsizetype i = 0; i < ids.size(); ++i) {
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(item<QWidget>(ids[i]));
            QVERIFY(control);
            QCOMPARE(spokenName(control), names[i]);
            QCOMPARE(item<QWidget>(ids[i])->accessibleName(), names[i]);
            QCOMPARE(int(control->role()), roles[i]);
            QVERIFY(!control->text(QAccessible::Description).isEmpty());
        }
        QCOMPARE(item<QWidget>(IDC_SAVER_ON)->accessibleDescription(), openDescription);
        int focusable = 0;
        for (QWidget* widget : m_dlg->findChildren<QWidget*>()) {
            // The lists' drop-downs are windows of their own, reached through their list.
            if (!(widget->focusPolicy() & Qt::TabFocus) || widget->window() != m_dlg.get())
                continue;
            ++focusable;
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(control && !spokenName(control).isEmpty());
            QVERIFY(roles.contains(control->role()) || control->role() == QAccessible::EditableText);
        }
        QCOMPARE(focusable, 11); // two lists, the address and its four fields, four buttons
        QCOMPARE(item<QPushButton>(IDC_SAVER_ON)->text(),
                 chinese ? QStringLiteral("打开(&O)") : QStringLiteral("Open"));
        QCOMPARE(LinkLabel()->buddy(), Baud());
    }

    // With the shipped skin the keyboard focus wears a black frame, and only the focused control does.
    void focusFrameMovesWithTab_data() {
        QTest::addColumn<int>("tabs");
        QTest::addColumn<int>("focused");
        QTest::addColumn<int>("previous");
        QTest::newRow("port list at start") << 0 << IDC_PORT << IDC_BAUD;
        QTest::newRow("Tab to baud list") << 1 << IDC_BAUD << IDC_PORT;
        QTest::newRow("Tab to Open") << 2 << IDC_SAVER_ON << IDC_BAUD;
        QTest::newRow("Tab to Close") << 3 << IDC_SAVER_OFF << IDC_SAVER_ON;
        QTest::newRow("Tab to Default") << 4 << IDC_SAVER_DEFAULT << IDC_SAVER_OFF;
        QTest::newRow("Tab to Exit") << 5 << IDCANCEL << IDC_SAVER_DEFAULT;
        QTest::newRow("Tab round to port list") << 6 << IDC_PORT << IDCANCEL;
        QTest::newRow("Backtab round to Exit") << -1 << IDCANCEL << IDC_PORT;
    }
    void focusFrameMovesWithTab() {
        QFETCH(int, tabs);
        QFETCH(int, focused);
        QFETCH(int, previous);
        QFile skin(QStringLiteral(VELL_SKIN_FILE));
        QVERIFY(skin.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(skin.readAll()));
        Open();
        for (int i = 0; i < qAbs(tabs); ++i)
            QTest::keyClick(QApplication::focusWidget(), tabs < 0 ? Qt::Key_Backtab : Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), item<QWidget>(focused));
        const QImage shot = m_dlg->grab().toImage();
        const QRgb frame = qRgb(0, 0, 0);
        const double onFocused = ringShare(shot, item<QWidget>(focused)->geometry(), frame);
        const double onPrevious = ringShare(shot, item<QWidget>(previous)->geometry(), frame);
        QVERIFY2(onFocused > 0.95, qPrintable(QString::number(onFocused)));
        QVERIFY2(onPrevious < 0.05, qPrintable(QString::number(onPrevious)));
    }
};

REGISTER_SUITE(WindowTest);
#include "WindowTest.moc"
