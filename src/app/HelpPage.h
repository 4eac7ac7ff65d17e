// The help page: found next to the program file or in the installed data folder, opened by F1 in a window.
#pragma once

#include <QString>

class QWidget;

// The anchor of the settings window's topic in the help page.
inline constexpr const char* kSettingsHelpAnchor = "IDD_SETTINGS";

// The first existing file named pageName in programDir, then dataDir; "" when neither holds it.
QString findHelpPage(const QString& programDir, const QString& dataDir, const QString& pageName);
// Makes F1 in window open the running program's help page at anchor in the user's browser; no page, no
// action.
void installHelpKey(QWidget* window, const QString& anchor);
