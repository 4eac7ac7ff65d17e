#include "SettingsDlg.h"

#include "DialogBuilder.h"
#include "DroppedListKeys.h"
#include "IPAddressCtrl.h"
#include "IconPixels.h"
#include "LeadingNumber.h"
#include "PortToolTip.h"
#include "PortWorker.h"
#include "SendNote.h"
#include "VellPortDll.h"
#include "common/CodePage.h"
#include "display/LineSettings.h"
#include "display/SaverCommand.h"
#include "resource.h"
#include "settings/CommSettings.h"
#include "version/Title.h"

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QTime>
#include <fontconfig/fontconfig.h>
#include <memory>

namespace {

// The program's icon at every size it carries, built from pixels compiled into the program.
QIcon makeWindowIcon() {
    QIcon icon;
    for (const IconPixels& pixels : iconPixels(IDI_MAIN)) {
        const QImage image(reinterpret_cast<const uchar*>(pixels.argb), pixels.width, pixels.height,
                           QImage::Format_ARGB32_Premultiplied);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

// The installed face fontconfig draws "SimSun" with for Simplified Chinese, whichever font package
// brought it; "" when it has nothing. One match, not a walk over every family: it runs at each start.
QString bestSimSunMatch() {
    const Pattern wanted(FcNameParse(reinterpret_cast<const FcChar8*>("SimSun:lang=zh-cn")));
    if (!wanted)
        return {};
    FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern);
    FcDefaultSubstitute(wanted.get());
    FcResult result = FcResultNoMatch;
    const Pattern found(FcFontMatch(nullptr, wanted.get(), &result));
    FcChar8* family = nullptr;
    if (!found || FcPatternGetString(found.get(), FC_FAMILY, 0, &family) != FcResultMatch)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(family));
}

} // namespace

DlgLanguage CSettingsDlg::chooseLanguage(const QLocale& locale) {
    return locale.language() == QLocale::Chinese && locale.territory() == QLocale::China
               ? DlgLanguage::ChinesePrc
               : DlgLanguage::Neutral;
}

void CSettingsDlg::installFontSubstitutes() {
    const QString face = QStringLiteral("宋体");
    if (QFontDatabase::hasFamily(face) || !QFont::substitutes(face).isEmpty())
        return;
    const QString match = bestSimSunMatch();
    if (match.isEmpty())
        return;
    QFont::insertSubstitution(face, match);
    QFont::insertSubstitution(QStringLiteral("SimSun"), match);
}

CSettingsDlg::CSettingsDlg(QWidget* parent) : QDialog(parent) {
    installFontSubstitutes();
    m_hIcon = makeWindowIcon();

    const DlgLanguage language = chooseLanguage(QLocale());
    const DlgTemplate& tmpl = dialogTemplate(IDD_SETTINGS, language);
    // Naming the installed stand-in for a face that is not there spares the font matcher a search for it.
    QString face = QString::fromUtf8(tmpl.fontFace);
    if (!QFontDatabase::hasFamily(face))
        face = QFont::substitute(face);
    QFont font(face);
    font.setPointSize(tmpl.pointSize);
    // The window's font is the program's: Qt lays out a new line edit's empty text in the application font
    // before it takes its parent's, which would load a second font file for nothing.
    QApplication::setFont(font);
    CDialogBuilder builder(font);
    builder.build(*this, tmpl, language == DlgLanguage::ChinesePrc);

    // Data exchange: bind 1003, 1002, 1000, 1001.
    m_stLinkLabel = static_cast<QLabel*>(builder.item(IDC_LINK_LABEL));
    m_ipAddress = static_cast<CIPAddressCtrl*>(builder.item(IDC_IPADDRESS));
    m_cbPort = static_cast<QComboBox*>(builder.item(IDC_PORT));
    m_cbBaud = static_cast<QComboBox*>(builder.item(IDC_BAUD));
    for (QComboBox* list : {m_cbPort, m_cbBaud})
        list->installEventFilter(this);
    m_portToolTip = new PortToolTip(m_cbPort, language == DlgLanguage::ChinesePrc);
    m_portWorker = new PortWorker(this);
    // The window stays usable while a send runs; the cursor tells that one is under way.
    connect(m_portWorker, &PortWorker::sendingChanged, this,
            [this](bool sending) { sending ? setCursor(Qt::BusyCursor) : unsetCursor(); });
    for (int id : {IDC_SAVER_ON, IDC_SAVER_OFF, IDC_SAVER_DEFAULT, IDCANCEL})
        builder.item(id)->installEventFilter(this);
    connect(static_cast<QPushButton*>(builder.item(IDCANCEL)), &QPushButton::clicked, this, &QDialog::reject);

    connectMessageMap();
    OnInitDialog();
}

