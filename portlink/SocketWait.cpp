#include "SocketWait.h"

#include "common/Deadline.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace portlink {

using Clock = std::chrono::steady_clock;

Clock::time_point later(Clock::time_point from, std::chrono::microseconds wait, Clock::time_point cap) {
    return wait >= std::chrono::duration_cast<std::chrono::microseconds>(cap - from) ? cap : from + wait;
}

int waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd waiting{fd, events, 0};
        const int ready = ::poll(&waiting, 1, common::remainingMilliseconds(deadline));
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return ready > 0 ? 1 : -1;
        }
        if (ready == 0 && Clock::now() >= deadline) {
            return 0;
        }
    }
}

void setOption(int fd, int level, int option) {
    const int on = 1;
    ::setsockopt(fd, level, option, &on, sizeof on);
}

} // namespace portlink
