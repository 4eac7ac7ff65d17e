// The help page: found in the installed data folder beside the program or next to the program file, in the
// window's language, opened by F1 in a window.
#pragma once

#include "DialogTemplates.h"

#include <QString>
#include <QStringList>

class QWidget;

// The anchor of the settings window's topic in the help page.
inline constexpr const char* kSettingsHelpAnchor = "IDD_SETTINGS";

// The page names to try for a program named baseName, the window's language first: the Chinese window
// takes "<name>.zh_CN.html" before "<name>.html".
QStringList helpPageNames(const QString& baseName, DlgLanguage language);
// Where the help lies for a program in programDir: the installed data folder relative to it, then the
// program's own folder (a build tree).
QStringList helpPageDirs(const QString& programDir);
// The first of pageNames that one of dirs holds, looked for in that order; "" when none does.
QString findHelpPage(const QStringList& dirs, const QStringList& pageNames);
// Makes F1 in window open the running program's help page at anchor in the user's browser; no page, no
// action.
void installHelpKey(QWidget* window, const QString& anchor);
