#include "SettingsApp.h"

#include "HelpPage.h"
#include "SignalCloser.h"
#include "Skin.h"
#include "VellSetting.h"
#include "ui/SettingsDlg.h"

#include <QApplication>
#include <string>

CSettingsApp::CSettingsApp(QApplication& app) : m_app(app) {}

bool CSettingsApp::InitInstance() {
    // Embedded controls and the three-dimensional control look need no preparation in Qt.

    g_strAppDir = queryCurrentDirectory();
    // With no directory the bare names still land in the working directory, never in "/".
    const std::string separator = g_strAppDir.empty() ? "" : "/";
    g_strIniPath = g_strAppDir + separator + "Option.ini";

    const std::string skinPath = g_strAppDir + separator + "XPCorona.ssk";
    applySkin(m_app, skinPath);

    // Catch the closing signals before the window exists: one arriving early is delivered once the run
    // starts.
    SignalCloser closer;
    {
        CSettingsDlg dialog;
        installHelpKey(&dialog, QString::fromLatin1(kSettingsHelpAnchor));
        // As if "Exit" were pressed: the dialog's own closing saves the settings.
        QObject::connect(&closer, &SignalCloser::closeRequested, &dialog, &QDialog::reject);
        dialog.exec();
    }
    return false;
}
