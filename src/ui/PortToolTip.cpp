// Describes the port list's names through the port link library when the operator looks at them.
#include "PortToolTip.h"

#include "VellPortDll.h"

#include <QAbstractItemView>
#include <QChildEvent>
#include <QComboBox>
#include <QEvent>
#include <QStringList>
#include <QWidget>
#include <memory>

namespace {

QString text(const char* value) {
    return value ? QString::fromUtf8(value) : QString();
}

// "FTDI FT232R USB UART", or the ids when the adapter names nothing.
QString adapterName(const VellPortDeviceDetails& details) {
    QStringList parts;
    for (const char* name : {details.manufacturer, details.product}) {
        if (name != nullptr && *name != '\0')
            parts << text(name);
    }
    if (parts.isEmpty() && details.vendorId >= 0) {
        parts << QStringLiteral("%1:%2")
                     .arg(details.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(details.productId >= 0 ? details.productId : 0, 4, 16, QLatin1Char('0'));
    }
    return parts.join(QLatin1Char(' '));
}

QString stateText(const VellPortInfo& info, bool chinese) {
    switch (info.state) {
    case VELLPORT_STATE_PRESENT:
        if (info.details.isUsb) {
            const QString adapter = adapterName(info.details);
            return chinese ? QStringLiteral("USB 串口适配器 %1，已连接").arg(adapter)
                           : QStringLiteral("USB serial adapter %1, present").arg(adapter);
        }
        return chinese ? QStringLiteral("已连接") : QStringLiteral("present");
    case VELLPORT_STATE_NOT_DEVICE:
        return chinese ? QStringLiteral("不是设备") : QStringLiteral("not a device");
    default:
        // Missing, or a serial node with no UART behind it: either way nothing answers there.
        return chinese ? QStringLiteral("无设备") : QStringLiteral("no device");
    }
}

} // namespace

QString portToolTipText(const QString& portName, bool chinese) {
    VellPortInfo* described = nullptr;
    if (VellPortDescribe(portName.toLocal8Bit().constData(), &described) != VELLPORT_OK || !described)
        return {};
    const std::unique_ptr<VellPortInfo, void (*)(VellPortInfo*)> info(described, VellPortFreeInfo);
    const QString target = QStringLiteral("%1 → %2").arg(portName, text(info->devicePath));
    // Chinese text takes full-width brackets, which carry their own spacing.
    return chinese ? QStringLiteral("%1（%2）").arg(target, stateText(*info, true))
                   : QStringLiteral("%1 (%2)").arg(target, stateText(*info, false));
}

PortToolTip::PortToolTip(QComboBox* list, bool chinese) : QObject(list), m_list(list), m_chinese(chinese) {
    list->installEventFilter(this);
    // The drop-down's popup is made on first opening; watching for it here keeps start-up free of it.
    for (QObject* child : list->children())
        child->installEventFilter(this);
}

bool PortToolTip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list) {
        if (event->type() == QEvent::ChildAdded)
            static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
        else if (event->type() == QEvent::ToolTip)
            refreshCurrent();
    } else if (event->type() == QEvent::Show) {
        // Of the list's children, only its drop-down is a pop-up window (its tooltip is a window too).
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget && widget->windowType() == Qt::Popup && widget->isAncestorOf(m_list->view()))
            refreshEntries();
    }
    return QObject::eventFilter(watched, event);
}

void PortToolTip::refreshEntries() {
    for (int index = 0; index < m_list->count(); ++index)
        m_list->setItemData(index, portToolTipText(m_list->itemText(index), m_chinese), Qt::ToolTipRole);
    m_list->setToolTip(m_list->itemData(m_list->currentIndex(), Qt::ToolTipRole).toString());
}

void PortToolTip::refreshCurrent() {
    const int index = m_list->currentIndex();
    const QString tip = index >= 0 ? portToolTipText(m_list->itemText(index), m_chinese) : QString();
    if (index >= 0)
        m_list->setItemData(index, tip, Qt::ToolTipRole);
    m_list->setToolTip(tip);
}
