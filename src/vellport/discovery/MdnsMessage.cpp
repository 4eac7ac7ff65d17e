#include "vellport/discovery/MdnsMessage.h"

#include "common/Text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <sys/socket.h>

namespace vellport::discovery {

namespace {

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypePtr = 12;
constexpr std::uint16_t kTypeTxt = 16;
constexpr std::uint16_t kTypeAaaa = 28;
constexpr std::uint16_t kTypeSrv = 33;
constexpr std::uint16_t kClassInternet = 1;
// The top bit of an answer's class is mDNS's cache-flush flag, not part of the class.
constexpr std::uint16_t kClassMask = 0x7fff;
constexpr std::uint16_t kResponseFlag = 0x8000;
constexpr std::uint16_t kOpcodeMask = 0x7800;
constexpr std::uint16_t kResponseCodeMask = 0x000f;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kLongestLabel = 63;
constexpr std::size_t kLongestName = 255;

// A bounded reader over the whole message: names may point back anywhere before the point of the pointer.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t position() const { return m_at; }
    void moveTo(std::size_t at) { m_at = at; }

    std::optional<std::uint16_t> u16() {
        if (m_size - m_at < 2) {
            return std::nullopt;
        }
        const auto value = static_cast<std::uint16_t>(m_data[m_at] << 8 | m_data[m_at + 1]);
        m_at += 2;
        return value;
    }
    bool skip(std::size_t count) {
        if (m_size - m_at < count) {
            return false;
        }
        m_at += count;
        return true;
    }
    const std::uint8_t* here() const { return m_data + m_at; }

    // A name, following compression pointers; the reader ends after the name's bytes in place.
    std::optional<Name> name() {
        Name labels;
        std::size_t at = m_at;
        std::size_t resumeAt = 0;
        std::size_t length = 1;
        for (;;) {
            if (at >= m_size) {
                return std::nullopt;
            }
            const std::uint8_t head = m_data[at];
            if ((head & 0xc0) == 0xc0) {
                if (at + 1 >= m_size) {
                    return std::nullopt;
                }
                const std::size_t target = static_cast<std::size_t>(head & 0x3f) << 8 | m_data[at + 1];
                // Only backwards: each jump lands strictly lower, so no chain of pointers can loop.
                if (target >= at) {
                    return std::nullopt;
                }
                if (resumeAt == 0) {
                    resumeAt = at + 2;
                }
                at = target;
                continue;
            }
            if ((head & 0xc0) != 0) {
                return std::nullopt;
            }
            if (head == 0) {
                m_at = resumeAt != 0 ? resumeAt : at + 1;
                return labels;
            }
            length += head + std::size_t{1};
            if (length > kLongestName || m_size - at - 1 < head) {
                return std::nullopt;
            }
            labels.emplace_back(reinterpret_cast<const char*>(m_data + at + 1), head);
            at += head + std::size_t{1};
        }
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void putU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xff));
}

std::optional<std::vector<std::string>> textEntries(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> entries;
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = data[at];
        if (size - at - 1 < length) {
            return std::nullopt;
        }
        // An empty string is how a record with no entries is sent.
        if (length != 0) {
            entries.emplace_back(reinterpret_cast<const char*>(data + at + 1), length);
        }
        at += length + 1;
    }
    return entries;
}

std::string printedAddress(int family, const std::uint8_t* data) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    return ::inet_ntop(family, data, text.data(), text.size()) != nullptr ? std::string(text.data()) : "";
}

