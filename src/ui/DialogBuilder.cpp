// Template to widgets: what a resource-based dialog gets from the platform, done with Qt widgets.
#include "DialogBuilder.h"

#include "IPAddressCtrl.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <cmath>

namespace {

int scale(int dlu, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(dlu) * base / divisor));
}

// Without access keys the "&" would still make Qt underline a letter and bind Alt+letter.
QString itemText(const char* text, bool accessKeys) {
    QString result = QString::fromUtf8(text);
    if (!accessKeys)
        result.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return result;
}

} // namespace

CDialogBuilder::CDialogBuilder(const QFont& font) : m_font(font) {
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_hbase = static_cast<int>(std::lround(static_cast<double>(metrics.horizontalAdvance(letters)) / 52.0));
    m_vbase = metrics.height();
}

QRect CDialogBuilder::MapDialogRect(int x, int y, int cx, int cy) const {
    return {scale(x, m_hbase, 4), scale(y, m_vbase, 8), scale(cx, m_hbase, 4), scale(cy, m_vbase, 8)};
}

void CDialogBuilder::build(QDialog& dialog, const DlgTemplate& tmpl, bool accessKeys) {
    dialog.setFont(m_font);
    dialog.setWindowTitle(QString::fromUtf8(tmpl.caption));
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    const QRect client = MapDialogRect(0, 0, tmpl.cx, tmpl.cy);
    dialog.setFixedSize(client.size());

    QWidget* previous = nullptr;
    QLabel* unpairedLabel = nullptr;
    for (const DlgItem& entry : tmpl.items) {
        const QRect r = MapDialogRect(entry.x, entry.y, entry.cx, entry.cy);
        QWidget* widget = nullptr;
        const QString text = itemText(entry.text, accessKeys);
        switch (entry.kind) {
        case DlgKind::Label: {
            auto* label = new QLabel(text, &dialog);
            label->setAlignment(((entry.style & kRightAlign) ? Qt::AlignRight : Qt::AlignLeft) |
                                Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            widget = label;
            break;
        }
        case DlgKind::ComboBox: {
            auto* combo = new QComboBox(&dialog);
            combo->setEditable(false);
            combo->setMaxVisibleItems(std::max(1, (entry.cy - 14) / 8));
            // The template height includes the drop-down; the closed box is one line high.
            widget = combo;
            widget->setGeometry(r.x(), r.y(), r.width(), scale(14, m_vbase, 8));
            break;
        }
        case DlgKind::IPAddress:
            widget = new CIPAddressCtrl(&dialog);
            break;
        case DlgKind::GroupBox:
            widget = new QGroupBox(text, &dialog);
            widget->setFocusPolicy(Qt::NoFocus);
            widget->lower();
            break;
        case DlgKind::PushButton: {
            auto* button = new QPushButton(text, &dialog);
            button->setAutoDefault(false);
            button->setDefault(false);
            widget = button;
            break;
        }
        }
        if (entry.kind != DlgKind::ComboBox)
            widget->setGeometry(r);
        if (entry.kind == DlgKind::Label)
            widget->setFocusPolicy(Qt::NoFocus);
        else if (entry.style & kTabStop)
            widget->setFocusPolicy(Qt::StrongFocus);
        widget->setVisible(entry.style & kVisible);
        if (entry.id >= 0) {
            widget->setObjectName(QStringLiteral("id%1").arg(entry.id));
            m_items.insert(entry.id, widget);
        }
        if (entry.style & kTabStop) {
            if (previous)
                QWidget::setTabOrder(previous, widget);
            previous = widget;
            // A label names the control after it. Without an "&" in its text the pairing binds no key.
            if (unpairedLabel)
                unpairedLabel->setBuddy(widget);
            unpairedLabel = nullptr;
        }
        if (entry.kind == DlgKind::Label)
            unpairedLabel = static_cast<QLabel*>(widget);
    }
    for (const DlgAccessible& text : tmpl.accessible) {
        QWidget* widget = item(text.id);
        if (!widget)
            continue;
        const QString name = QString::fromUtf8(text.name);
        widget->setAccessibleName(name);
        widget->setAccessibleDescription(QString::fromUtf8(text.description));
        // The address's four fields take the keyboard one by one: each says which part it is.
        const QList<QLineEdit*> fields = widget->findChildren<QLineEdit*>();
        for (qsizetype i = 0; i < fields.size(); ++i)
            fields[i]->setAccessibleName(QStringLiteral("%1 %2").arg(name).arg(i + 1));
    }
    // On Linux a reader announces a list by its label: the label says the list's name, without the colon.
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->buddy())
            label->setAccessibleName(label->buddy()->accessibleName());
    }
    centreInWorkArea(dialog);
}

void CDialogBuilder::centreInWorkArea(QWidget& window) {
    QScreen* screen = window.screen();
    if (!screen)
        return;
    // Before the window exists its frame is unknown and taken as none; once shown, the frame counts too.
    // move() places the frame's corner.
    const QSize frame = window.frameGeometry().size();
    const QRect area = screen->availableGeometry();
    window.move(area.x() + (area.width() - frame.width()) / 2,
                area.y() + (area.height() - frame.height()) / 2);
}
