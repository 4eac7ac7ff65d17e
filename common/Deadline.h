// Time left until a deadline, in the form poll() takes it.
#pragma once

#include <chrono>

namespace common {

// Milliseconds left until deadline, rounded up so a wait never ends just before it, 0 once it has passed,
// and at most 1000 s: a caller with a deadline further off polls again.
int remainingMilliseconds(std::chrono::steady_clock::time_point deadline);

} // namespace common
