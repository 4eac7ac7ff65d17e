#include "HelpPage.h"

#include "ui/SettingsDlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QLocale>
#include <QShortcut>
#include <QUrl>
#include <QWidget>

#ifndef VELL_HELP_DIR_FROM_PROGRAM
#define VELL_HELP_DIR_FROM_PROGRAM "../share/vellsetting"
#endif

QStringList helpPageNames(const QString& baseName, DlgLanguage language) {
    const QString english = baseName + QStringLiteral(".html");
    if (language == DlgLanguage::ChinesePrc)
        return {baseName + QStringLiteral(".zh_CN.html"), english};
    return {english};
}

QStringList helpPageDirs(const QString& programDir) {
    // Relative to the program, as the launcher finds the skin, so an installed tree can be moved.
    return {QDir::cleanPath(programDir + QStringLiteral("/" VELL_HELP_DIR_FROM_PROGRAM)), programDir};
}

QString findHelpPage(const QStringList& dirs, const QStringList& pageNames) {
    for (const QString& name : pageNames) {
        for (const QString& dir : dirs) {
            if (dir.isEmpty())
                continue;
            const QFileInfo page(QDir(dir), name);
            if (page.isFile())
                return page.absoluteFilePath();
        }
    }
    return {};
}

void installHelpKey(QWidget* window, const QString& anchor) {
    auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), window);
    helpKey->setContext(Qt::WindowShortcut);
    QObject::connect(helpKey, &QShortcut::activated, window, [anchor] {
        // Named like the program file, as its help always was; in the language the window chose.
        const QFileInfo program(QCoreApplication::applicationFilePath());
        const QString page =
            findHelpPage(helpPageDirs(program.absolutePath()),
                         helpPageNames(program.completeBaseName(), CSettingsDlg::chooseLanguage(QLocale())));
        if (page.isEmpty())
            return;
        QUrl url = QUrl::fromLocalFile(page);
        url.setFragment(anchor);
        QDesktopServices::openUrl(url);
    });
}
