// Tooltips on the port list saying where each COM name leads, asked of the port link library only when the
// list is opened or hovered, so the window's start-up does no device lookups, and asked on a thread of their
// own, so a device that holds the kernel for seconds never holds the window.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

class QComboBox;
struct DescribeQueue;
struct DescribeRequest;

// "COM3 → /dev/ttyUSB0 (USB serial adapter FTDI FT232R, present)", in the window's language; empty when the
// library cannot describe the name. Asks the library on the calling thread.
QString portToolTipText(const QString& portName, bool chinese);

class PortToolTip : public QObject {
    Q_OBJECT
public:
    // Watches the list; owned by it.
    PortToolTip(QComboBox* list, bool chinese);
    // Never waits for a description in progress: the thread asking it finishes on its own.
    ~PortToolTip() override;

    // What the last send to a port came to, in the operator's words ("" for a send the far end confirmed):
    // told on that port's tooltip, wrapped to a readable width, until the next send to it says otherwise.
    void noteSend(const QString& portName, const QString& note);
    bool chinese() const { return m_chinese; }

    // On the window's thread, what the describing thread found for a request; dropped when the operator has
    // looked elsewhere since.
    void answer(const DescribeRequest& request, const QString& described);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshEntries();
    void refreshCurrent();
    void ask(const QString& portName);
    // The described text, or the name alone while it is not known, and the note of the last send.
    QString composed(const QString& portName) const;
    void show(int index, const QString& tip);

    QComboBox* m_list;
    bool m_chinese;
    std::shared_ptr<DescribeQueue> m_queue;
    quint64 m_lastTicket = 0;
    // Answers to requests from before the list's latest opening are stale; 0 while it is closed.
    quint64 m_popupTicket = 0;
    // The entry the last hover asked for.
    QString m_hovered;
    QHash<QString, QString> m_described;
    QHash<QString, QString> m_sendNotes;
};
