// Another program holding a serial device open, in a child process, until released.
#include "PortHolder.h"

#include <QSerialPort>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

PortHolder::~PortHolder() {
    release();
}

bool PortHolder::hold(const std::string& device) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
        return false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(ready[0]);
        ::close(release[1]); // else the release never reads as end of file
        QSerialPort port;
        port.setPortName(QString::fromStdString(device));
        const char held = port.open(QIODevice::WriteOnly) ? 'y' : 'n';
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &held, 1);
        char ignored = 0;
        [[maybe_unused]] const ssize_t read = ::read(release[0], &ignored, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    m_release = release[1];
    pollfd waiting{ready[0], POLLIN, 0};
    char held = 'n';
    const bool answered = ::poll(&waiting, 1, 5000) == 1 && ::read(ready[0], &held, 1) == 1;
    ::close(ready[0]);
    return answered && held == 'y';
}

void PortHolder::release() {
    if (m_pid > 0) {
        ::close(m_release);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_release = -1;
    }
}
