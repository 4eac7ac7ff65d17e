#include "DroppedListKeys.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>

DroppedListKeys::DroppedListKeys(QComboBox* list, std::function<void()> changed)
    : QObject(list), m_list(list), m_changed(std::move(changed)) {
    // Installed after the popup's own filter, so it sees the keys first.
    list->view()->installEventFilter(this);
    connect(list, &QComboBox::activated, this, &DroppedListKeys::chosen);
}

bool DroppedListKeys::eventFilter(QObject* watched, QEvent* event) {
    if (m_forwarding)
        return false;
    switch (event->type()) {
    case QEvent::Show: // the popup opens
        m_rowAtOpening = m_list->currentIndex();
        m_steppedTo = -1;
        return false;
    case QEvent::ShortcutOverride:
        if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
            m_list->hidePopup();
            m_steppedTo = -1;
            if (m_list->currentIndex() != m_rowAtOpening) {
                m_list->setCurrentIndex(m_rowAtOpening);
                m_changed();
            }
            return true;
        }
        return false;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & Qt::AltModifier) &&
            (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            // Either arrow closes the popup, as on Windows; Qt knows only Alt+Down.
            m_list->hidePopup();
            return true;
        }
        return step(event);
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

// A key that moves the popup's highlight (arrows, pages, Home, End, a letter) chooses the entry it lands on.
bool DroppedListKeys::step(QEvent* event) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool moves = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down ||
                       key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown ||
                       key->key() == Qt::Key_Home || key->key() == Qt::Key_End ||
                       (!key->text().isEmpty() && key->text().at(0).isPrint());
    if (!moves || (key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)))
        return false;
    QAbstractItemView* view = m_list->view();
    m_forwarding = true;
    QCoreApplication::sendEvent(view, event);
    m_forwarding = false;
    const int row = view->currentIndex().row();
    if (row >= 0 && row != m_list->currentIndex()) {
        m_list->setCurrentIndex(row);
        m_steppedTo = row;
        m_changed();
    }
    return true;
}

void DroppedListKeys::chosen(int row) {
    // Enter on the entry the arrows went to changes nothing more.
    const bool reported = row == m_steppedTo;
    m_steppedTo = -1;
    if (!reported)
        m_changed();
}
