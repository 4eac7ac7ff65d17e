#include "SignalCloser.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {
constexpr std::array kCloseSignals{SIGTERM, SIGINT, SIGHUP};

// Read by the handler only; -1 while no closer lives.
volatile sig_atomic_t g_closerWriteFd = -1;

extern "C" void onCloseSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = g_closerWriteFd;
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a pending request, so a lost byte loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}
} // namespace

SignalCloser::SignalCloser(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // the signals keep their default action: the process ends without saving
    }
    m_readFd = common::UniqueFd{fds[0]};
    m_writeFd = common::UniqueFd{fds[1]};
    g_closerWriteFd = m_writeFd.get();

    m_notifier = new QSocketNotifier(m_readFd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::drain);

    struct sigaction action {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kCloseSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

SignalCloser::~SignalCloser() {
    if (!m_readFd.valid()) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kCloseSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    // The handler must stop writing before the pipe goes; the descriptors close after this body.
    g_closerWriteFd = -1;
    delete m_notifier;
}

void SignalCloser::drain() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(m_readFd.get(), &byte, 1) == 1) {
        last = byte;
    }
    if (last != 0) {
        emit closeRequested(last);
    }
}
