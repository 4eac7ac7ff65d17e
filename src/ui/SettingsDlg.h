// The settings window: port, baud rate or address, and the screen-saver buttons.
#pragma once

#include "DialogTemplates.h"

#include <QDialog>
#include <QIcon>

class QComboBox;
class QLabel;
class CIPAddressCtrl;
class PortToolTip;
class PortWorker;

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSettingsDlg(QWidget* parent = nullptr);
    ~CSettingsDlg() override;

    // Chinese (PRC) user interface -> Chinese template with access keys; anything else -> neutral.
    static DlgLanguage chooseLanguage(const QLocale& locale);
    // "宋体"/"SimSun" are rarely installed off Windows; map them to fontconfig's best face for Simplified
    // Chinese before any use.
    static void installFontSubstitutes();

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void connectMessageMap();
    void OnInitDialog();
    void OnSelchangePort();
    void OnSelchangeBaud();
    void OnSaverOn();
    void OnSaverOff();
    void OnSaverDefault();
    void saveSettings();
    void configurePort(const QString& port, int rate);
    void sendSaverCommand(bool on, int buttonId, const char* logName);

    QLabel* m_stLinkLabel = nullptr;
    CIPAddressCtrl* m_ipAddress = nullptr;
    QComboBox* m_cbPort = nullptr;
    QComboBox* m_cbBaud = nullptr;
    PortToolTip* m_portToolTip = nullptr;
    // Every call into the port link library, in the operator's order, off the window's thread.
    PortWorker* m_portWorker = nullptr;
    QIcon m_hIcon;
    bool m_saved = false;
    bool m_centred = false;
};
