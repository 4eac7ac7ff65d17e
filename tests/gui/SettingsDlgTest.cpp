// The settings window's test program: every suite registered, run as QTEST_MAIN runs one.
#include "SettingsDlgTest.h"

namespace {
std::vector<std::function<std::unique_ptr<QObject>()>>& suites() {
    static std::vector<std::function<std::unique_ptr<QObject>()>> registered;
    return registered;
}
} // namespace

bool registerSuite(std::function<std::unique_ptr<QObject>()> make) {
    suites().push_back(std::move(make));
    return true;
}

// A first argument naming a test function runs only the suite that has it.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    const QByteArray function = argc > 1 && argv[1][0] != '-' ? QByteArray(argv[1]).split(':').first() : "";
    int failures = 0;
    for (const auto& make : suites()) {
        const std::unique_ptr<QObject> suite = make();
        if (function.isEmpty() || suite->metaObject()->indexOfMethod(function + "()") >= 0)
            failures += QTest::qExec(suite.get(), argc, argv);
    }
    return failures;
}
