// Tooltips on the port list saying where each COM name leads, asked of the port link library only when the
// list is opened or hovered, so the window's start-up does no device lookups.
#pragma once

#include <QObject>
#include <QString>

class QComboBox;

// "COM3 → /dev/ttyUSB0 (USB serial adapter FTDI FT232R, present)", in the window's language; empty when the
// library cannot describe the name.
QString portToolTipText(const QString& portName, bool chinese);

class PortToolTip : public QObject {
    Q_OBJECT
public:
    // Watches the list; owned by it.
    PortToolTip(QComboBox* list, bool chinese);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshEntries();
    void refreshCurrent();

    QComboBox* m_list;
    bool m_chinese;
};
