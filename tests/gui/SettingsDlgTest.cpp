// The settings window against a recording port link and a settings file in a temporary folder.
#include "ui/SettingsDlg.h"

#include "DialogTemplates.h"
#include "FileOpenCounter.h"
#include "IconPixels.h"
#include "PortRecorder.h"
#include "StderrCapture.h"
#include "TempDir.h"
#include "VellPortDll.h"
#include "resource.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"
#include "ui/IPAddressCtrl.h"
#include "ui/PortWorker.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QColorSpace>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <memory>

using Bytes = std::vector<unsigned char>;

// The address the control holds, as the settings file would store it.
QString shownAddress(const CIPAddressCtrl& control) {
    return QString::fromStdString(formatAddress(addressOctets(control.GetAddress())));
}

class SettingsDlgTest : public QObject {
    Q_OBJECT

private:
    const TempDir m_dir;
    std::unique_ptr<CSettingsDlg> m_dlg;

    template <typename T>
    T* item(int id) const {
        return m_dlg->findChild<T*>(QStringLiteral("id%1").arg(id));
    }
    QComboBox* Port() const { return item<QComboBox>(IDC_PORT); }
    QComboBox* Baud() const { return item<QComboBox>(IDC_BAUD); }
    QLabel* LinkLabel() const { return item<QLabel>(IDC_LINK_LABEL); }
    CIPAddressCtrl* Address() const { return item<CIPAddressCtrl>(IDC_IPADDRESS); }
    // Until every library call the window made has run and its outcome is back.
    void Settle() { QTRY_COMPARE_WITH_TIMEOUT(m_dlg->findChild<PortWorker*>()->pending(), 0, 5000); }

