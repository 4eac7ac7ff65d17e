// Four octet fields; a dot or a full field moves on, Backspace in an empty field moves back.
#include "IPAddressCtrl.h"

#include "LeadingNumber.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

namespace {

int clampOctet(const QString& part) {
    // Leading digits only, like the platform control; anything larger than 255 saturates.
    return leadingNumber(part.trimmed(), 255);
}

// A screen reader hears the four fields as one group named for the address, not as a bare pane.
QAccessibleInterface* addressAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("CIPAddressCtrl") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent) {
    static const bool accessibleInstalled = (QAccessible::installFactory(addressAccessible), true);
    Q_UNUSED(accessibleInstalled);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setValidator(new QIntValidator(0, 255, field));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->setFrame(false);
        field->installEventFilter(this);
        m_fields[i] = field;
        layout->addWidget(field, 1);
        if (i + 1 < m_fields.size())
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == 3 && i + 1 < m_fields.size()) {
                m_fields[i + 1]->setFocus(Qt::OtherFocusReason);
                m_fields[i + 1]->selectAll();
            }
        });
    }
    setFocusProxy(m_fields[0]);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void CIPAddressCtrl::setAddressText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const int value =
            static_cast<qsizetype>(i) < parts.size() ? clampOctet(parts[static_cast<qsizetype>(i)]) : 0;
        m_fields[i]->setText(QString::number(value));
    }
}

std::uint32_t CIPAddressCtrl::GetAddress() const {
    std::uint32_t value = 0;
    for (const QLineEdit* field : m_fields)
        value = (value << 8) | static_cast<std::uint32_t>(clampOctet(field->text()));
    return value;
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto it = std::find(m_fields.begin(), m_fields.end(), watched);
        if (it != m_fields.end()) {
            const auto index = static_cast<std::size_t>(it - m_fields.begin());
            if (key->key() == Qt::Key_Period && index + 1 < m_fields.size()) {
                m_fields[index + 1]->setFocus(Qt::OtherFocusReason);
                m_fields[index + 1]->selectAll();
                return true;
            }
            if (key->key() == Qt::Key_Backspace && (*it)->cursorPosition() == 0 &&
                !(*it)->hasSelectedText() && index > 0) {
                m_fields[index - 1]->setFocus(Qt::OtherFocusReason);
                m_fields[index - 1]->end(false);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
