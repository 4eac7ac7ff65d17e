// mDNS answers, built or as avahi sends them, through the parser and into ser2net adverts; hostile ones
// refused.
#include "vellport/discovery/MdnsMessage.h"

#include "vellport/discovery/Advert.h"

#include <gtest/gtest.h>
#include <ostream>

namespace {

using vellport::discovery::Bytes;
namespace discovery = vellport::discovery;

Bytes operator+(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

Bytes text(const std::string& characters) {
    return Bytes(characters.begin(), characters.end());
}

Bytes name(const std::string& dotted) {
    Bytes bytes;
    for (std::size_t at = 0; at <= dotted.size();) {
        const std::size_t dot = std::min(dotted.find('.', at), dotted.size());
        bytes = bytes + Bytes{static_cast<std::uint8_t>(dot - at)} + text(dotted.substr(at, dot - at));
        at = dot + 1;
    }
    return bytes + Bytes{0};
}

Bytes record(const Bytes& owner, std::uint8_t type, const Bytes& data) {
    return owner + Bytes{0, type, 0x80, 1, 0, 0, 0x11, 0x94, 0, static_cast<std::uint8_t>(data.size())} +
           data;
}

Bytes answer(std::uint8_t records, const Bytes& body, std::uint8_t flags = 0x84) {
    return Bytes{0x12, 0x34, flags, 0, 0, 0, 0, records, 0, 0, 0, 0} + body;
}

Bytes txt(const std::vector<std::string>& entries) {
    Bytes bytes;
    for (const std::string& entry : entries) {
        bytes = bytes + Bytes{static_cast<std::uint8_t>(entry.size())} + text(entry);
    }
    return bytes;
}

// PTR, SRV (port 2001 on counter.local) and TXT of one instance, uncompressed.
Bytes advert(const std::string& instance, const std::vector<std::string>& entries) {
    const Bytes full = name(instance + "._iostream._tcp.local");
    return record(name("_iostream._tcp.local"), 12, full) +
           record(full, 33, Bytes{0, 0, 0, 0, 0x07, 0xd1} + name("counter.local")) +
           record(full, 16, txt(entries));
}

const Bytes kAddress = record(name("counter.local"), 1, {192, 168, 1, 20});
const std::string kPlain = "gensiostack=telnet(rfc2217),tcp";

// As avahi answers a legacy unicast query: the question repeated, every later name pointing back into it.
const Bytes kCompressed =
    Bytes{0x12, 0x34, 0x84, 0, 0, 1, 0, 4, 0, 0, 0, 0} + name("_iostream._tcp.local") + Bytes{0, 12, 0, 1} +
    record({0xc0, 12}, 12, Bytes{4} + text("desk") + Bytes{0xc0, 12}) +
    record({0xc0, 50}, 33, Bytes{0, 0, 0, 0, 0x07, 0xd1, 7} + text("counter") + Bytes{0xc0, 27}) +
    record({0xc0, 50}, 16, txt({"provider=ser2net", kPlain})) + record({0xc0, 75}, 1, {10, 0, 0, 7});

struct AnswerCase {
    const char* name;
    Bytes message;
    std::string expected; // each advert "name url-or-reason [addresses] details;", or "refused"
};

void PrintTo(const AnswerCase& row, std::ostream* out) {
    *out << row.name;
}

std::string summary(const Bytes& message) {
    const std::optional<discovery::MdnsAnswer> parsed =
        discovery::parseAnswer(message.data(), message.size());
    if (!parsed) {
        return "refused";
    }
    std::string result;
    for (const discovery::Advert& found :
         discovery::serialAdverts({*parsed}, *discovery::serviceTypeName("_iostream._tcp"))) {
        result += found.name + " " + (found.url.empty() ? found.unsupported : found.url) + " [";
        for (const std::string& address : found.addresses) {
            result += address + " ";
        }
        result += "]";
        for (const std::string& detail : found.details) {
            result += " " + detail;
        }
        result += ";";
    }
    return result;
}

class Answers : public testing::TestWithParam<AnswerCase> {};

TEST_P(Answers, GiveTheAdvertsOrAreRefused) {
    EXPECT_EQ(summary(GetParam().message), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Answers,
    testing::Values(
        AnswerCase{
            "PlainRfc2217KeepsTheAdministratorsTxt",
            answer(4, advert("front", {"provider=ser2net", kPlain, "location=front desk", "baud=9600n81"}) +
                          kAddress),
            "front rfc2217://192.168.1.20:2001 [192.168.1.20 ] location=front desk baud=9600n81;"},
        AnswerCase{"RawAndTlsStacks",
                   answer(7, advert("raw", {"provider=ser2net", "gensiostack=tcp"}) +
                                 advert("tls", {"provider=ser2net", "gensiostack=telnet(rfc2217),ssl,tcp"}) +
                                 kAddress),
                   "raw tcp://192.168.1.20:2001 [192.168.1.20 ];tls rfc2217+tls://192.168.1.20:2001 "
                   "[192.168.1.20 ];"},
        AnswerCase{
            "CertauthAndMuxListedAsNotSupported",
            answer(6, advert("auth", {"provider=ser2net", "gensiostack=telnet(rfc2217),certauth,ssl,tcp"}) +
                          advert("mux", {"provider=ser2net", "gensiostack=mux,ssl,tcp"})),
            "auth certauth (ser2net's own login before the data) [];"
            "mux mux (several channels in one connection) [];"},
        AnswerCase{"CompressedNamesAsAvahiSendsThem", kCompressed,
                   "desk rfc2217://10.0.0.7:2001 [10.0.0.7 ];"},
        AnswerCase{"TruncatedRecordRefused", Bytes(kCompressed.begin(), kCompressed.end() - 3), "refused"},
        AnswerCase{"PointerLoopRefused", answer(1, Bytes{0xc0, 12, 0, 12, 0, 1, 0, 0, 0, 10, 0, 2, 0xc0, 24}),
                   "refused"},
        AnswerCase{"ForwardPointerRefused",
                   answer(2, record({0xc0, 24}, 16, {}) + record(name("a.local"), 16, {})), "refused"},
        AnswerCase{"AddressOfTheWrongLengthRefused",
                   answer(1, record(name("counter.local"), 1, {192, 168, 1, 20, 1})), "refused"},
        AnswerCase{"TxtWithoutProviderIsNoDisplay", answer(3, advert("printer", {kPlain})), ""},
        AnswerCase{"Ipv6AddressInBrackets",
                   answer(4, advert("six", {"provider=ser2net", "gensiostack=tcp"}) +
                                 record(name("counter.local"), 28,
                                        Bytes{0x20, 1, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20})),
                   "six tcp://[2001:db8::20]:2001 [2001:db8::20 ];"},
        AnswerCase{"LinkLocalIpv6LeavesTheHostName",
                   answer(4, advert("near", {"provider=ser2net", kPlain}) +
                                 record(name("counter.local"), 28,
                                        Bytes{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})),
                   "near rfc2217://counter.local:2001 [fe80::1 ];"},
        AnswerCase{"OurOwnQueryIsNoAnswer",
                   discovery::buildQuery(0x1234, *discovery::serviceTypeName("_iostream._tcp")), "refused"}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string{info.param.name}; });

} // namespace
