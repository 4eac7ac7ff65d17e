// The client's reading of an RFC 2217 server's stream: what it answers, when, and what it takes as confirmed.
#include "Rfc2217.h"

#include <gtest/gtest.h>

namespace {

using portlink::rfc2217::LineRequest;
using portlink::rfc2217::Negotiation;

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (const int value : values) {
        text += static_cast<char>(value);
    }
    return text;
}

const std::string kDoComPort = bytes({0xFF, 0xFD, 44});
// WILL 44, then SET-BAUDRATE 9600, SET-DATASIZE 8, SET-PARITY none, SET-STOPSIZE 1.
const std::string kAgree9600 =
    bytes({0xFF, 0xFB, 44,   0xFF, 0xFA, 44, 1, 0, 0,    0x25, 0x80, 0xFF, 0xF0, 0xFF, 0xFA, 44,   2,
           8,    0xFF, 0xF0, 0xFF, 0xFA, 44, 3, 1, 0xFF, 0xF0, 0xFF, 0xFA, 44,   4,    1,    0xFF, 0xF0});

std::string confirmations(std::initializer_list<int> rate, int dataSize) {
    std::string text = bytes({0xFF, 0xFA, 44, 101}) + bytes(rate) + bytes({0xFF, 0xF0});
    return text + bytes({0xFF, 0xFA, 44,   102,  dataSize, 0xFF, 0xF0, 0xFF, 0xFA, 44,  103,
                         1,    0xFF, 0xF0, 0xFF, 0xFA,     44,   104,  1,    0xFF, 0xF0});
}

struct StreamCase {
    const char* label;
    LineRequest request;
    std::string stream;
    std::string outgoing;
    std::string data;
    bool confirmed;
    std::string mismatch;
};

// NOLINTNEXTLINE(readability-identifier-naming): the name gtest looks for
void PrintTo(const StreamCase& row, std::ostream* out) {
    *out << row.label;
}

struct Outcome {
    std::string outgoing;
    std::string data;
    bool confirmed = false;
    std::string mismatch;
    bool operator==(const Outcome&) const = default;
};

// Feeds the stream in pieces of pieceSize bytes, so a split anywhere must read the same.
Outcome read(const StreamCase& row, std::size_t pieceSize) {
    Negotiation negotiation(row.request);
    Outcome outcome;
    const auto* stream = reinterpret_cast<const std::uint8_t*>(row.stream.data());
    for (std::size_t at = 0; at < row.stream.size(); at += pieceSize) {
        negotiation.feed(stream + at, std::min(pieceSize, row.stream.size() - at));
        const auto out = negotiation.takeOutgoing();
        const auto data = negotiation.takeData();
        outcome.outgoing.append(out.begin(), out.end());
        outcome.data.append(data.begin(), data.end());
    }
    outcome.confirmed = negotiation.confirmed();
    outcome.mismatch = negotiation.settingMismatch();
    return outcome;
}

class ServerStream : public testing::TestWithParam<StreamCase> {};

TEST_P(ServerStream, IsAnsweredAndConfirmedWhateverItsSplit) {
    const StreamCase& row = GetParam();
    const Outcome whole = read(row, row.stream.size() + 1);
    EXPECT_EQ(whole.outgoing, row.outgoing);
    EXPECT_EQ(whole.data, row.data);
    EXPECT_EQ(whole.confirmed, row.confirmed);
    EXPECT_EQ(whole.mismatch, row.mismatch);
    EXPECT_EQ(read(row, 1), whole);
}

const LineRequest k9600{};

INSTANTIATE_TEST_SUITE_P(
    Streams, ServerStream,
    testing::Values(
        StreamCase{"silent_before_the_option_is_asked", k9600, bytes({0xFF, 0xFB, 1, 0xFF, 0xFD, 24}) + "hi",
                   "", "hi", false, ""},
        StreamCase{"earlier_requests_refused_after_agreeing", k9600,
                   bytes({0xFF, 0xFB, 1, 0xFF, 0xFD, 24}) + kDoComPort,
                   kAgree9600.substr(0, 3) + bytes({0xFF, 0xFE, 1, 0xFF, 0xFC, 24}) + kAgree9600.substr(3),
                   "", false, ""},
        StreamCase{"binary_and_go_ahead_accepted_once", k9600,
                   kDoComPort + bytes({0xFF, 0xFB, 0, 0xFF, 0xFD, 3, 0xFF, 0xFB, 0}),
                   kAgree9600 + bytes({0xFF, 0xFD, 0, 0xFF, 0xFB, 3}), "", false, ""},
        StreamCase{"doubled_iac_is_one_data_byte", k9600, bytes({'a', 0xFF, 0xFF, 'b'}), "",
                   bytes({'a', 0xFF, 'b'}), false, ""},
        StreamCase{"matching_confirmations", k9600, kDoComPort + confirmations({0, 0, 0x25, 0x80}, 8),
                   kAgree9600, "", true, ""},
        StreamCase{"another_rate_named_with_both", k9600, kDoComPort + confirmations({0, 0, 0x12, 0xC0}, 8),
                   kAgree9600, "", true, "the server's port set 4800 bits/s instead of 9600"},
        StreamCase{"another_data_size_named", k9600, kDoComPort + confirmations({0, 0, 0x25, 0x80}, 7),
                   kAgree9600, "", true, "the server's port set 7 data bits instead of 8"},
        StreamCase{"iac_in_a_rate_doubled_both_ways", LineRequest{0x1FF00, 8, 1, 1, 0},
                   kDoComPort + confirmations({0, 1, 0xFF, 0xFF, 0}, 8),
                   bytes({0xFF, 0xFB, 44, 0xFF, 0xFA, 44, 1, 0, 1, 0xFF, 0xFF, 0, 0xFF, 0xF0}) +
                       kAgree9600.substr(13),
                   "", true, ""},
        StreamCase{"confirmation_before_the_request_ignored", k9600,
                   confirmations({0, 0, 0x25, 0x80}, 8) + kDoComPort, kAgree9600, "", false, ""},
        StreamCase{"withdrawn_option_answered", k9600, kDoComPort + bytes({0xFF, 0xFE, 44}),
                   kAgree9600 + bytes({0xFF, 0xFC, 44}), "", false, ""},
        StreamCase{"unterminated_sub_ends_at_the_next_command", k9600,
                   kDoComPort + bytes({0xFF, 0xFA, 44, 101, 0, 0, 0x25, 0x80, 0xFF, 0xFB, 1}),
                   kAgree9600 + bytes({0xFF, 0xFE, 1}), "", false, ""},
        StreamCase{"flow_control_and_line_shape_requested",
                   portlink::rfc2217::lineRequest(2400, 7, 'E', 2, 1), kDoComPort,
                   bytes({0xFF, 0xFB, 44, 0xFF, 0xFA, 44,   1,    0,    0,  0x09, 0x60, 0xFF, 0xF0, 0xFF,
                          0xFA, 44,   2,  7,    0xFF, 0xF0, 0xFF, 0xFA, 44, 3,    3,    0xFF, 0xF0, 0xFF,
                          0xFA, 44,   4,  2,    0xFF, 0xF0, 0xFF, 0xFA, 44, 5,    3,    0xFF, 0xF0}),
                   "", false, ""}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