    void Open() {
        RecordedPortCalls().clear();
        m_dlg = std::make_unique<CSettingsDlg>();
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
        m_dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
        Settle();
    }
    std::string Stored(const char* key) const { return IniReadString("COMM", key, "<none>"); }
    void ExpectSaved(const char* port, const char* baud, const char* ip1, const char* ip2, const char* ip3,
                     const char* ip4) {
        QCOMPARE(Stored("Port"), std::string(port));
        QCOMPARE(Stored("Baud"), std::string(baud));
        QCOMPARE(Stored("IP1"), std::string(ip1));
        QCOMPARE(Stored("IP2"), std::string(ip2));
        QCOMPARE(Stored("IP3"), std::string(ip3));
        QCOMPARE(Stored("IP4"), std::string(ip4));
    }
    void Hover() {
        QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), Port()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(Port(), &event);
    }
    void Choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
        Settle();
    }
    // The calls recorded, as "COM1 19200" for SetComParam and "COM1 on" for SendData.
    static QString MadeCalls() {
        QStringList made;
        for (const PortCall& call : RecordedPortCalls())
            made << QString::fromStdString(call.port) + ' ' +
                        (call.bytes.empty() ? QString::number(call.baud)
                         : call.bytes[3]    ? "on"
                                            : "off");
        return made.join(", ");
    }
    // The name a screen reader announces. On Linux Qt gives a list its current text as name and its label
    // through the labelled-by relation, so a list is announced by its label's name.
    static QString spokenName(QAccessibleInterface* control) {
        if (control->role() != QAccessible::ComboBox)
            return control->text(QAccessible::Name);
        const auto labels = control->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
    // The share of the ring one pixel inside r (corners left out for the rounding) that has the colour.
    static double ringShare(const QImage& shot, const QRect& r, QRgb colour) {
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

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        g_strIniPath = m_dir.file("Option.ini");
        StandInPorts().clear();
        QFile::remove(QString::fromStdString(g_strIniPath));
        AnswerSends(VELLPORT_OK, "", VELLPORT_DELIVERY_CONFIRMED);
    }
    void cleanup() {
        HoldDescribes(false);
        HoldSends(false);
        m_dlg.reset();
        qApp->setStyleSheet(QString());
    }

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
        QVERIFY(Baud()->isVisible());
        QVERIFY(LinkLabel()->isVisible());
        QCOMPARE(LinkLabel()->text(), QStringLiteral("Baud:"));
        QVERIFY(!Address()->isVisible());
        QCOMPARE(m_dlg->findChildren<QGroupBox*>().size(), 2);
        QCOMPARE(QApplication::focusWidget(), Port());
        m_dlg.reset();
        ExpectSaved("COM1", "2", "192", "168", "2", "10");
    }

    void storedSettingsRestore_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("shownPort");
        QTest::addColumn<QString>("shownBaud");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("savedPort");
        QTest::addColumn<QString>("savedBaud");
        QTest::newRow("unknown LPT1 falls to COM2") << "LPT1" << 2 << "COM2"
                                                    << "9600" << 9600 << "COM2"
                                                    << "2";
        QTest::newRow("baud 9 leaves list empty, rate 0, saves -1") << "COM3" << 9 << "COM3"
                                                                    << "" << 0 << "COM3"
                                                                    << "-1";
        QTest::newRow("baud -1 stays empty") << "COM1" << -1 << "COM1"
                                             << "" << 0 << "COM1"
                                             << "-1";
        QTest::newRow("top index 115200") << "COM4" << 6 << "COM4"
                                          << "115200" << 115200 << "COM4"
                                          << "6";
        QTest::newRow("device form COM15") << "\\\\.\\COM15" << 0 << "\\\\.\\COM15"
                                           << "2400" << 2400 << "\\\\.\\COM15"
                                           << "0";
    }
    void storedSettingsRestore() {
        QFETCH(QString, port);
        QFETCH(int, baud);
        QFETCH(QString, shownPort);
        QFETCH(QString, shownBaud);
        QFETCH(int, rate);
        QFETCH(QString, savedPort);
        QFETCH(QString, savedBaud);
        IniWriteString("COMM", "Port", port.toStdString());
        IniWriteInt("COMM", "Baud", baud);
        Open();
        QCOMPARE(Port()->currentText(), shownPort);
        QCOMPARE(Baud()->currentText(), shownBaud);
        QCOMPARE(RecordedPortCalls().size(), std::size_t{1});
        QCOMPARE(RecordedPortCalls()[0].port, shownPort.toUpper().toStdString());
        QCOMPARE(RecordedPortCalls()[0].baud, rate);
        m_dlg.reset();
        QCOMPARE(Stored("Port"), savedPort.toStdString());
        QCOMPARE(Stored("Baud"), savedBaud.toStdString());
    }

    void storedAddressWrittenBackUnchanged() {
        IniWriteInt("COMM", "IP1", 10);
        IniWriteInt("COMM", "IP2", 0);
        IniWriteInt("COMM", "IP3", 0);
        IniWriteInt("COMM", "IP4", 5);
        Open();
        QVERIFY(!Address()->isVisible());
        m_dlg.reset();
        ExpectSaved("COM1", "2", "10", "0", "0", "5");
    }

    void choosingPortThenBaudConfiguresEach() {
        Open();
        RecordedPortCalls().clear();
        Choose(Port(), 6);
        QCOMPARE(RecordedPortCalls().size(), std::size_t{1});
        QCOMPARE(RecordedPortCalls()[0].port, std::string("COM7"));
        QCOMPARE(RecordedPortCalls()[0].baud, 9600);
        Choose(Baud(), 6);
        QCOMPARE(RecordedPortCalls().size(), std::size_t{2});
        QCOMPARE(RecordedPortCalls()[1].port, std::string("COM7"));
        QCOMPARE(RecordedPortCalls()[1].baud, 115200);
        QCOMPARE(RecordedPortCalls()[1].parity, 'N');
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
    // chosen before it opened.
    void keysInAnOpenList_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("shown");
        QTest::newRow("port list: each arrow step configures, Enter keeps") << IDC_PORT << "Down Down Return"
                                                                            << "COM2 9600, COM3 9600"
                                                                            << "COM3";
        QTest::newRow("port list: F4 keeps the entry") << IDC_PORT << "Down F4"
                                                       << "COM2 9600"
                                                       << "COM2";
        QTest::newRow("baud list: Alt+Up keeps the entry") << IDC_BAUD << "Up Alt+Up"
                                                           << "COM1 4800"
                                                           << "4800";
        QTest::newRow("port list: Escape goes back and configures it again")
            << IDC_PORT << "Down Down Esc"
            << "COM2 9600, COM3 9600, COM1 9600"
            << "COM1";
        QTest::newRow("baud list: Escape where it was calls nothing more") << IDC_BAUD << "Down Up Esc"
                                                                           << "COM1 19200, COM1 9600"
                                                                           << "9600";
    }
    void keysInAnOpenList() {
        QFETCH(int, id);
        QFETCH(QString, keys);
        QFETCH(QString, calls);
        QFETCH(QString, shown);
        Open();
        QComboBox* list = item<QComboBox>(id);
        list->setFocus();
        RecordedPortCalls().clear();
        QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(list->view()->isVisible(), 2000);
        for (const QString& name : keys.split(' '))
            QTest::keyClick(list->view(), QKeySequence(name)[0].key(),
                            QKeySequence(name)[0].keyboardModifiers());
        QTRY_VERIFY_WITH_TIMEOUT(!list->view()->isVisible(), 2000);
        Settle();
        QCOMPARE(MadeCalls(), calls);
        QCOMPARE(list->currentText(), shown);
        QVERIFY(m_dlg->isVisible());
    }

    // A send that waits for a silent host holds only the window's worker: the window answers, opens its list,
    // takes keys and shows a busy cursor, and what the operator does meanwhile runs after it in order;
    // closing saves at once, drops the presses still waiting with a line each and leaves the send under way
    // behind.
    void sendThatBlocksNeverHoldsTheWindow_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("presses and choices queue behind it in order") << false;
        QTest::newRow("closing saves at once and drops the presses waiting") << true;
    }
    void sendThatBlocksNeverHoldsTheWindow() {
        QFETCH(bool, close);
        Open();
        RecordedPortCalls().clear();
        HoldSends(true);
        QTest::mouseClick(item<QPushButton>(IDC_SAVER_ON), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(SendsHeld(), 1, 2000);
        int heldWhenAnswered = -1;
        QTimer::singleShot(0, this, [&] { heldWhenAnswered = SendsHeld(); });
        QTRY_COMPARE_WITH_TIMEOUT(heldWhenAnswered, 1, 200);
        QCOMPARE(m_dlg->cursor().shape(), Qt::BusyCursor);
        Port()->showPopup();
        QTRY_VERIFY_WITH_TIMEOUT(Port()->view()->isVisible(), 2000);
        Port()->hidePopup();
        QTest::keyClick(Baud(), Qt::Key_Down);
        QTest::mouseClick(item<QPushButton>(IDC_SAVER_OFF), Qt::LeftButton);
        QTest::mouseClick(item<QPushButton>(IDC_SAVER_DEFAULT), Qt::LeftButton);
        QCOMPARE(RecordedCallCount(), std::size_t{1});
        if (close) {
            StderrCapture capture;
            m_dlg->reject();
            ExpectSaved("COM1", "3", "192", "168", "2", "10");
            QCOMPARE(StderrCapture::lines(capture.finish()),
                     (std::vector<std::string>{
                         "VellSetting: Close to COM1 not sent: the window closed before its turn",
                         "VellSetting: Default to COM1 not sent: the window closed before its turn"}));
            m_dlg.reset();
            QCOMPARE(SendsHeld(), 1);
            HoldSends(false);
            QTRY_COMPARE_WITH_TIMEOUT(SendsHeld(), 0, 2000);
            QCOMPARE(RecordedCallCount(), std::size_t{1});
            return;
        }
        HoldSends(false);
        Settle();
        QCOMPARE(m_dlg->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(MadeCalls(), QStringLiteral("COM1 on, COM1 19200, COM1 off, COM1 on"));
    }

    void buttonsSendTheirBytes_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("storedPort");
        QTest::addColumn<Bytes>("bytes");
        QTest::newRow("Open") << IDC_SAVER_ON << "COM1" << Bytes{0x1B, 0x27, 0x0A, 0x01};
        QTest::newRow("Close") << IDC_SAVER_OFF << "COM1" << Bytes{0x1B, 0x27, 0x0A, 0x00};
        QTest::newRow("Default is Open") << IDC_SAVER_DEFAULT << "COM1" << Bytes{0x1B, 0x27, 0x0A, 0x01};
        QTest::newRow("to COM15 as shown")
            << IDC_SAVER_OFF << "\\\\.\\COM15" << Bytes{0x1B, 0x27, 0x0A, 0x00};
    }
    void buttonsSendTheirBytes() {
        QFETCH(int, id);
        QFETCH(QString, storedPort);
        QFETCH(Bytes, bytes);
        IniWriteString("COMM", "Port", storedPort.toStdString());
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
            Open();
            RecordedPortCalls().clear();
            item<QPushButton>(id)->setFocus();
            QTest::keyClick(item<QPushButton>(id), key);
            Settle();
            QCOMPARE(RecordedPortCalls().size(), std::size_t{1});
            QCOMPARE(RecordedPortCalls()[0].function, std::string("SendData"));
            QCOMPARE(RecordedPortCalls()[0].port, storedPort.toStdString());
            QCOMPARE(RecordedPortCalls()[0].bytes, bytes);
            QVERIFY(m_dlg->isVisible());
        }
    }

    void closingRoutesSave_data() {
        QTest::addColumn<QString>("route");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close box") << "close";
        QTest::newRow("Exit button") << "exit";
        QTest::newRow("Enter in port list") << "enter-port";
        QTest::newRow("Enter in baud list") << "enter-baud";
    }
    void closingRoutesSave() {
        QFETCH(QString, route);
        Open();
        Choose(Port(), 4);
        Choose(Baud(), 5);
        RecordedPortCalls().clear();
        QSignalSpy finished(m_dlg.get(), &QDialog::finished);
        if (route == "escape")
            QTest::keyClick(Port(), Qt::Key_Escape);
        else if (route == "close")
            m_dlg->close();
        else if (route == "exit")
            QTest::mouseClick(item<QPushButton>(IDCANCEL), Qt::LeftButton);
        else
            QTest::keyClick(route == "enter-port" ? Port() : Baud(), Qt::Key_Return);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toInt(),
                 route.startsWith("enter") ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QVERIFY(!m_dlg->isVisible());
        QVERIFY(RecordedPortCalls().empty());
        ExpectSaved("COM5", "5", "192", "168", "2", "10");
    }

    void tabOrderFollowsTemplate() {
        Open();
        const QList<QWidget*> expected{Port(),
                                       Baud(),
                                       item<QWidget>(IDC_SAVER_ON),
                                       item<QWidget>(IDC_SAVER_OFF),
                                       item<QWidget>(IDC_SAVER_DEFAULT),
                                       item<QWidget>(IDCANCEL)};
        for (int i = 1; i <= expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected[i % expected.size()]);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), item<QWidget>(IDCANCEL));
    }

    void neutralHasNoMnemonics() {
        Open();
        for (int id : {IDC_SAVER_ON, IDC_SAVER_OFF, IDC_SAVER_DEFAULT, IDCANCEL})
            QVERIFY(!item<QPushButton>(id)->text().contains('&'));
        QCOMPARE(item<QPushButton>(IDC_SAVER_ON)->text(), QStringLiteral("Open"));
        QCOMPARE(item<QPushButton>(IDCANCEL)->text(), QStringLiteral("Exit"));
        RecordedPortCalls().clear();
        QTest::keyClick(Port(), Qt::Key_C, Qt::AltModifier);
        Settle();
        QCOMPARE(Port()->currentIndex(), 0);
        QVERIFY(RecordedPortCalls().empty());
    }

    void chineseLocaleShowsChineseTemplate() {
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        Open();
        QCOMPARE(item<QPushButton>(IDC_SAVER_ON)->text(), QStringLiteral("打开(&O)"));
        QCOMPARE(item<QPushButton>(IDC_SAVER_DEFAULT)->text(), QStringLiteral("默认设置(&D)"));
        QCOMPARE(item<QPushButton>(IDCANCEL)->text(), QStringLiteral("退出(&E)"));
        QCOMPARE(LinkLabel()->text(), QStringLiteral("Baud:"));
        QCOMPARE(QKeySequence::mnemonic(item<QPushButton>(IDC_SAVER_ON)->text()),
                 QKeySequence(Qt::ALT | Qt::Key_O));
    }

    // The access keys of the Chinese template work from anywhere in the window, the lists included.
    void chineseAccessKeysPressTheirButtons_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<Bytes>("bytes");
        QTest::newRow("Alt+O sends Open") << int(Qt::Key_O) << Bytes{0x1B, 0x27, 0x0A, 0x01};
        QTest::newRow("Alt+C sends Close") << int(Qt::Key_C) << Bytes{0x1B, 0x27, 0x0A, 0x00};
        QTest::newRow("Alt+D sends Default") << int(Qt::Key_D) << Bytes{0x1B, 0x27, 0x0A, 0x01};
    }
    void chineseAccessKeysPressTheirButtons() {
        QFETCH(int, key);
        QFETCH(Bytes, bytes);
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        Open();
        for (QWidget* from : {static_cast<QWidget*>(Port()), static_cast<QWidget*>(Baud())}) {
            from->setFocus();
            RecordedPortCalls().clear();
            QTest::keyClick(from, Qt::Key(key), Qt::AltModifier);
            // An access key clicks its button the animated way: pressed now, released a moment later.
            QTRY_COMPARE_WITH_TIMEOUT(RecordedCallCount(), std::size_t{1}, 2000);
            Settle();
            QCOMPARE(RecordedPortCalls()[0].function, std::string("SendData"));
            QCOMPARE(RecordedPortCalls()[0].bytes, bytes);
            QCOMPARE(Port()->currentIndex(), 0); // the letter went to the button, not the list's type-ahead
            QVERIFY(m_dlg->isVisible());
        }
        RecordedPortCalls().clear();
        QTest::keyClick(Port(), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 2000);
        QVERIFY(RecordedPortCalls().empty());
    }

    // However big the settings file, opening reads it once and closing replaces it once.
    void openingReadsTheFileOnceAndClosingWritesItOnce() {
        IniWriteString("COMM", "Port", "COM4");
        IniWriteInt("COMM", "Baud", 6);
        FileOpenCounter counter(QString::fromStdString(m_dir.path()));
        Open();
        QCOMPARE(counter.Take(), (FileOpens{1, 0}));
        QCOMPARE(Port()->currentIndex(), 3);
        QCOMPARE(Baud()->currentIndex(), 6);
        m_dlg->reject();
        // The save reads the file once more to keep every other byte, then renames one new version over it.
        QCOMPARE(counter.Take(), (FileOpens{1, 1}));
        ExpectSaved("COM4", "6", "192", "168", "2", "10");
    }

    void otherPortKinds_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("addressShown");
        QTest::addColumn<bool>("labelShown");
        QTest::addColumn<QString>("calls");
        QTest::newRow("NET shows address") << "net" << true << true << "";
        QTest::newRow("USB asks for the USB port") << "usb0" << false << false << "GetUSBPort";
        QTest::newRow("other hides all") << "LPTX" << false << false << "";
    }
    void otherPortKinds() {
        QFETCH(QString, name);
        QFETCH(bool, addressShown);
        QFETCH(bool, labelShown);
        QFETCH(QString, calls);
        IniWriteInt("COMM", "IP1", 10);
        IniWriteInt("COMM", "IP4", 7);
        Open();
        RecordedPortCalls().clear();
        Port()->addItem(name);
        Choose(Port(), Port()->count() - 1);
        QVERIFY(!Baud()->isVisible());
        QCOMPARE(Address()->isVisible(), addressShown);
        QCOMPARE(LinkLabel()->isVisible(), labelShown);
        QCOMPARE(LinkLabel()->buddy(), addressShown ? static_cast<QWidget*>(Address()) : Baud());
        QCOMPARE(LinkLabel()->accessibleName(), LinkLabel()->buddy()->accessibleName());
        if (labelShown) {
            QCOMPARE(LinkLabel()->text(), QStringLiteral("IP:"));
            QCOMPARE(shownAddress(*Address()), QStringLiteral("10.168.2.7"));
        }
        QString made;
        for (const PortCall& call : RecordedPortCalls())
            made += QString::fromStdString(call.function);
        QCOMPARE(made, calls);
        QTest::mouseClick(item<QPushButton>(IDC_SAVER_OFF), Qt::LeftButton);
        Settle();
        QCOMPARE(RecordedPortCalls().back().port, name.toStdString());
    }

    // Where each name leads, in the window's language, as the list shows it when opened.
    void portToolTips_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("state"); // 0: not in the stand-in's table
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("vendorId"); // -1: not a USB adapter
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("expected");
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
        QTest::newRow("USB adapter present")
            << false << "COM3" << int(VELLPORT_STATE_PRESENT) << byId << 0x0403 << "FT232R USB UART"
            << QStringLiteral("COM3 → ") + byId +
                   " (USB serial adapter FTDI FT232R USB "
                   "UART, present)";
        QTest::newRow("USB adapter naming nothing shows its ids")
            << false << "COM4" << int(VELLPORT_STATE_PRESENT) << "/dev/ttyACM0" << 0x2341 << ""
            << "COM4 → /dev/ttyACM0 (USB serial adapter 2341:0043, present)";
        QTest::newRow("terminal present")
            << false << "COM5" << int(VELLPORT_STATE_PRESENT) << "/dev/pts/3" << -1 << ""
            << "COM5 → /dev/pts/3 (present)";
        QTest::newRow("unmapped name, nothing there") << false << "COM1" << 0 << "" << -1 << ""
                                                      << "COM1 → /dev/ttyS0 (no device)";
        QTest::newRow("port without UART")
            << false << "COM2" << int(VELLPORT_STATE_NO_HARDWARE) << "/dev/ttyS1" << -1 << ""
            << "COM2 → /dev/ttyS1 (no device)";
        QTest::newRow("regular file")
            << false << "COM6" << int(VELLPORT_STATE_NOT_DEVICE) << "/tmp/Option.ini" << -1 << ""
            << "COM6 → /tmp/Option.ini (not a device)";
        QTest::newRow("Chinese USB adapter present")
            << true << "COM3" << int(VELLPORT_STATE_PRESENT) << byId << 0x0403 << "FT232R USB UART"
            << QStringLiteral("COM3 → ") + byId + "（USB 串口适配器 FTDI FT232R USB UART，已连接）";
        QTest::newRow("Chinese terminal present")
            << true << "COM5" << int(VELLPORT_STATE_PRESENT) << "/dev/pts/3" << -1 << ""
            << "COM5 → /dev/pts/3（已连接）";
        QTest::newRow("Chinese nothing there") << true << "COM1" << 0 << "" << -1 << ""
                                               << "COM1 → /dev/ttyS0（无设备）";
        QTest::newRow("Chinese regular file")
            << true << "COM6" << int(VELLPORT_STATE_NOT_DEVICE) << "/tmp/Option.ini" << -1 << ""
            << "COM6 → /tmp/Option.ini（不是设备）";
        const int noPermission = VELLPORT_STATE_NO_PERMISSION;
        QTest::newRow("no permission")
            << false << "COM7" << noPermission << "/dev/ttyUSB1" << -1 << ""
            << "COM7 → /dev/ttyUSB1 (no permission: join group dialout and log in again)";
        QTest::newRow("Chinese no permission")
            << true << "COM7" << noPermission << "/dev/ttyUSB1" << -1 << ""
            << "COM7 → /dev/ttyUSB1（无权限：请加入 dialout 组后重新登录）";
        QTest::newRow("network") << false << "COM5" << int(VELLPORT_STATE_NETWORK) << "tcp://[::1]:2001" << -1
                                 << ""
                                 << "COM5 → tcp://[::1]:2001 (network)";
        QTest::newRow("own map line not valid")
            << false << "COM8" << kRefusedByItsMapLine << "ports.conf line 3: no :PORT after the host" << -1
            << "" << "COM8 → ports.conf line 3: no :PORT after the host";
        QTest::newRow("Chinese network")
            << true << "COM5" << int(VELLPORT_STATE_NETWORK) << "rfc2217://pi:2001" << -1 << ""
            << "COM5 → rfc2217://pi:2001（网络）";
        QTest::newRow("TLS network") << false << "COM5" << int(VELLPORT_STATE_NETWORK) << "TCP+TLS://pi:2002"
                                     << -1 << ""
                                     << "COM5 → TCP+TLS://pi:2002 (network (TLS))";
        QTest::newRow("Chinese TLS network")
            << true << "COM5" << int(VELLPORT_STATE_NETWORK) << "rfc2217+tls://pi:2001" << -1 << ""
            << "COM5 → rfc2217+tls://pi:2001（网络（TLS））";
    }
    void portToolTips() {
        QFETCH(bool, chinese);
        QFETCH(QString, port);
        QFETCH(int, state);
        QFETCH(QString, path);
        QFETCH(int, vendorId);
        QFETCH(QString, product);
        QFETCH(QString, expected);
        StandInPorts().clear();
        if (state != 0) {
            const bool usb = vendorId >= 0;
            StandInPorts()[port.toStdString()] = {path.toStdString(),
                                                  state,
                                                  usb,
                                                  vendorId,
                                                  usb ? 0x0043 : -1,
                                                  product.isEmpty() ? "" : "FTDI",
                                                  product.toStdString()};
        }
        if (chinese)
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        Open();
        Port()->showPopup();
        QTRY_COMPARE_WITH_TIMEOUT(Port()->itemData(Port()->findText(port), Qt::ToolTipRole).toString(),
                                  expected, 2000);
        Port()->hidePopup();
        QTRY_COMPARE_WITH_TIMEOUT(LiveDescriptions(), 0, 2000);
    }

    // Nothing is described while the window opens; each opening or hover asks afresh, so a device plugged in
    // or out shows at the next look, and the library calls of the window stay what they were.
    void toolTipsFollowTheDeviceAtEachLookNotAtStartUp() {
        StandInPorts().clear();
        RecordedDescribes().clear();
        Open();
        QVERIFY(RecordedDescribes().empty());
        QVERIFY(Port()->toolTip().isEmpty());
        QVERIFY(Port()->itemData(0, Qt::ToolTipRole).isNull());
        const std::size_t callsAtStart = RecordedPortCalls().size();
        Hover();
        QTRY_COMPARE_WITH_TIMEOUT(Port()->toolTip(), QStringLiteral("COM1 → /dev/ttyS0 (no device)"), 2000);
        QCOMPARE(RecordedDescribes(), std::vector<std::string>{"COM1"});

        StandInPorts()["COM1"] = {"/dev/ttyUSB0", VELLPORT_STATE_PRESENT, true, 0x0403, 0x6001, "FTDI",
                                  "FT232R"};
        Port()->showPopup();
        QTRY_COMPARE_WITH_TIMEOUT(Port()->itemData(29, Qt::ToolTipRole).toString(),
                                  QStringLiteral("\\\\.\\COM30 → /dev/ttyS29 (no device)"), 2000);
        QCOMPARE(RecordedDescribes().size(), 1u + 30u);
        const QString plugged =
            QStringLiteral("COM1 → /dev/ttyUSB0 (USB serial adapter FTDI FT232R, present)");
        QCOMPARE(Port()->itemData(0, Qt::ToolTipRole).toString(), plugged);
        QCOMPARE(Port()->toolTip(), plugged);
        Port()->hidePopup();

        StandInPorts()["COM1"].state = VELLPORT_STATE_MISSING;
        Port()->showPopup();
        QTRY_COMPARE_WITH_TIMEOUT(Port()->itemData(0, Qt::ToolTipRole).toString(),
                                  QStringLiteral("COM1 → /dev/ttyUSB0 (no device)"), 2000);
        // The opening's other entries are described before the hover, so the hover's is the last asked.
        QTRY_COMPARE_WITH_TIMEOUT(DescribeCount(), 1u + 30u + 30u, 2000);
        Port()->hidePopup();

        Port()->setCurrentIndex(6);
        Hover();
        QTRY_COMPARE_WITH_TIMEOUT(Port()->toolTip(), QStringLiteral("COM7 → /dev/ttyS6 (no device)"), 2000);
        QCOMPARE(RecordedDescribes().back(), std::string("COM7"));
        QCOMPARE(RecordedPortCalls().size(), callsAtStart);
        QTRY_COMPARE_WITH_TIMEOUT(LiveDescriptions(), 0, 2000);
    }

    // A describe stuck in the kernel holds only its own thread: the window answers, shows the name alone
    // until the answer comes, drops an answer for an entry no longer looked at, and closes without waiting.
    void describeThatBlocksNeverHoldsTheWindow_data() {
        QTest::addColumn<QString>("look");
        QTest::newRow("hover: the name, then the answer") << "hover";
        QTest::newRow("opening the list: the names, then the answers") << "open";
        QTest::newRow("a late answer for another entry is dropped") << "move";
        QTest::newRow("closing the window leaves the describe behind") << "close";
    }
    void describeThatBlocksNeverHoldsTheWindow() {
        QFETCH(QString, look);
        Open();
        HoldDescribes(true);
        look == "open" ? Port()->showPopup() : Hover();
        QTRY_COMPARE_WITH_TIMEOUT(DescribesHeld(), 1, 2000);
        int heldWhenAnswered = -1;
        QTimer::singleShot(0, this, [&] { heldWhenAnswered = DescribesHeld(); });
        QTRY_COMPARE_WITH_TIMEOUT(heldWhenAnswered, 1, 200);
        QCOMPARE(Port()->toolTip(), QStringLiteral("COM1"));
        if (look == "close") {
            m_dlg.reset();
            QCOMPARE(DescribesHeld(), 1);
        } else if (look == "move") {
            Port()->setCurrentIndex(6);
            Hover();
        }
        HoldDescribes(false);
        QTRY_COMPARE_WITH_TIMEOUT(LiveDescriptions() + DescribesHeld(), 0, 2000);
        const QString answer =
            look == "move" ? "COM7 → /dev/ttyS6 (no device)" : "COM1 → /dev/ttyS0 (no device)";
        QTRY_COMPARE_WITH_TIMEOUT(look == "close" ? answer : Port()->toolTip(), answer, 2000);
        if (look == "move") // COM1's answer came first
            QCOMPARE(Port()->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("COM1"));
    }

    // The buttons send as ever; what the send came to shows on that port's tooltip, in the operator's words
    // and wrapped to a readable width, until a send to it reaches the display.
    void sendOutcomeShowsOnItsPortsToolTip_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("delivery");
        QTest::addColumn<QString>("line");  // VellPortLastError
        QTest::addColumn<QString>("shown"); // below the description; %1: the time of the press
        const int none = VELLPORT_DELIVERY_NONE;
        const QString denied = R"(SendData("COM1"): /dev/ttyS0: permission denied on /dev/ttyS0)";
        const QString silent =
            R"(SendData("COM1"): rfc2217://10.0.0.7:2001: no answer from 10.0.0.7:2001 within 2009 ms)";
        QTest::newRow("Open, no permission")
            << false << IDC_SAVER_ON << int(VELLPORT_ERR_PERMISSION) << none << denied
            << "Last Open (%1) failed: permission denied on /dev/ttyS0";
        QTest::newRow("Chinese Default, no permission")
            << true << IDC_SAVER_DEFAULT << int(VELLPORT_ERR_PERMISSION) << none << denied
            << "上次默认设置（%1）失败：无权打开 /dev/ttyS0：permission denied on /dev/ttyS0";
        QTest::newRow("silent host: its URL, the bound in seconds")
            << false << IDC_SAVER_ON << int(VELLPORT_ERR_TIMEOUT) << none << silent
            << "Last Open (%1) failed: no answer from rfc2217://10.0.0.7:2001 within 2 s";
        QTest::newRow("Chinese silent host")
            << true << IDC_SAVER_ON << int(VELLPORT_ERR_TIMEOUT) << none << silent
            << "上次打开（%1）失败：rfc2217://10.0.0.7:2001 在 2 秒内无应答";
        QTest::newRow("acknowledged only")
            << false << IDC_SAVER_OFF << int(VELLPORT_OK) << int(VELLPORT_DELIVERY_ACKNOWLEDGED) << ""
            << "Last Close (%1): acknowledged only — the server kept the connection open";
        QTest::newRow("Chinese acknowledged only")
            << true << IDC_SAVER_OFF << int(VELLPORT_OK) << int(VELLPORT_DELIVERY_ACKNOWLEDGED) << ""
            << "上次关闭（%1）：仅获对方确认——服务器一直未关闭连接";
        QTest::newRow("a long reason in lines of a readable width")
            << false << IDC_SAVER_ON << int(VELLPORT_ERR_BUSY) << none
            << R"(SendData("COM1"): tcp://counter-pi.example.org:2002: the server at counter-pi.example.org:2002 )"
               R"(closed the connection early (it said "Port already in use by 10.0.0.9, try again later"))"
            << "Last Open (%1) failed: the server at tcp://counter-pi.example.org:2002 closed the "
               "connection early (it said \"Port already in use by 10.0.0.9, try again later\")";
    }
    void sendOutcomeShowsOnItsPortsToolTip() {
        QFETCH(bool, chinese);
        QFETCH(int, id);
        QFETCH(int, result);
        QFETCH(int, delivery);
        QFETCH(QString, line);
        QFETCH(QString, shown);
        if (chinese)
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        Open();
        AnswerSends(result, line.toStdString(), delivery);
        const QString before = QTime::currentTime().toString("HH:mm");
        QTest::mouseClick(item<QPushButton>(id), Qt::LeftButton);
        const QString after = QTime::currentTime().toString("HH:mm");
        Settle();
        AnswerSends(VELLPORT_OK, "", VELLPORT_DELIVERY_CONFIRMED);
        Hover();
        // Line breaks fall where the font puts them: compared without white space, and each line measured.
        const QRegularExpression space(QStringLiteral("\\s"));
        const auto note = [&] { return Port()->toolTip().section('\n', 1).remove(space); };
        QTRY_VERIFY_WITH_TIMEOUT(
            note() == shown.arg(before).remove(space) || note() == shown.arg(after).remove(space), 2000);
        for (const QString& tipLine : Port()->toolTip().split('\n'))
            QVERIFY2(QFontMetrics(QToolTip::font()).horizontalAdvance(tipLine) <= 420, qPrintable(tipLine));
        QTest::mouseClick(item<QPushButton>(id), Qt::LeftButton);
        Settle();
        QVERIFY(!Port()->toolTip().isEmpty() && !Port()->toolTip().contains('\n'));
    }

    void addressParsesAndClamps_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<uint>("value");
        QTest::newRow("plain") << "192.168.2.10"
                               << "192.168.2.10" << 0xC0A8020Au;
        QTest::newRow("above 255 clamps") << "300.1.999.256"
                                          << "255.1.255.255" << 0xFF01FFFFu;
        QTest::newRow("missing parts are 0") << "10.5"
                                             << "10.5.0.0" << 0x0A050000u;
        QTest::newRow("negative is 0") << "-4.0.0.1"
                                       << "0.0.0.1" << 0x00000001u;
        QTest::newRow("all ones") << "255.255.255.255"
                                  << "255.255.255.255" << 0xFFFFFFFFu;
    }
    void addressParsesAndClamps() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(uint, value);
        CIPAddressCtrl control;
        control.setAddressText(text);
        QCOMPARE(shownAddress(control), shown);
        QCOMPARE(control.GetAddress(), std::uint32_t{value});
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

    // The pixels compiled into the program must be the drawn icon, at the one size the window carries.
    void windowIconIsTheDrawnIcon_data() {
        QTest::addColumn<int>("size");
        for (int size : {32})
            QTest::addRow("%dx%d", size, size) << size;
    }

    void windowIconIsTheDrawnIcon() {
        QFETCH(int, size);
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

    // The window finds its template and icon by their resource numbers; no other number names one.
    void resourcesByNumber() {
        for (const DlgLanguage language : {DlgLanguage::Neutral, DlgLanguage::ChinesePrc})
            QCOMPARE(dialogTemplate(IDD_SETTINGS, language).id, IDD_SETTINGS);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, dialogTemplate(IDD_SETTINGS + 1, DlgLanguage::Neutral));
        QCOMPARE(iconPixels(IDI_MAIN).size(), std::size_t{1});
        QVERIFY(iconPixels(IDD_SETTINGS).empty());
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
        if (chinese)
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        Open();
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
    }
    void focusFrameMovesWithTab() {
        QFETCH(int, tabs);
        QFETCH(int, focused);
        QFETCH(int, previous);
        QFile skin(QStringLiteral(VELL_SKIN_FILE));
        QVERIFY(skin.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(skin.readAll()));
        Open();
        for (int i = 0; i < tabs; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), item<QWidget>(focused));
        const QImage shot = m_dlg->grab().toImage();
        const QRgb frame = qRgb(0, 0, 0);
        const double onFocused = ringShare(shot, item<QWidget>(focused)->geometry(), frame);
        const double onPrevious = ringShare(shot, item<QWidget>(previous)->geometry(), frame);
        QVERIFY2(onFocused > 0.95, qPrintable(QString::number(onFocused)));
        QVERIFY2(onPrevious < 0.05, qPrintable(QString::number(onPrevious)));
    }

    // Alt with an arrow drops a list and closes it again, as on Windows; nothing is chosen or sent.
    void altArrowsDropAndCloseTheList_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("openKey");
        QTest::addColumn<int>("closeKey");
        QTest::newRow("port list: Alt+Down, Alt+Up") << IDC_PORT << int(Qt::Key_Down) << int(Qt::Key_Up);
        QTest::newRow("port list: Alt+Up, Alt+Down") << IDC_PORT << int(Qt::Key_Up) << int(Qt::Key_Down);
        QTest::newRow("baud list: Alt+Down twice") << IDC_BAUD << int(Qt::Key_Down) << int(Qt::Key_Down);
        QTest::newRow("baud list: Alt+Up twice") << IDC_BAUD << int(Qt::Key_Up) << int(Qt::Key_Up);
    }
    void altArrowsDropAndCloseTheList() {
        QFETCH(int, id);
        QFETCH(int, openKey);
        QFETCH(int, closeKey);
        IniWriteString("COMM", "Port", "COM4");
        Open();
        QComboBox* list = item<QComboBox>(id);
        list->setFocus();
        const int before = list->currentIndex();
        RecordedPortCalls().clear();
        QTest::keyClick(list, Qt::Key(openKey), Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(list->view()->isVisible(), 2000);
        QTest::keyClick(list->view(), Qt::Key(closeKey), Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!list->view()->isVisible(), 2000);
        QCOMPARE(list->currentIndex(), before);
        QVERIFY(RecordedPortCalls().empty());
        QVERIFY(m_dlg->isVisible());
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
        if (chinese)
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        Open();
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
};

QTEST_MAIN(SettingsDlgTest)
#include "SettingsDlgTest.moc"
