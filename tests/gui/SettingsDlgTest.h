// What every suite of the settings window shares: the window on a settings file in a temporary folder,
// against a recording port link, its controls by resource number, and a wait for the library calls it made.
#pragma once

#include "PortRecorder.h"
#include "TempDir.h"
#include "VellPortDll.h"
#include "resource.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"
#include "ui/IPAddressCtrl.h"
#include "ui/PortWorker.h"
#include "ui/SettingsDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

using Bytes = std::vector<unsigned char>;

// The address the control holds, as the settings file would store it.
inline QString shownAddress(const CIPAddressCtrl& control) {
    return QString::fromStdString(formatAddress(addressOctets(control.GetAddress())));
}

class SettingsDlgTest : public QObject {
    Q_OBJECT

protected:
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

    void Open(bool chinese = false) {
        if (chinese)
            QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        RecordedPortCalls().clear();
        m_dlg = std::make_unique<CSettingsDlg>();
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
        m_dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
        Settle();
    }
    std::string Stored(const char* key) const { return IniReadString("COMM", key, "<none>"); }
    void ExpectSaved(const char* port, const char* baud, const char* address = "192.168.2.10") {
        QCOMPARE(Stored("Port"), std::string(port));
        QCOMPARE(Stored("Baud"), std::string(baud));
        QCOMPARE(Stored("IP1") + '.' + Stored("IP2") + '.' + Stored("IP3") + '.' + Stored("IP4"),
                 std::string(address));
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
};

// The suites run in one test program, each registered by its file.
bool registerSuite(std::function<std::unique_ptr<QObject>()> make);
#define REGISTER_SUITE(Suite)                                                                                \
    [[maybe_unused]] static const bool kRegistered = registerSuite([] { return std::make_unique<Suite>(); })
