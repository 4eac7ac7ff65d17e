// Waits on a socket or device within a deadline, with poll() alone, and sets a socket's options.
#pragma once

#include <chrono>

namespace portlink {

// from + wait, or cap when that is later or beyond the clock's range: a bound of centuries must not wrap.
std::chrono::steady_clock::time_point later(std::chrono::steady_clock::time_point from,
                                            std::chrono::microseconds wait,
                                            std::chrono::steady_clock::time_point cap);

// Waits for events on fd until one comes or the deadline has passed, however far off the deadline is: 1
// ready, 0 the deadline passed, -1 failed (errno set).
int waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline);

void setOption(int fd, int level, int option);

} // namespace portlink
