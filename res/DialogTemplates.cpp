// Template IDD_SETTINGS (neutral English and Chinese PRC, items in keyboard order) and the icons by number.
#include "DialogTemplates.h"

#include "IconPixels.h"
#include "resource.h"

#include <array>
#include <stdexcept>
#include <string>

namespace {

// Lists are drop-down lists, so the builder makes every combo box non-editable.
constexpr unsigned kCombo = kVisible | kTabStop;
constexpr unsigned kButton = kVisible | kTabStop;

constexpr std::array<DlgItem, 11> kNeutralItems{{
    {IDC_STATIC, DlgKind::Label, kVisible | kRightAlign, "Port:", 10, 25, 28, 8},
    {IDC_PORT, DlgKind::ComboBox, kCombo, "", 41, 22, 90, 371},
    {IDC_LINK_LABEL, DlgKind::Label, kRightAlign, "Baud:", 135, 23, 28, 8},
    {IDC_BAUD, DlgKind::ComboBox, kCombo & ~kVisible, "", 165, 22, 90, 147},
    {IDC_IPADDRESS, DlgKind::IPAddress, kTabStop, "IPAddress1", 165, 19, 90, 15},
    {IDC_STATIC, DlgKind::GroupBox, kVisible, "Communications setting", 6, 3, 253, 39},
    {IDC_STATIC, DlgKind::GroupBox, kVisible, "Screen saver setting", 7, 49, 252, 40},
    {IDC_SAVER_ON, DlgKind::PushButton, kButton, "Open", 40, 67, 50, 14},
    {IDC_SAVER_OFF, DlgKind::PushButton, kButton, "Close", 119, 67, 50, 14},
    {IDC_SAVER_DEFAULT, DlgKind::PushButton, kButton, "Default", 198, 67, 50, 14},
    {IDCANCEL, DlgKind::PushButton, kButton, "Exit", 198, 99, 50, 14},
}};

constexpr std::array<DlgItem, 11> kChineseItems{{
    {IDC_STATIC, DlgKind::Label, kVisible | kRightAlign, "端口:", 10, 25, 28, 8},
    {IDC_PORT, DlgKind::ComboBox, kCombo, "", 41, 22, 90, 371},
    {IDC_LINK_LABEL, DlgKind::Label, kRightAlign, "波特率:", 135, 23, 28, 8},
    {IDC_BAUD, DlgKind::ComboBox, kCombo & ~kVisible, "", 165, 22, 90, 147},
    {IDC_IPADDRESS, DlgKind::IPAddress, kTabStop, "IPAddress1", 165, 19, 90, 15},
    {IDC_STATIC, DlgKind::GroupBox, kVisible, "通讯设置", 6, 3, 253, 39},
    {IDC_STATIC, DlgKind::GroupBox, kVisible, "屏保设置", 7, 49, 252, 40},
    {IDC_SAVER_ON, DlgKind::PushButton, kButton, "打开(&O)", 40, 66, 50, 16},
    {IDC_SAVER_OFF, DlgKind::PushButton, kButton, "关闭(&C)", 119, 66, 50, 16},
    {IDC_SAVER_DEFAULT, DlgKind::PushButton, kButton, "默认设置(&D)", 198, 66, 50, 16},
    {IDCANCEL, DlgKind::PushButton, kButton, "退出(&E)", 198, 97, 50, 16},
}};

// The label in front of the baud list reads "Baud:" in both languages, so its list is "Baud" in both.
constexpr std::array<DlgAccessible, 7> kNeutralAccessible{{
    {IDC_PORT, "Port", "The serial port the display is connected to."},
    {IDC_BAUD, "Baud", "The speed of the serial line to the display."},
    {IDC_IPADDRESS, "IP", "The network address of the display."},
    {IDC_SAVER_ON, "Open", "Switches the display's screen saver on."},
    {IDC_SAVER_OFF, "Close", "Switches the display's screen saver off."},
    {IDC_SAVER_DEFAULT, "Default", "Returns the display's screen saver to its default, on."},
    {IDCANCEL, "Exit", "Saves the settings and closes the window."},
}};

constexpr std::array<DlgAccessible, 7> kChineseAccessible{{
    {IDC_PORT, "端口", "显示屏所连接的串口。"},
    {IDC_BAUD, "Baud", "连接显示屏的串口速率。"},
    {IDC_IPADDRESS, "IP", "显示屏的网络地址。"},
    {IDC_SAVER_ON, "打开", "打开显示屏的屏幕保护。"},
    {IDC_SAVER_OFF, "关闭", "关闭显示屏的屏幕保护。"},
    {IDC_SAVER_DEFAULT, "默认设置", "将显示屏的屏幕保护恢复为默认设置，即打开。"},
    {IDCANCEL, "退出", "保存设置并关闭窗口。"},
}};

constexpr DlgTemplate kNeutral{IDD_SETTINGS, "VellSetting", "宋体",        9,
                               266,          120,           kNeutralItems, kNeutralAccessible};
constexpr DlgTemplate kChinese{IDD_SETTINGS, "VellSetting", "宋体",        9,
                               266,          120,           kChineseItems, kChineseAccessible};

} // namespace

const DlgTemplate& dialogTemplate(int id, DlgLanguage language) {
    const DlgTemplate& tmpl = language == DlgLanguage::ChinesePrc ? kChinese : kNeutral;
    if (tmpl.id != id) {
        throw std::out_of_range("no dialog template " + std::to_string(id));
    }
    return tmpl;
}

std::span<const IconPixels> iconPixels(int id) {
    return id == IDI_MAIN ? windowIconPixels() : std::span<const IconPixels>{};
}
