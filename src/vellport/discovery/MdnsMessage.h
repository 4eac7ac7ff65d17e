// mDNS messages as pure functions over bytes: the one-shot query for a service type, and an answer's records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellport::discovery {

using Bytes = std::vector<std::uint8_t>;
// A domain name as its labels, e.g. {"front desk", "_iostream", "_tcp", "local"}; a label may hold dots.
using Name = std::vector<std::string>;

// DNS names compare without regard to ASCII case.
bool sameName(const Name& left, const Name& right);

// The labels of a service type as given on the command line ("_iostream._tcp", a trailing ".local" or "."
// allowed), with "local" added; nullopt when it is not a service type (empty, over-long or empty labels).
std::optional<Name> serviceTypeName(std::string_view type);

// A one-shot (legacy unicast) query for the PTR records of a service type, with the id given.
Bytes buildQuery(std::uint16_t id, const Name& serviceType);

struct PointerRecord {
    Name owner;  // the service type
    Name target; // one instance of it
};
struct ServiceRecord {
    Name owner; // the instance
    Name host;
    std::uint16_t port = 0;
};
struct TextRecord {
    Name owner;
    std::vector<std::string> entries; // "key=value" or "key", in the order sent
};
struct AddressRecord {
    Name owner;
    std::string address; // printed, e.g. "192.168.1.20" or "fe80::1"
    bool ipv6 = false;
};

// The records of one answer that discovery uses; every other record is skipped.
struct MdnsAnswer {
    std::uint16_t id = 0;
    std::vector<PointerRecord> pointers;
    std::vector<ServiceRecord> services;
    std::vector<TextRecord> texts;
    std::vector<AddressRecord> addresses;
};

// Reads an answer (a response without error). Every read is checked against size, and compression pointers
// must point backwards, so a hostile message can neither read out of bounds nor loop. nullopt when the
// message is not a well-formed answer: a query, an error code, a record cut short, a name that does not end.
std::optional<MdnsAnswer> parseAnswer(const std::uint8_t* data, std::size_t size);

} // namespace vellport::discovery
