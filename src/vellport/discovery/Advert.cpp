#include "vellport/discovery/Advert.h"

#include "common/Text.h"

#include <algorithm>
#include <optional>
#include <tuple>

namespace vellport::discovery {

namespace {

// The value of a TXT key (keys ignore case; the first entry of a key counts), nullopt when absent.
std::optional<std::string> textValue(const std::vector<std::string>& entries, std::string_view key) {
    for (const std::string& entry : entries) {
        const std::string_view entryKey = std::string_view(entry).substr(0, entry.find('='));
        if (common::equalsNoCase(entryKey, key)) {
            return entry.size() > key.size() ? entry.substr(key.size() + 1) : std::string();
        }
    }
    return std::nullopt;
}

// The layers of a gensio stack, outermost first, split at the commas outside parentheses.
std::vector<std::string> stackLayers(const std::string& stack) {
    std::vector<std::string> layers(1);
    int depth = 0;
    for (const char c : stack) {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (c == ',' && depth == 0) {
            layers.emplace_back();
        } else {
            layers.back() += c;
        }
    }
    return layers;
}

std::string layerName(const std::string& layer) {
    return layer.substr(0, layer.find('('));
}

std::string printedHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

} // namespace

std::pair<std::string, std::string> stackUrl(const std::string& stack, const std::string& host,
                                             std::uint16_t port) {
    if (stack.empty()) {
        return {"", "no gensiostack in its TXT"};
    }
    std::vector<std::string> layers = stackLayers(stack);
    for (const std::string& layer : layers) {
        const std::string name = layerName(layer);
        if (name == "certauth") {
            return {"", "certauth (ser2net's own login before the data)"};
        }
        if (name == "mux") {
            return {"", "mux (several channels in one connection)"};
        }
    }
    if (layers.empty() || layerName(layers.back()) != "tcp") {
        return {"", "the stack '" + stack + "' (not over tcp)"};
    }
    layers.pop_back();
    const bool tls = !layers.empty() && layerName(layers.back()) == "ssl";
    if (tls) {
        layers.pop_back();
    }
    std::string scheme;
    if (layers.empty()) {
        scheme = "tcp";
    } else if (layers.size() == 1 && layers.front() == "telnet(rfc2217)") {
        scheme = "rfc2217";
    } else {
        return {"", "the stack '" + stack + "'"};
    }
    return {scheme + (tls ? "+tls" : "") + "://" + printedHost(host) + ":" + std::to_string(port), ""};
}

std::vector<Advert> serialAdverts(const std::vector<MdnsAnswer>& answers, const Name& serviceType) {
    std::vector<Name> instances;
    for (const MdnsAnswer& answer : answers) {
        for (const PointerRecord& pointer : answer.pointers) {
            const bool known = std::any_of(instances.begin(), instances.end(),
                                           [&](const Name& seen) { return sameName(seen, pointer.target); });
            if (sameName(pointer.owner, serviceType) && !known && !pointer.target.empty()) {
                instances.push_back(pointer.target);
            }
        }
    }
    std::vector<Advert> adverts;
    for (const Name& instance : instances) {
        const ServiceRecord* service = nullptr;
        const TextRecord* text = nullptr;
        for (const MdnsAnswer& answer : answers) {
            for (const ServiceRecord& candidate : answer.services) {
                service = service == nullptr && sameName(candidate.owner, instance) ? &candidate : service;
            }
            for (const TextRecord& candidate : answer.texts) {
                text = text == nullptr && sameName(candidate.owner, instance) ? &candidate : text;
            }
        }
        if (service == nullptr || text == nullptr || textValue(text->entries, "provider") != "ser2net") {
            continue;
        }
        Advert advert;
        advert.name = instance.front();
        for (const std::string& label : service->host) {
            advert.host += (advert.host.empty() ? "" : ".") + label;
        }
        advert.port = service->port;
        for (const bool ipv6 : {false, true}) {
            for (const MdnsAnswer& answer : answers) {
                for (const AddressRecord& address : answer.addresses) {
                    if (address.ipv6 == ipv6 && sameName(address.owner, service->host) &&
                        std::find(advert.addresses.begin(), advert.addresses.end(), address.address) ==
                            advert.addresses.end()) {
                        advert.addresses.push_back(address.address);
                    }
                }
            }
        }
        advert.stack = textValue(text->entries, "gensiostack").value_or("");
        // The address the box answered with reaches it without an mDNS-aware resolver; link-local IPv6 needs
        // an interface a URL cannot name, so the host name stands in for it.
        const bool routable = !advert.addresses.empty() && !advert.addresses.front().starts_with("fe80:");
        std::tie(advert.url, advert.unsupported) =
            stackUrl(advert.stack, routable ? advert.addresses.front() : advert.host, advert.port);
        for (const std::string& entry : text->entries) {
            const std::string_view key = std::string_view(entry).substr(0, entry.find('='));
            if (!common::equalsNoCase(key, "provider") && !common::equalsNoCase(key, "gensiostack")) {
                advert.details.push_back(entry);
            }
        }
        adverts.push_back(std::move(advert));
    }
    std::sort(adverts.begin(), adverts.end(),
              [](const Advert& a, const Advert& b) { return a.name < b.name; });
    return adverts;
}

} // namespace vellport::discovery
