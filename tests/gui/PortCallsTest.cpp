// The window's calls into the port link: the buttons' sends and the port's tooltips, on threads that never
// hold the window.
#include "SettingsDlgTest.h"
#include "StderrCapture.h"

#include <QRegularExpression>
#include <QTimer>
#include <QToolTip>

class PortCallsTest : public SettingsDlgTest {
    Q_OBJECT

private slots:
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
            ExpectSaved("COM1", "3");
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

    // The access keys of the Chinese template work from anywhere in the window, the lists included.
    void chineseAccessKeysPressTheirButtons_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("sent");
        QTest::newRow("Alt+O sends Open") << int(Qt::Key_O) << "COM1 on";
        QTest::newRow("Alt+C sends Close") << int(Qt::Key_C) << "COM1 off";
        QTest::newRow("Alt+D sends Default") << int(Qt::Key_D) << "COM1 on";
    }
    void chineseAccessKeysPressTheirButtons() {
        QFETCH(int, key);
        QFETCH(QString, sent);
        Open(true);
        for (QWidget* from : {static_cast<QWidget*>(Port()), static_cast<QWidget*>(Baud())}) {
            from->setFocus();
            RecordedPortCalls().clear();
            QTest::keyClick(from, Qt::Key(key), Qt::AltModifier);
            // An access key clicks its button the animated way: pressed now, released a moment later.
            QTRY_COMPARE_WITH_TIMEOUT(RecordedCallCount(), std::size_t{1}, 2000);
            Settle();
            QCOMPARE(MadeCalls(), sent);
            QCOMPARE(Port()->currentIndex(), 0); // the letter went to the button, not the list's type-ahead
            QVERIFY(m_dlg->isVisible());
        }
        RecordedPortCalls().clear();
        QTest::keyClick(Port(), Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 2000);
        QVERIFY(RecordedPortCalls().empty());
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
        Open(chinese);
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
        QTest::newRow("own map line not valid") << false << "COM8" << kRefusedByItsMapLine
                                                << "ports.conf line 3: no :PORT after the host" << -1 << ""
                                                << "COM8 → ports.conf line 3: no :PORT after the host";
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
        Open(chinese);
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
};

REGISTER_SUITE(PortCallsTest);
#include "PortCallsTest.moc"