// One resource record into answer; false when it is cut short or its data does not fit its type.
bool readRecord(Reader& reader, MdnsAnswer& answer) {
    std::optional<Name> owner = reader.name();
    const std::optional<std::uint16_t> type = reader.u16();
    const std::optional<std::uint16_t> recordClass = reader.u16();
    if (!owner || !type || !recordClass || !reader.skip(4)) {
        return false;
    }
    const std::optional<std::uint16_t> length = reader.u16();
    const std::size_t start = reader.position();
    if (!length || !reader.skip(*length)) {
        return false;
    }
    const std::size_t end = reader.position();
    if ((*recordClass & kClassMask) != kClassInternet) {
        return true;
    }
    reader.moveTo(start);
    const std::uint8_t* data = reader.here();
    bool fits = true;
    switch (*type) {
    case kTypePtr: {
        std::optional<Name> target = reader.name();
        fits = target && reader.position() == end;
        if (fits) {
            answer.pointers.push_back({std::move(*owner), std::move(*target)});
        }
        break;
    }
    case kTypeSrv: {
        std::optional<Name> host;
        std::optional<std::uint16_t> port;
        // Priority and weight choose among several records of one instance, which ser2net never sends.
        if (reader.skip(4)) {
            port = reader.u16();
            host = reader.name();
        }
        fits = port && host && reader.position() == end;
        if (fits) {
            answer.services.push_back({std::move(*owner), std::move(*host), *port});
        }
        break;
    }
    case kTypeTxt: {
        std::optional<std::vector<std::string>> entries = textEntries(data, *length);
        fits = entries.has_value();
        if (fits) {
            answer.texts.push_back({std::move(*owner), std::move(*entries)});
        }
        break;
    }
    case kTypeA:
    case kTypeAaaa: {
        const bool ipv6 = *type == kTypeAaaa;
        fits = *length == (ipv6 ? 16 : 4);
        if (fits) {
            answer.addresses.push_back(
                {std::move(*owner), printedAddress(ipv6 ? AF_INET6 : AF_INET, data), ipv6});
        }
        break;
    }
    default:
        break;
    }
    reader.moveTo(end);
    return fits;
}

} // namespace

bool sameName(const Name& left, const Name& right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(), common::equalsNoCase);
}

std::optional<Name> serviceTypeName(std::string_view type) {
    if (type.ends_with('.')) {
        type.remove_suffix(1);
    }
    Name labels;
    std::size_t length = 1;
    for (std::size_t at = 0; at <= type.size();) {
        const std::size_t dot = std::min(type.find('.', at), type.size());
        const std::string_view label = type.substr(at, dot - at);
        if (label.empty() || label.size() > kLongestLabel) {
            return std::nullopt;
        }
        labels.emplace_back(label);
        length += label.size() + 1;
        at = dot + 1;
    }
    if (!common::equalsNoCase(labels.back(), "local")) {
        labels.emplace_back("local");
        length += 6;
    }
    if (labels.size() < 3 || length > kLongestName) {
        return std::nullopt;
    }
    return labels;
}

Bytes buildQuery(std::uint16_t id, const Name& serviceType) {
    Bytes query;
    putU16(query, id);
    putU16(query, 0); // a standard query
    putU16(query, 1); // one question
    for (int section = 0; section < 3; ++section) {
        putU16(query, 0);
    }
    for (const std::string& label : serviceType) {
        query.push_back(static_cast<std::uint8_t>(label.size()));
        query.insert(query.end(), label.begin(), label.end());
    }
    query.push_back(0);
    putU16(query, kTypePtr);
    // The unicast-response bit stays clear: from a port other than 5353 the answer comes back unicast anyway.
    putU16(query, kClassInternet);
    return query;
}

std::optional<MdnsAnswer> parseAnswer(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderSize) {
        return std::nullopt;
    }
    Reader reader(data, size);
    MdnsAnswer answer;
    answer.id = *reader.u16();
    const std::uint16_t flags = *reader.u16();
    if ((flags & kResponseFlag) == 0 || (flags & kOpcodeMask) != 0 || (flags & kResponseCodeMask) != 0) {
        return std::nullopt;
    }
    const std::uint16_t questions = *reader.u16();
    std::size_t records = 0;
    for (int section = 0; section < 3; ++section) {
        records += *reader.u16();
    }
    for (std::uint16_t question = 0; question < questions; ++question) {
        if (!reader.name() || !reader.skip(4)) {
            return std::nullopt;
        }
    }
    for (std::size_t record = 0; record < records; ++record) {
        if (!readRecord(reader, answer)) {
            return std::nullopt;
        }
    }
    return answer;
}

} // namespace vellport::discovery
