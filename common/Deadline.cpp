#include "common/Deadline.h"

#include <algorithm>

namespace common {

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    constexpr long long kLongestWait = 1'000'000;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, kLongestWait));
}

} // namespace common
