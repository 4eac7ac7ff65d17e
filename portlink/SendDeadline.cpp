#include "SendDeadline.h"

namespace portlink {
namespace {

constexpr std::chrono::milliseconds kSendSlack{500};

} // namespace

std::chrono::microseconds wireTime(const PortParams& params, long long count) {
    const long long bitsPerByte =
        1 + params.dataBits + (normalisedParams(params).parity == 'N' ? 0 : 1) + params.stopBits;
    const long double microseconds = static_cast<long double>(count) * bitsPerByte * 1e6L / params.baudRate;
    // Saturates at a quarter of the range, so twice it plus a slack, as the bounds take it, still fits.
    constexpr auto kLongest = std::chrono::microseconds::max() / 4;
    if (microseconds >= static_cast<long double>(kLongest.count())) {
        return kLongest;
    }
    return std::chrono::microseconds(static_cast<long long>(microseconds + 0.5L));
}

std::chrono::microseconds sendBound(const PortParams& params, long long count) {
    const std::chrono::microseconds longest = kLongestSendBound;
    const std::chrono::microseconds wire = wireTime(params, count);
    if (wire >= (longest - kSendSlack) / 2) {
        return longest;
    }
    return kSendSlack + 2 * wire;
}

} // namespace portlink
