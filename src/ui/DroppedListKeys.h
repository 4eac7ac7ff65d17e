// Keys in a drop-down list's open popup as the platform's list takes them: each arrow step is a change of
// selection, Alt+Up, Alt+Down and F4 close the popup keeping the entry, Escape closes it and goes back to the
// entry chosen before it opened.
#pragma once

#include <QObject>
#include <functional>

class QComboBox;

class DroppedListKeys : public QObject {
    Q_OBJECT
public:
    // Watches the list; owned by it. changed runs for every change of selection the operator makes: a key
    // step in the open popup, Escape going back, and each entry chosen, as the list reports it.
    DroppedListKeys(QComboBox* list, std::function<void()> changed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chosen(int row);
    bool step(QEvent* key);

    QComboBox* m_list;
    std::function<void()> m_changed;
    int m_rowAtOpening = -1;
    // The row the last key step in the popup went to, while no entry has been chosen since; else -1.
    int m_steppedTo = -1;
    bool m_forwarding = false;
};
