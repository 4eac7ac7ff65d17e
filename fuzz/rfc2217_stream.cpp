// Fuzzes the client's reading of an RFC 2217 server's stream: silent until the option is asked for, the same
// answers however the stream is split, well-formed telnet out, and data that round-trips through escaping.
#include "Rfc2217.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {

using portlink::rfc2217::Bytes;
namespace telnet = portlink::rfc2217;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

struct Reading {
    Bytes outgoing;
    Bytes data;
    bool confirmed = false;
    std::string mismatch;
    bool operator==(const Reading&) const = default;
};

// Feeds stream in the pieces sizes gives (the rest at once), checking nothing goes out before IAC DO 44.
Reading readInPieces(const telnet::LineRequest& request, const Bytes& stream,
                     const std::vector<std::size_t>& sizes) {
    telnet::Negotiation negotiation(request);
    Reading reading;
    std::size_t at = 0;
    for (std::size_t piece = 0; at < stream.size(); ++piece) {
        const std::size_t size =
            piece < sizes.size() ? std::min(sizes[piece], stream.size() - at) : stream.size() - at;
        negotiation.feed(stream.data() + at, size);
        at += size;
        const Bytes out = negotiation.takeOutgoing();
        if (!out.empty() && reading.outgoing.empty() && !negotiation.comPortAgreed() &&
            !negotiation.comPortRefused()) {
            fail("bytes out before the server asked for the option");
        }
        reading.outgoing.insert(reading.outgoing.end(), out.begin(), out.end());
        const Bytes data = negotiation.takeData();
        reading.data.insert(reading.data.end(), data.begin(), data.end());
    }
    reading.confirmed = negotiation.confirmed();
    reading.mismatch = negotiation.settingMismatch();
    if (!reading.mismatch.empty() && !reading.confirmed) {
        fail("a mismatch named before all four confirmations");
    }
    return reading;
}

// The client sends option commands and COM-PORT-OPTION sub-negotiations only, opening with IAC WILL 44.
void checkWellFormed(const Bytes& out) {
    if (!out.empty() && (out.size() < 3 || out[0] != telnet::kIac || out[1] != telnet::kWill ||
                         out[2] != telnet::kComPortOption)) {
        fail("the first answer is not IAC WILL 44");
    }
    for (std::size_t i = 0; i < out.size();) {
        if (out[i] != telnet::kIac || i + 2 >= out.size()) {
            fail("a stray byte among the answers");
        }
        const std::uint8_t command = out[i + 1];
        if (command >= telnet::kWill && command <= telnet::kDont) {
            i += 3;
            continue;
        }
        if (command != telnet::kSb || out[i + 2] != telnet::kComPortOption) {
            fail("an unknown command among the answers");
        }
        for (i += 3;; ++i) {
            if (i + 1 >= out.size()) {
                fail("an unterminated sub-negotiation");
            }
            if (out[i] == telnet::kIac) {
                if (out[i + 1] == telnet::kSe) {
                    i += 2;
                    break;
                }
                if (out[i + 1] != telnet::kIac) {
                    fail("a lone IAC inside a sub-negotiation");
                }
                ++i;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const telnet::LineRequest request = telnet::lineRequest(
        input.ConsumeIntegralInRange<int>(1, 4'000'000), input.ConsumeIntegralInRange<int>(5, 8),
        input.PickValueInArray({'N', 'O', 'E', 'M', 'S'}), input.ConsumeIntegralInRange<int>(1, 2),
        input.ConsumeIntegralInRange<int>(0, 2));
    std::vector<std::size_t> sizes(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (std::size_t& piece : sizes) {
        piece = input.ConsumeIntegralInRange<std::size_t>(0, 32);
    }
    const Bytes payload = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 64));
    const Bytes stream = input.ConsumeRemainingBytes<std::uint8_t>();

    const Reading pieces = readInPieces(request, stream, sizes);
    const Reading whole = readInPieces(request, stream, {});
    if (pieces != whole) {
        fail("the split changed the reading");
    }
    checkWellFormed(whole.outgoing);
    const Bytes doComPort{telnet::kIac, telnet::kDo, telnet::kComPortOption};
    if (!whole.outgoing.empty() &&
        std::search(stream.begin(), stream.end(), doComPort.begin(), doComPort.end()) == stream.end()) {
        fail("answers to a stream that never asked for the option");
    }

    // Data escaped as telnet wants it reads back as itself and asks for no answer.
    const Bytes escaped = telnet::escapeData(payload.data(), payload.size());
    const Reading echoed = readInPieces(request, escaped, sizes);
    if (echoed.data != payload || !echoed.outgoing.empty()) {
        fail("escaped data did not read back as itself");
    }
    return 0;
}