CSettingsDlg::~CSettingsDlg() {
    // Destroyed without having been closed (e.g. the application quit under it): save all the same.
    if (!m_saved)
        saveSettings();
    m_portWorker->dropWaiting();
}

// The message table. Paint and the drag icon are the desktop's; destroy is done() and the destructor. A
// selection change is each entry chosen and each key step in an open list, as the platform's list reports.
void CSettingsDlg::connectMessageMap() {
    new DroppedListKeys(m_cbPort, [this] { OnSelchangePort(); });
    new DroppedListKeys(m_cbBaud, [this] { OnSelchangeBaud(); });
    const auto button = [this](int id) { return findChild<QPushButton*>(QStringLiteral("id%1").arg(id)); };
    connect(button(IDC_SAVER_ON), &QPushButton::clicked, this, &CSettingsDlg::OnSaverOn);
    connect(button(IDC_SAVER_OFF), &QPushButton::clicked, this, &CSettingsDlg::OnSaverOff);
    connect(button(IDC_SAVER_DEFAULT), &QPushButton::clicked, this, &CSettingsDlg::OnSaverDefault);
}

void CSettingsDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    // The program file's name is bytes in the locale's encoding, which on a GBK system is not UTF-8.
    setWindowTitle(QString::fromStdWString(common::decodeWithLocale(MakeWindowTitle())));

    // One reading of the file for all six values: a big or slow settings file costs the start-up once.
    const CommSettings stored = loadCommSettings();

    const std::vector<std::string> ports = BuildPortList();
    const CommSelection selection = selectStored(ports, stored);
    for (const std::string& name : ports)
        m_cbPort->addItem(QString::fromStdString(name));
    m_cbPort->setCurrentIndex(selection.portIndex);

    for (const char* baud : kBaudList)
        m_cbBaud->addItem(QString::fromLatin1(baud));
    m_cbBaud->setCurrentIndex(selection.baudIndex);

    m_ipAddress->setAddressText(QString::fromStdString(formatAddress(stored.ip)));

    OnSelchangePort();
    m_cbPort->setFocus(Qt::OtherFocusReason);
}

void CSettingsDlg::OnSelchangePort() {
    const QString port = m_cbPort->currentText().toUpper();
    if (port == QLatin1String("NET")) {
        m_cbBaud->hide();
        m_ipAddress->setAddressText(QString::fromStdString(formatAddress(loadCommSettings().ip)));
        m_stLinkLabel->setText(QStringLiteral("IP:"));
        m_stLinkLabel->setBuddy(m_ipAddress);
        m_stLinkLabel->setAccessibleName(m_ipAddress->accessibleName());
        m_ipAddress->show();
        m_stLinkLabel->show();
    } else if (port.contains(QLatin1String("COM"))) {
        m_cbBaud->show();
        m_stLinkLabel->setText(QStringLiteral("Baud:"));
        m_stLinkLabel->setBuddy(m_cbBaud);
        m_stLinkLabel->setAccessibleName(m_cbBaud->accessibleName());
        m_ipAddress->hide();
        m_stLinkLabel->show();
        configurePort(port, leadingNumber(m_cbBaud->currentText()));
    } else {
        if (port.contains(QLatin1String("USB"))) {
            m_portWorker->post([] {
                GetUSBPort();
                return PortCallOutcome{};
            });
        }
        m_cbBaud->hide();
        m_ipAddress->hide();
        m_stLinkLabel->hide();
    }
}

