#include "PortName.h"

#include "common/Text.h"

#include <arpa/inet.h>
#include <cctype>

namespace portlink {
namespace {

constexpr std::string_view kDeviceNamespacePrefix = "\\\\.\\";

using common::startsWithNoCase;

std::string_view withoutNamespace(std::string_view name) {
    return name.starts_with(kDeviceNamespacePrefix) ? name.substr(kDeviceNamespacePrefix.size()) : name;
}

std::string_view trim(std::string_view text) {
    return common::trim(text, " \t\r\n");
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// 1 to max, decimal, without leading zeros.
std::optional<int> parseNumber(std::string_view digits, int max) {
    if (digits.empty() || digits.size() > 5 || digits.front() == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
        if (!isAsciiDigit(c)) {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number <= max ? std::optional<int>(number) : std::nullopt;
}

// "COM<n>" alone, without the device-namespace prefix.
std::optional<int> parseComNumber(std::string_view name) {
    return startsWithNoCase(name, "COM") ? parseNumber(name.substr(3), kLastPort) : std::nullopt;
}

// A dotted IPv4 address, or a host name of letters, digits and inner hyphens in labels of 1 to 63 characters.
// Labels of digits alone make an IPv4 address, which must then be one.
bool isHostName(std::string_view host) {
    constexpr std::size_t kLongestHostName = 253;
    constexpr std::size_t kLongestLabel = 63;
    if (host.empty() || host.size() > kLongestHostName) {
        return false;
    }
    int labels = 0;
    bool allNumeric = true;
    bool octetsValid = true;
    for (std::string_view rest = host;; ++labels) {
        const std::size_t dot = rest.find('.');
        const std::string_view label = rest.substr(0, dot);
        if (label.empty() || label.size() > kLongestLabel || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (const char c : label) {
            if (!isAsciiDigit(c) && !std::isalpha(static_cast<unsigned char>(c)) && c != '-') {
                return false;
            }
        }
        if (label.find_first_not_of("0123456789") != std::string_view::npos) {
            allNumeric = false;
        } else if (label != "0" && !parseNumber(label, 255)) {
            octetsValid = false;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    return !allNumeric || (labels + 1 == 4 && octetsValid);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The port a malformed name part means: "COM<n>" with leading zeros or the device-namespace prefix; 0 if
// none.
int meantPortNumber(std::string_view name) {
    name = withoutNamespace(name);
    if (!startsWithNoCase(name, "COM")) {
        return 0;
    }
    std::string_view digits = name.substr(3);
    while (digits.size() > 1 && digits.front() == '0') {
        digits.remove_prefix(1);
    }
    return parseNumber(digits, kLastPort).value_or(0);
}

} // namespace

std::optional<int> parsePortName(std::string_view name) {
    return parseComNumber(withoutNamespace(name));
}

std::optional<Endpoint> parseEndpoint(std::string_view url) {
    Endpoint endpoint;
    const std::size_t schemeEnd = url.find("://");
    const std::string_view scheme = url.substr(0, schemeEnd);
    endpoint.tls = startsWithNoCase(scheme, "rfc2217+tls") || startsWithNoCase(scheme, "tcp+tls");
    if (startsWithNoCase(scheme, "rfc2217") && scheme.size() == (endpoint.tls ? 11 : 7)) {
        endpoint.kind = Endpoint::Kind::Rfc2217;
    } else if (startsWithNoCase(scheme, "tcp") && scheme.size() == (endpoint.tls ? 7 : 3)) {
        endpoint.kind = Endpoint::Kind::RawTcp;
    } else {
        return std::nullopt;
    }
    url.remove_prefix(schemeEnd + 3);
    // The name the server's certificate must carry, when it is not the host's ("?name=" on a TLS URL only).
    if (const std::size_t query = url.find('?'); query != std::string_view::npos) {
        const std::string_view name = url.substr(query + 1);
        if (!endpoint.tls || !name.starts_with("name=") || !isHostName(name.substr(5))) {
            return std::nullopt;
        }
        endpoint.name = std::string(name.substr(5));
        url = url.substr(0, query);
    }
    const std::size_t colon = url.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = url.substr(0, colon);
    if (host.starts_with('[')) {
        // inet_pton is the judge of an IPv6 address; a zone or anything else inside the brackets is refused.
        constexpr std::size_t kLongestIpv6Text = 45;
        const std::string address(host.substr(1, host.size() - 1 - (host.ends_with(']') ? 1 : 0)));
        in6_addr parsed{};
        // A NUL would end the text inet_pton reads early and let trailing bytes through.
        if (!host.ends_with(']') || host.size() < 3 || address.size() > kLongestIpv6Text ||
            address.find('\0') != std::string::npos || ::inet_pton(AF_INET6, address.c_str(), &parsed) != 1) {
            return std::nullopt;
        }
        endpoint.host = address;
    } else if (isHostName(host)) {
        endpoint.host = std::string(host);
    } else {
        return std::nullopt;
    }
    const std::optional<int> port = parseNumber(url.substr(colon + 1), 65535);
    if (!port) {
        return std::nullopt;
    }
    endpoint.port = *port;
    return endpoint;
}

std::string mapTargetProblem(std::string_view target) {
    if (target.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos) {
        return "a line break or NUL in it";
    }
    if (!target.empty() && (isBlank(target.front()) || isBlank(target.back()))) {
        return "blanks at an end of it";
    }
    if (!target.empty() && target.front() == '/') {
        return {};
    }
    if (const std::size_t scheme = target.find("://"); scheme != std::string_view::npos) {
        if (parseEndpoint(target)) {
            return {};
        }
        // The two slips a hand-written line makes most: a comment after the URL, and the port left out.
        if (const std::size_t blank = target.find_first_of(" \t");
            blank != std::string_view::npos && parseEndpoint(target.substr(0, blank))) {
            return "text after the URL (a '#' comment takes a line of its own)";
        }
        const std::string_view rest = target.substr(scheme + 3);
        const std::size_t hostEnd = rest.starts_with('[') ? rest.find(']') : 0;
        if ((startsWithNoCase(target, "rfc2217") || startsWithNoCase(target, "tcp")) &&
            hostEnd != std::string_view::npos && rest.find(':', hostEnd) == std::string_view::npos) {
            return "no :PORT after the host";
        }
        return "not " + std::string(kEndpointForms) +
               ", or either with +tls and ?name=NAME (HOST a name, an IPv4 address or a bracketed IPv6 "
               "address; PORT 1 to 65535)";
    }
    return "not an absolute device path, " + std::string(kEndpointForms);
}

MapLine parseMapLine(std::string_view line) {
    const std::string_view content = trim(line);
    if (content.empty() || content.front() == '#') {
        return {};
    }
    MapLine result;
    result.kind = MapLine::Kind::Malformed;
    const std::size_t equals = content.find('=');
    const std::string_view name =
        trim(content.substr(0, equals != std::string_view::npos ? equals : content.find_first_of(" \t")));
    const std::optional<int> number = parseComNumber(name);
    result.portNumber = number ? *number : meantPortNumber(name);
    const std::string_view path =
        equals != std::string_view::npos ? trim(content.substr(equals + 1)) : std::string_view();
    if (equals == std::string_view::npos) {
        result.problem = "no '=' between the name and the target";
    } else if (!number) {
        result.problem = result.portNumber != 0
                             ? "the name is written COM" + std::to_string(result.portNumber) + " here"
                             : "not COM<n> before '=' (n from 1 to 255)";
    } else if (path.empty()) {
        result.problem = "no target after '='";
    } else {
        result.problem = mapTargetProblem(path);
    }
    if (!result.problem.empty()) {
        return result;
    }
    result.kind = MapLine::Kind::Entry;
    result.target = std::string(path);
    return result;
}

} // namespace portlink
