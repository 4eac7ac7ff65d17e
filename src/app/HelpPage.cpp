// F1 help: the program's own HTML page, shown by the desktop's browser.
#include "HelpPage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QShortcut>
#include <QUrl>
#include <QWidget>

#ifndef VELL_HELP_DIR
#define VELL_HELP_DIR ""
#endif

QString findHelpPage(const QString& programDir, const QString& dataDir, const QString& pageName) {
    for (const QString& dir : {programDir, dataDir}) {
        if (dir.isEmpty()) {
            continue;
        }
        const QFileInfo page(QDir(dir), pageName);
        if (page.isFile()) {
            return page.absoluteFilePath();
        }
    }
    return {};
}

void installHelpKey(QWidget* window, const QString& anchor) {
    auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), window);
    helpKey->setContext(Qt::WindowShortcut);
    QObject::connect(helpKey, &QShortcut::activated, window, [anchor] {
        // Named like the program file, as its help always was.
        const QFileInfo program(QCoreApplication::applicationFilePath());
        const QString page = findHelpPage(program.absolutePath(), QStringLiteral(VELL_HELP_DIR),
                                          program.completeBaseName() + QStringLiteral(".html"));
        if (page.isEmpty()) {
            return;
        }
        QUrl url = QUrl::fromLocalFile(page);
        url.setFragment(anchor);
        QDesktopServices::openUrl(url);
    });
}
