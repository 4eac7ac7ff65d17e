#include "PortToolTip.h"

#include "LibraryCalls.h"
#include "VellPortDll.h"
#include "display/PortWords.h"

#include <QAbstractItemView>
#include <QChildEvent>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QFontMetricsF>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <deque>
#include <mutex>

struct DescribeRequest {
    QString portName;
    quint64 ticket = 0;
};

// What the window and its describing thread share.
struct DescribeQueue : LibraryQueue<DescribeRequest, PortToolTip> {};

namespace {

// A describe has no bound: the end of the program does not wait for it, and ends without the library's
// statics.
LibraryCall::Clock::time_point noBound() {
    return LibraryCall::Clock::time_point::max();
}

// About 66 letters of the tooltip's font: long enough for a sentence, short enough for the eye to find the
// next line.
constexpr int kReadableLetters = 66;

// Chinese characters and full-width forms, between which a line may break without a space.
bool isWide(QChar c) {
    const char16_t code = c.unicode();
    return (code >= 0x2E80 && code < 0xD800) || (code >= 0xF900 && code <= 0xFFEF);
}

// Marks that never start a line, and those that never end one.
bool staysAfter(QChar c) {
    return QStringView(u"，。：；、！？）」』】—").contains(c);
}
bool staysBefore(QChar c) {
    return QStringView(u"（「『【").contains(c);
}

// The text with a line break wherever a line would be wider than the readable width. Lines break at spaces
// and between Chinese characters, never inside a word, a path or a URL: one longer than the width keeps a
// line of its own.
QString wrappedToReadableWidth(const QString& text) {
    const QFontMetricsF metrics(QToolTip::font());
    const qreal width = metrics.averageCharWidth() * kReadableLetters;
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        // The pieces a line may break between, each knowing whether a space comes before it.
        QStringList pieces;
        QList<bool> spaced;
        bool space = false;
        for (const QChar c : paragraph) {
            if (c == QLatin1Char(' ')) {
                space = true;
                continue;
            }
            const QChar before = pieces.isEmpty() ? QChar() : pieces.back().back();
            const bool sameWord = !pieces.isEmpty() && !space &&
                                  ((!isWide(c) && !isWide(before)) || staysAfter(c) || staysBefore(before));
            if (sameWord) {
                pieces.back() += c;
            } else {
                pieces << QString(c);
                spaced << space;
            }
            space = false;
        }
        QString line;
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            const QString longer =
                line + (spaced[i] && !line.isEmpty() ? QStringLiteral(" ") : QString()) + pieces[i];
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
                lines << line;
                line = pieces[i];
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString portToolTipText(const QString& portName, bool chinese) {
    VellPortInfo* described = nullptr;
    if (VellPortDescribe(portName.toLocal8Bit().constData(), &described) != VELLPORT_OK || !described) {
        // A name whose own map line is not valid leads nowhere: the tooltip says why, in the library's words.
        const std::string_view reason = VellPortLastError();
        return reason.empty() ? QString()
                              : QString::fromStdString(portRefusedWords(portName.toStdString(), reason));
    }
    const std::unique_ptr<VellPortInfo, void (*)(VellPortInfo*)> info(described, VellPortFreeInfo);
    return QString::fromStdString(portLeadsWords(portName.toStdString(), *info,
                                                 chinese ? WordsLanguage::Chinese : WordsLanguage::English));
}

PortToolTip::PortToolTip(QComboBox* list, bool chinese)
    : QObject(list), m_list(list), m_chinese(chinese), m_queue(std::make_shared<DescribeQueue>()) {
    m_queue->owner = this;
    list->installEventFilter(this);
    // The drop-down's popup is made on first opening; watching for it here keeps start-up free of it.
    for (QObject* child : list->children())
        child->installEventFilter(this);
}

PortToolTip::~PortToolTip() {
    const std::lock_guard lock(m_queue->mutex);
    m_queue->owner = nullptr;
    m_queue->waiting.clear();
}

bool PortToolTip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list) {
        if (event->type() == QEvent::ChildAdded)
            static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
        else if (event->type() == QEvent::ToolTip)
            refreshCurrent();
    } else if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        // Of the list's children, only its drop-down is a pop-up window (its tooltip is a window too).
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget && widget->windowType() == Qt::Popup && widget->isAncestorOf(m_list->view())) {
            if (event->type() == QEvent::Show)
                refreshEntries();
            else
                m_popupTicket = 0;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PortToolTip::refreshEntries() {
    m_popupTicket = m_lastTicket + 1;
    for (int index = 0; index < m_list->count(); ++index) {
        const QString name = m_list->itemText(index);
        ask(name);
        show(index, composed(name));
    }
}

void PortToolTip::refreshCurrent() {
    const int index = m_list->currentIndex();
    if (index < 0) {
        m_list->setToolTip({});
        return;
    }
    m_hovered = m_list->itemText(index);
    ask(m_hovered);
    show(index, composed(m_hovered));
}

void PortToolTip::ask(const QString& portName) {
    m_described.remove(portName);
    const quint64 ticket = ++m_lastTicket;
    const std::lock_guard lock(m_queue->mutex);
    // One request a name: a later look at a name still waiting stands for the earlier one.
    const auto waiting =
        std::find_if(m_queue->waiting.begin(), m_queue->waiting.end(),
                     [&](const DescribeRequest& request) { return request.portName == portName; });
    if (waiting != m_queue->waiting.end())
        waiting->ticket = ticket;
    else
        m_queue->waiting.push_back({portName, ticket});
    const auto run = [chinese = m_chinese](const DescribeRequest& waiting) {
        return portToolTipText(waiting.portName, chinese);
    };
    const auto deliver = [](PortToolTip* owner, const DescribeRequest& request, const QString& described) {
        QMetaObject::invokeMethod(
            owner, [owner, request, described] { owner->answer(request, described); }, Qt::QueuedConnection);
    };
    // No thread to be had: the tooltips stay the names alone.
    if (!keepRunning(m_queue, noBound, run, deliver))
        m_queue->waiting.clear();
}

void PortToolTip::answer(const DescribeRequest& request, const QString& described) {
    const QString& name = request.portName;
    const bool forEntries = m_popupTicket != 0 && request.ticket >= m_popupTicket;
    const bool forHovered = name == m_hovered && m_list->currentText() == name;
    if (!forEntries && !forHovered)
        return; // the operator has looked elsewhere since
    const QString waitingTip = composed(name);
    m_described.insert(name, described);
    const QString tip = composed(name);
    for (int index = 0; index < m_list->count(); ++index) {
        if (m_list->itemText(index) == name)
            show(index, tip);
    }
    // A tooltip already up with the name alone, on the list or one of its entries, takes the answer in place.
    if (QToolTip::isVisible() && QToolTip::text() == waitingTip)
        QToolTip::showText(QCursor::pos(), tip, m_popupTicket != 0 ? m_list->view()->viewport() : m_list);
}

void PortToolTip::noteSend(const QString& portName, const QString& note) {
    if (!note.isEmpty())
        m_sendNotes.insert(portName, wrappedToReadableWidth(note));
    else if (m_sendNotes.remove(portName) == 0)
        return;
    // Entries that already have a tooltip show the news at once; the others at the next look.
    for (int index = 0; index < m_list->count(); ++index) {
        if (m_list->itemText(index) == portName && !m_list->itemData(index, Qt::ToolTipRole).isNull())
            show(index, composed(portName));
    }
}

QString PortToolTip::composed(const QString& portName) const {
    const QString described = m_described.value(portName);
    const QString shown = described.isEmpty() ? portName : described;
    const auto note = m_sendNotes.constFind(portName);
    return note == m_sendNotes.constEnd() ? shown : shown + QLatin1Char('\n') + *note;
}

void PortToolTip::show(int index, const QString& tip) {
    m_list->setItemData(index, tip, Qt::ToolTipRole);
    if (index == m_list->currentIndex())
        m_list->setToolTip(tip);
}
