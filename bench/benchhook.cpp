// Bench-only start-up hook linked into VellSetting_benchhook: the shipped program has no such option.
#include "FirstFrameCloser.h"

#include <QCoreApplication>

namespace {

void InstallFirstFrameCloser() {
    auto* app = QCoreApplication::instance();
    app->installEventFilter(new FirstFrameCloser(app, true));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallFirstFrameCloser)
