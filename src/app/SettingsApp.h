// The application object: its start-up routine fixes the working paths, applies the skin and runs the window.
#pragma once

class QApplication;

class CSettingsApp {
public:
    explicit CSettingsApp(QApplication& app);

    // Runs the settings window modally to its end; returns false, as there is no message loop to enter after
    // it.
    bool InitInstance();

private:
    QApplication& m_app;
};
