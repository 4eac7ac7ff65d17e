// Checks of the line parameters and the time bound they give a send.
#include "PortParams.h"

#include "SendDeadline.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

using portlink::PortParams;

struct ParamsCase {
    const char* label;
    PortParams params;
    bool accepted;
};

class ParamsCheck : public testing::TestWithParam<ParamsCase> {};

TEST_P(ParamsCheck, AcceptsOnlyValidValues) {
    EXPECT_EQ(portlink::checkParams(GetParam().params).empty(), GetParam().accepted)
        << portlink::checkParams(GetParam().params);
}

INSTANTIATE_TEST_SUITE_P(Values, ParamsCheck,
                         testing::Values(ParamsCase{"program_default", {9600, 8, 'N', 1, 0}, true},
                                         ParamsCase{"seven_even_two_hardware", {115200, 7, 'E', 2, 1}, true},
                                         ParamsCase{"five_odd_software", {2400, 5, 'o', 1, 2}, true},
                                         ParamsCase{"mark_lower", {300, 6, 'm', 1, 0}, true},
                                         ParamsCase{"space", {1, 8, 'S', 1, 0}, true},
                                         ParamsCase{"rate_zero", {0, 8, 'N', 1, 0}, false},
                                         ParamsCase{"rate_negative", {-9600, 8, 'N', 1, 0}, false},
                                         ParamsCase{"data_bits_4", {9600, 4, 'N', 1, 0}, false},
                                         ParamsCase{"data_bits_9", {9600, 9, 'N', 1, 0}, false},
                                         ParamsCase{"parity_X", {9600, 8, 'X', 1, 0}, false},
                                         ParamsCase{"parity_zero_byte", {9600, 8, '\0', 1, 0}, false},
                                         ParamsCase{"stop_bits_0", {9600, 8, 'N', 0, 0}, false},
                                         ParamsCase{"stop_bits_3", {9600, 8, 'N', 3, 0}, false},
                                         ParamsCase{"flow_3", {9600, 8, 'N', 1, 3}, false},
                                         ParamsCase{"flow_negative", {9600, 8, 'N', 1, -1}, false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(WireTime, CountsStartDataParityAndStopBits) {
    // Saturates where the bounds, twice it plus a slack, would overflow.
    EXPECT_EQ(portlink::wireTime({1, 8, 'E', 2, 0}, LLONG_MAX), std::chrono::microseconds::max() / 4);
    // 4 bytes of 10 bits at 9600 bit/s: 4166.67 us.
    EXPECT_EQ(portlink::wireTime({9600, 8, 'N', 1, 0}, 4).count(), 4167);
    // 12 bits per byte with parity and two stop bits.
    EXPECT_EQ(portlink::wireTime({2400, 8, 'e', 2, 0}, 2).count(), 10000);
    EXPECT_EQ(portlink::sendBound({2400, 8, 'E', 2, 0}, 2).count(), 520000);
    // The largest count at 9600 bit/s (50 days) keeps its bound; 500 MB at 1 bit/s saturates, and a deadline
    // that far off is still in the clock's range (UBSan checks the sum).
    EXPECT_EQ(portlink::sendBound({9600, 8, 'N', 1, 0}, INT_MAX).count(), 4473924764584);
    const std::chrono::microseconds longest = portlink::sendBound({1, 8, 'N', 1, 0}, 500'000'000);
    EXPECT_EQ(longest, portlink::kLongestSendBound);
    const auto now = std::chrono::steady_clock::now();
    EXPECT_GT(now + longest, now);
}

TEST(Describe, WritesTheUsualShortForm) {
    EXPECT_EQ(portlink::describeParams({115200, 7, 'o', 2, 0}), "115200 7O2");
    EXPECT_EQ(portlink::normalisedParams({9600, 8, 'm', 1, 0}).parity, 'M');
}

} // namespace
