// Fuzzes the reading of mDNS answers: any bytes end in an answer or a refusal, within bounds and without a
// loop, and the adverts made of an answer name only instances it pointed to.
#include "vellport/discovery/Advert.h"
#include "vellport/discovery/MdnsMessage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

namespace discovery = vellport::discovery;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly size bytes, so the sanitizer sees any read past the message.
    const discovery::Bytes message(data, data + size);
    const std::optional<discovery::MdnsAnswer> answer =
        discovery::parseAnswer(message.data(), message.size());
    if (!answer) {
        return 0;
    }
    if (size < 12 || (message[2] & 0x80) == 0) {
        fail("a message that is no response read as an answer");
    }
    static const discovery::Name kType = *discovery::serviceTypeName("_iostream._tcp");
    for (const discovery::Advert& advert : discovery::serialAdverts({*answer}, kType)) {
        if (advert.url.empty() == advert.unsupported.empty()) {
            fail("an advert with both a URL and a reason, or neither");
        }
    }
    return 0;
}
