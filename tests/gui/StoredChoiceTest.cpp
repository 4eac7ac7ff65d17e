// Choosing port and rate, and what the settings file keeps of them: restored, saved by every way out.
#include "FileOpenCounter.h"
#include "SettingsDlgTest.h"

#include <QSignalSpy>

class StoredChoiceTest : public SettingsDlgTest {
    Q_OBJECT

private slots:
    void storedSettingsRestore_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("shownPort"); // and saved
        QTest::addColumn<int>("savedBaud");
        QTest::addColumn<QString>("shownRate"); // and configured, 0 when empty
        QTest::newRow("unknown LPT1 falls to COM2") << "LPT1" << 2 << "COM2" << 2 << "9600";
        QTest::newRow("baud 9 leaves list empty, rate 0, saves -1") << "COM3" << 9 << "COM3" << -1 << "";
        QTest::newRow("baud -1 stays empty") << "COM1" << -1 << "COM1" << -1 << "";
        QTest::newRow("top index 115200") << "COM4" << 6 << "COM4" << 6 << "115200";
        QTest::newRow("device form COM15") << "\\\\.\\COM15" << 0 << "\\\\.\\COM15" << 0 << "2400";
    }
    void storedSettingsRestore() {
        QFETCH(QString, port);
        QFETCH(int, baud);
        QFETCH(QString, shownPort);
        QFETCH(int, savedBaud);
        QFETCH(QString, shownRate);
        IniWriteString("COMM", "Port", port.toStdString());
        IniWriteInt("COMM", "Baud", baud);
        Open();
        QCOMPARE(Port()->currentText(), shownPort);
        QCOMPARE(Baud()->currentText(), shownRate);
        QCOMPARE(MadeCalls(), shownPort.toUpper() + ' ' + QString::number(shownRate.toInt()));
        m_dlg.reset();
        QCOMPARE(Stored("Port"), shownPort.toStdString());
        QCOMPARE(Stored("Baud"), std::to_string(savedBaud));
    }

    void storedAddressWrittenBackUnchanged() {
        IniWriteInt("COMM", "IP1", 10);
        IniWriteInt("COMM", "IP2", 0);
        IniWriteInt("COMM", "IP3", 0);
        IniWriteInt("COMM", "IP4", 5);
        Open();
        QVERIFY(!Address()->isVisible());
        m_dlg.reset();
        ExpectSaved("COM1", "2", "10.0.0.5");
    }

    // Each rate the list offers configures the port when chosen, and is the one shown and configured when the
    // window opens again.
    void choosingPortThenRateConfiguresAndIsRestored() {
        Open();
        RecordedPortCalls().clear();
        Choose(Port(), 6);
        QCOMPARE(MadeCalls(), QStringLiteral("COM7 9600"));
        for (int index = 0; index < Baud()->count(); ++index) {
            const QString rate = Baud()->itemText(index);
            Choose(Baud(), index);
            QCOMPARE(RecordedPortCalls().back().baud, rate.toInt());
            QCOMPARE(RecordedPortCalls().back().parity, 'N');
            m_dlg.reset();
            Open();
            QCOMPARE(Baud()->currentText(), rate);
            QCOMPARE(MadeCalls(), "COM7 " + rate);
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
        ExpectSaved("COM5", "5");
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
        ExpectSaved("COM4", "6");
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

    void addressParsesAndClamps_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "192.168.2.10" << 0xC0A8020Au << "192.168.2.10";
        QTest::newRow("above 255 clamps") << "300.1.999.256" << 0xFF01FFFFu << "255.1.255.255";
        QTest::newRow("missing parts are 0") << "10.5" << 0x0A050000u << "10.5.0.0";
        QTest::newRow("negative is 0") << "-4.0.0.1" << 0x00000001u << "0.0.0.1";
        QTest::newRow("all ones") << "255.255.255.255" << 0xFFFFFFFFu << "255.255.255.255";
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
};

REGISTER_SUITE(StoredChoiceTest);
#include "StoredChoiceTest.moc"