void CSettingsDlg::OnSelchangeBaud() {
    configurePort(m_cbPort->currentText(), leadingNumber(m_cbBaud->currentText()));
}

void CSettingsDlg::configurePort(const QString& port, int rate) {
    m_portWorker->post([port = port.toLocal8Bit().toStdString(), rate] {
        return PortCallOutcome{setDisplayLine(port.c_str(), rate), VELLPORT_DELIVERY_NONE, {}};
    });
}

void CSettingsDlg::sendSaverCommand(bool on, int buttonId, const char* logName) {
    const SaverCommand command = makeSaverCommand(on);
    const QString portName = m_cbPort->currentText();
    const auto* button = findChild<QPushButton*>(QStringLiteral("id%1").arg(buttonId));
    const QString action = button ? button->accessibleName() : QString();
    const QTime pressed = QTime::currentTime();
    m_portWorker->post(
        [port = portName.toLocal8Bit().toStdString(), command] {
            PortCallOutcome outcome;
            outcome.result = SendData(port.c_str(), command.data(), static_cast<int>(command.size()));
            // The library keeps both for the thread that sent: read here, before its next call.
            outcome.reason = VellPortLastError();
            outcome.delivery = VellPortLastDelivery();
            return outcome;
        },
        // No dialog for the result: the port's tooltip tells it, named as the button names its action.
        [this, portName, action, pressed](const PortCallOutcome& outcome) {
            m_portToolTip->noteSend(portName, sendNote(action, pressed, outcome, m_portToolTip->chinese()));
        },
        std::string(logName) + " to " + portName.toLocal8Bit().toStdString() +
            " not sent: the window closed before its turn");
}

void CSettingsDlg::OnSaverOn() {
    sendSaverCommand(true, IDC_SAVER_ON, "Open");
}

void CSettingsDlg::OnSaverOff() {
    sendSaverCommand(false, IDC_SAVER_OFF, "Close");
}

void CSettingsDlg::OnSaverDefault() {
    sendSaverCommand(true, IDC_SAVER_DEFAULT, "Default");
}

void CSettingsDlg::saveSettings() {
    CommSettings settings;
    settings.port = m_cbPort->currentText().toLocal8Bit().toStdString();
    settings.baudIndex = m_cbBaud->currentIndex();
    settings.ip = addressOctets(m_ipAddress->GetAddress());
    // All six in one write, so an instance closing at the same moment cannot leave a mix of the two.
    saveCommSettings(settings);
    m_saved = true;
}

// Every closing route (Exit, Escape, close box, Enter in a list) ends here: the window goes away, so save.
void CSettingsDlg::done(int result) {
    QDialog::done(result);
    saveSettings();
    // The presses still waiting go with the window; a send under way ends within its bound on its own.
    m_portWorker->dropWaiting();
}

void CSettingsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred once more now that the platform knows the frame, so the whole window sits in the middle.
    if (!m_centred) {
        m_centred = true;
        CDialogBuilder::centreInWorkArea(*this);
    }
}

bool CSettingsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool altArrow =
        (key->modifiers() & Qt::AltModifier) && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up);
    if (watched == m_cbPort || watched == m_cbBaud) {
        if (enter) {
            accept(); // OK: no control bears it, the framework ends the dialog
            return true;
        }
        if (altArrow) {
            static_cast<QComboBox*>(watched)->showPopup();
            return true;
        }
        const bool printable =
            !key->text().isEmpty() || (key->key() >= Qt::Key_Space && key->key() <= Qt::Key_AsciiTilde);
        if ((key->modifiers() & Qt::AltModifier) && printable)
            return true; // Alt with a letter is an access key, never the list's type-ahead
    } else if (auto* button = qobject_cast<QPushButton*>(watched); button && enter) {
        button->click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
