// Bench-only: on the first paint of a top-level dialog, prints its size and the font it resolved to, and
// rejects it (the Exit path).
#include "FirstFrameCloser.h"

#include <QDialog>
#include <QEvent>
#include <QFontInfo>
#include <QMetaObject>
#include <cstdio>

bool FirstFrameCloser::eventFilter(QObject* watched, QEvent* event) {
    if (!m_seen && event->type() == QEvent::Paint) {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog != nullptr && dialog->isWindow()) {
            m_seen = true;
            std::printf("first-frame %dx%d", dialog->width(), dialog->height());
            if (m_reportFont) {
                const QFontInfo font(dialog->font());
                std::printf(" %d %s", font.pointSize(), font.family().toUtf8().constData());
            }
            std::printf("\n");
            std::fflush(stdout);
            // Queued, so the frame in progress completes before the window closes. Left open for a runner
            // that ends the process itself once it has seen the window, so the window is still there to be
            // asked.
            if (qEnvironmentVariableIsEmpty("BENCH_KEEP_OPEN"))
                QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}
