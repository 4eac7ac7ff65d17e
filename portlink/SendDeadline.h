// How long a send may take: the time its bytes spend on the wire and the bound a whole send is given.
#pragma once

#include "PortParams.h"

#include <chrono>

namespace portlink {

// Time on the wire for count bytes: start bit, data bits, parity bit and stop bits each.
std::chrono::microseconds wireTime(const PortParams& params, long long count);

// The longest bound a send is given: far beyond any send that can end, and short enough that a deadline a
// bound away from now stays inside the steady clock's range.
constexpr std::chrono::hours kLongestSendBound{24 * 365 * 100};

// How long SendData may take in all: 500 ms plus twice the wire time, at most kLongestSendBound.
std::chrono::microseconds sendBound(const PortParams& params, long long count);

} // namespace portlink
