#include "SerialLink.h"

#include "PermissionAdvice.h"
#include "SendDeadline.h"
#include "SocketWait.h"
#include "VellPortDll.h"
#include "common/RegularFile.h"
#include "common/Text.h"
#include "common/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace portlink {
namespace {

constexpr std::chrono::microseconds kShortestDrainStep{100};
constexpr std::chrono::microseconds kLongestDrainStep{2000};

// Each parity letter as Qt takes it and as the line settings carry it.
struct ParityForm {
    char letter;
    QSerialPort::Parity qt;
    tcflag_t flags;
};

const ParityForm& parityForm(char letter) {
    static constexpr ParityForm kForms[] = {{'N', QSerialPort::NoParity, 0},
                                            {'E', QSerialPort::EvenParity, PARENB},
                                            {'O', QSerialPort::OddParity, PARENB | PARODD},
                                            {'M', QSerialPort::MarkParity, PARENB | CMSPAR | PARODD},
                                            {'S', QSerialPort::SpaceParity, PARENB | CMSPAR}};
    const auto* form =
        std::find_if(std::begin(kForms), std::end(kForms),
                     [letter](const ParityForm& candidate) { return candidate.letter == letter; });
    return form != std::end(kForms) ? *form : kForms[0];
}

QSerialPort::FlowControl toQtFlowControl(int flowControl) {
    constexpr QSerialPort::FlowControl kFlows[] = {QSerialPort::NoFlowControl, QSerialPort::HardwareControl,
                                                   QSerialPort::SoftwareControl};
    return flowControl == 1 || flowControl == 2 ? kFlows[flowControl] : QSerialPort::NoFlowControl;
}

// The standard rate constant for baudRate, 0 when the table has none (Qt then sets the rate another way).
speed_t standardSpeed(int baudRate) {
    static constexpr struct {
        int rate;
        speed_t speed;
    } kRates[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                  {150, B150},       {200, B200},       {300, B300},       {600, B600},
                  {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                  {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                  {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& entry : kRates) {
        if (entry.rate == baudRate) {
            return entry.speed;
        }
    }
    return 0;
}

// True when the line settings carry every one of params: a device that silently drops some (a
// pseudo-terminal has no parity bit) does not count.
bool carriesParams(const termios& settings, const PortParams& params) {
    const speed_t speed = standardSpeed(params.baudRate);
    const tcflag_t size = params.dataBits == 5   ? CS5
                          : params.dataBits == 6 ? CS6
                          : params.dataBits == 7 ? CS7
                                                 : CS8;
    const tcflag_t parity = parityForm(params.parity).flags;
    const bool hardwareFlow = (settings.c_cflag & CRTSCTS) != 0;
    const bool softwareFlow = (settings.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF);
    return speed != 0 && ::cfgetospeed(&settings) == speed && ::cfgetispeed(&settings) == speed &&
           (settings.c_cflag & CSIZE) == size && (settings.c_cflag & (PARENB | PARODD | CMSPAR)) == parity &&
           ((settings.c_cflag & CSTOPB) != 0) == (params.stopBits == 2) &&
           hardwareFlow == (params.flowControl == 1) && softwareFlow == (params.flowControl == 2);
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_line == b.c_line &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && ::cfgetispeed(&a) == ::cfgetispeed(&b) &&
           ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

// The line settings as they were just before Qt opened the device, which Qt puts back when it closes, read
// through a descriptor of our own opened first.
class SettingsBeforeOpening {
public:
    explicit SettingsBeforeOpening(const std::string& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        m_known = m_fd.valid() && ::tcgetattr(m_fd.get(), &m_settings) == 0;
    }

    // True when the line under handle carries params and is set exactly as it was found, so that Qt's putting
    // back on closing changes nothing.
    bool unchangedOn(int handle, const PortParams& params) const {
        termios now{};
        return m_known && ::tcgetattr(handle, &now) == 0 && carriesParams(now, params) &&
               sameSettings(now, m_settings);
    }

private:
    // Held open until Qt has opened the device too.
    common::UniqueFd m_fd;
    bool m_known = false;
    termios m_settings{};
};

} // namespace

int SerialLink::open(const std::string& devicePath, const PortParams& params, std::string& reason) {
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        const int error = errno;
        if (error == EACCES) {
            reason = permissionAdvice(devicePath).reason;
            return VELLPORT_ERR_PERMISSION;
        }
        reason = error == ENOENT ? "no such device" : common::errnoText(error);
        return VELLPORT_ERR_NO_DEVICE;
    }
    if (!S_ISCHR(info.st_mode)) {
        reason = std::string("not a character device but ") + common::fileKind(info.st_mode) + ", refused";
        return VELLPORT_ERR_NO_DEVICE;
    }
    // The real path gives by-id links and their target the same lock file name that other programs use.
    const std::unique_ptr<char, decltype(&std::free)> realPath(::realpath(devicePath.c_str(), nullptr),
                                                               &std::free);
    const std::string openPath = realPath ? realPath.get() : devicePath;
    m_port.setPortName(QString::fromLocal8Bit(openPath.c_str()));
    const SettingsBeforeOpening before(openPath);
    if (!m_port.open(QIODevice::WriteOnly)) {
        return openFailure(devicePath, reason);
    }
    if (const int code = applyParams(params, reason); code != VELLPORT_OK) {
        return code;
    }
    // Repeated calls with the same parameters find the line as they leave it; only a change needs the second
    // opening (and its lock file) that makes Qt's putting back harmless.
    if (before.unchangedOn(static_cast<int>(m_port.handle()), params)) {
        return VELLPORT_OK;
    }
    return reopenKeepingSettings(devicePath, params, reason);
}

int SerialLink::reopenKeepingSettings(const std::string& devicePath, const PortParams& params,
                                      std::string& reason) {
    // Qt puts back the settings it found at open when it closes. Reopening while ours are in force makes that
    // a no-op, so the line keeps its rate between calls, as a Windows port does; a second descriptor holds
    // the terminal (and its settings) open in between.
    termios wanted{};
    const int handle = static_cast<int>(m_port.handle());
    if (::tcgetattr(handle, &wanted) != 0) {
        reason = "cannot read the line settings: " + common::errnoText(errno);
        return VELLPORT_ERR_IO;
    }
    const common::UniqueFd keeper(::fcntl(handle, F_DUPFD_CLOEXEC, 0));
    if (!keeper.valid()) {
        reason = "cannot duplicate the handle: " + common::errnoText(errno);
        return VELLPORT_ERR_IO;
    }
    m_port.close();
    if (::tcsetattr(keeper.get(), TCSANOW, &wanted) != 0) {
        reason = "cannot set the line settings: " + common::errnoText(errno);
        return VELLPORT_ERR_IO;
    }
    // Qt applies the settings it holds while opening and refuses a pseudo-terminal that cannot take 7 bits or
    // parity, so it opens with the plain ones and ours follow, as after the first opening.
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::WriteOnly)) {
        return openFailure(devicePath, reason);
    }
    return applyParams(params, reason);
}

int SerialLink::openFailure(const std::string& devicePath, std::string& reason) const {
    switch (m_port.error()) {
    case QSerialPort::PermissionError:
        // Qt reports a held lock file and a refused open() alike; only the latter is about the user's rights.
        if (::access(devicePath.c_str(), W_OK) != 0 && errno == EACCES) {
            reason = permissionAdvice(devicePath).reason;
            return VELLPORT_ERR_PERMISSION;
        }
        reason = "port busy, held by another program (its lock file or exclusive open)";
        return VELLPORT_ERR_BUSY;
    case QSerialPort::DeviceNotFoundError:
        reason = "no such device";
        return VELLPORT_ERR_NO_DEVICE;
    default:
        reason = "cannot open: " + m_port.errorString().toStdString();
        return VELLPORT_ERR_IO;
    }
}

int SerialLink::applyParams(const PortParams& params, std::string& reason) {
    const char* failed = nullptr;
    if (!m_port.setBaudRate(params.baudRate)) {
        failed = "the baud rate";
    } else if (!m_port.setDataBits(static_cast<QSerialPort::DataBits>(params.dataBits))) {
        failed = "the data bits";
    } else if (!m_port.setParity(parityForm(params.parity).qt)) {
        failed = "the parity";
    } else if (!m_port.setStopBits(params.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)) {
        failed = "the stop bits";
    } else if (!m_port.setFlowControl(toQtFlowControl(params.flowControl))) {
        failed = "the flow control";
    }
    if (failed != nullptr) {
        reason = std::string("cannot apply ") + failed + " of " + describeParams(params) + ": " +
                 m_port.errorString().toStdString();
        return VELLPORT_ERR_IO;
    }
    return VELLPORT_OK;
}

int SerialLink::write(const unsigned char* data, int count, Clock::time_point deadline, std::string& reason) {
    // Written on the handle: QSerialPort's own write path needs an event dispatcher in the calling thread.
    const int handle = static_cast<int>(m_port.handle());
    int written = 0;
    while (written < count) {
        const int ready = waitFor(handle, POLLOUT, deadline);
        if (ready < 0) {
            reason = "waiting to write: " + common::errnoText(errno);
            return VELLPORT_ERR_IO;
        }
        if (ready == 0) {
            reason = "timed out after writing " + std::to_string(written) + " of " + std::to_string(count) +
                     " bytes, the rest discarded";
            return VELLPORT_ERR_TIMEOUT;
        }
        const ssize_t result = ::write(handle, data + written, static_cast<std::size_t>(count - written));
        if (result < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (result < 0) {
            reason = "write failed after " + std::to_string(written) + " of " + std::to_string(count) +
                     " bytes: " + common::errnoText(errno) + " (device closed or gone)";
            return VELLPORT_ERR_IO;
        }
        written += static_cast<int>(result);
    }
    return VELLPORT_OK;
}

int SerialLink::drain(const PortParams& params, Clock::time_point deadline, std::string& reason) {
    // Polling the output queue instead of tcdrain(), which can wait forever while flow control holds the
    // line.
    const int handle = static_cast<int>(m_port.handle());
    const auto step = std::clamp(wireTime(params, 1), kShortestDrainStep, kLongestDrainStep);
    for (;;) {
        int queued = 0;
        if (::ioctl(handle, TIOCOUTQ, &queued) != 0) {
            reason = "cannot read the output queue: " + common::errnoText(errno);
            return VELLPORT_ERR_IO;
        }
        if (queued == 0) {
            return VELLPORT_OK;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            reason = "timed out with " + std::to_string(queued) + " bytes not yet sent, discarded";
            return VELLPORT_ERR_TIMEOUT;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(step, deadline - now));
    }
}

void SerialLink::discard() {
    if (m_port.isOpen()) {
        ::tcflush(static_cast<int>(m_port.handle()), TCOFLUSH);
    }
}

} // namespace portlink
