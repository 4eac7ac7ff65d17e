#include "VellPortDll.h"
#include "vellport/CommandLine.h"
#include "vellport/ExitStatus.h"
#include "vellport/commands/Commands.h"
#include "vellport/discovery/Advert.h"
#include "vellport/discovery/MdnsQuery.h"
#include "vellport/output/JsonOutput.h"

#include <QJsonArray>
#include <QJsonObject>
#include <charconv>
#include <chrono>
#include <optional>
#include <ostream>
#include <random>

namespace vellport {

namespace {

constexpr int kLastPort = 255;
constexpr int kLongestBoundMs = 60000;

// Seconds with at most three decimals, e.g. "0.3", as whole milliseconds.
std::optional<std::chrono::milliseconds> boundOf(const std::string& text) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (fraction.size() > 3 || (whole.empty() && fraction.empty())) {
        return std::nullopt;
    }
    fraction.resize(3, '0');
    int milliseconds = 0;
    const std::string digits = whole + fraction;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), milliseconds);
    if (error != std::errc() || end != digits.data() + digits.size() || milliseconds < 10 ||
        milliseconds > kLongestBoundMs) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(milliseconds);
}

// Control bytes from the network never reach the terminal as they came.
std::string printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    return shown;
}

// The COM names that no rule maps and that lead to no device present, lowest first, and the URLs mapped.
struct Mapped {
    std::vector<int> free;
    std::vector<std::pair<std::string, std::string>> urls;
};
Mapped mappedNames() {
    Mapped mapped;
    for (int number = 1; number <= kLastPort; ++number) {
        VellPortInfo* info = nullptr;
        const std::string name = "COM" + std::to_string(number);
        if (VellPortDescribe(name.c_str(), &info) != VELLPORT_OK || info == nullptr) {
            continue;
        }
        if (info->state == VELLPORT_STATE_NETWORK) {
            mapped.urls.emplace_back(info->devicePath, name);
        } else if (info->rule == VELLPORT_RULE_DEFAULT && info->state != VELLPORT_STATE_PRESENT &&
                   info->state != VELLPORT_STATE_NO_PERMISSION) {
            mapped.free.push_back(number);
        }
        VellPortFreeInfo(info);
    }
    return mapped;
}

void printAdvert(const discovery::Advert& advert, const std::string& mapLine, std::ostream& out) {
    out << printable(advert.name) << "  "
        << (advert.url.empty() ? "not supported: " + printable(advert.unsupported) : printable(advert.url))
        << "\n";
    std::string addresses;
    for (const std::string& address : advert.addresses) {
        addresses += (addresses.empty() ? " (" : ", ") + address;
    }
    out << "  host " << printable(advert.host) << " port " << advert.port
        << (addresses.empty() ? "" : addresses + ")") << ", stack " << printable(advert.stack) << "\n";
    for (const std::string& detail : advert.details) {
        out << "  " << printable(detail) << "\n";
    }
    if (!mapLine.empty()) {
        out << "  " << mapLine << "\n";
    }
}

QJsonObject advertJson(const discovery::Advert& advert, const std::string& mapLine) {
    QJsonObject entry{{"port", advert.port}};
    insertText(entry, "name", advert.name.c_str());
    insertText(entry, "host", advert.host.c_str());
    insertText(entry, "stack", advert.stack.c_str());
    insertText(entry, "url", advert.url.empty() ? nullptr : advert.url.c_str());
    insertText(entry, "unsupported", advert.unsupported.empty() ? nullptr : advert.unsupported.c_str());
    insertText(entry, "map", mapLine.empty() ? nullptr : mapLine.c_str());
    QJsonArray addresses;
    for (const std::string& address : advert.addresses) {
        addresses.append(QString::fromStdString(address));
    }
    entry.insert("addresses", addresses);
    QJsonObject details;
    for (const std::string& detail : advert.details) {
        const std::size_t equals = detail.find('=');
        if (equals == std::string::npos) {
            details.insert(QString::fromUtf8(detail), true);
        } else {
            insertText(details, QString::fromUtf8(detail.substr(0, equals)), detail.c_str() + equals + 1);
        }
    }
    entry.insert("txt", details);
    return entry;
}

} // namespace

int runDiscover(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string seconds = options.seconds.value_or("1");
    const std::optional<std::chrono::milliseconds> bound = boundOf(seconds);
    if (!bound) {
        throw UsageError("'" + seconds + "' is not a number of seconds from 0.01 to 60",
                         "vellport discover --seconds 2");
    }
    const std::string typeText = options.type.value_or("_iostream._tcp");
    const std::optional<discovery::Name> type = discovery::serviceTypeName(typeText);
    if (!type) {
        throw UsageError("'" + typeText + "' is not an mDNS service type",
                         "vellport discover --type _iostream._tcp");
    }
    std::random_device entropy;
    const auto id = static_cast<std::uint16_t>(entropy() % 0xffff + 1);
    const discovery::Gathered gathered =
        discovery::askAllInterfaces(discovery::buildQuery(id, *type), *bound);
    if (gathered.sent == 0) {
        err << "vellport: discover: " << gathered.problem << "\n";
        return kExitFailed;
    }
    std::vector<discovery::MdnsAnswer> answers;
    for (const discovery::Bytes& bytes : gathered.answers) {
        if (std::optional<discovery::MdnsAnswer> answer = discovery::parseAnswer(bytes.data(), bytes.size());
            answer && answer->id == id) {
            answers.push_back(std::move(*answer));
        }
    }
    const std::vector<discovery::Advert> adverts = discovery::serialAdverts(answers, *type);
    Mapped mapped;
    if (!adverts.empty()) {
        mapped = mappedNames();
    }
    std::size_t nextFree = 0;
    QJsonArray entries;
    for (const discovery::Advert& advert : adverts) {
        std::string mappedAs;
        for (const auto& [url, name] : mapped.urls) {
            mappedAs = mappedAs.empty() && !advert.url.empty() && url == advert.url ? name : mappedAs;
        }
        std::string mapLine;
        if (mappedAs.empty() && !advert.url.empty() && nextFree < mapped.free.size()) {
            mapLine = "vellport map COM" + std::to_string(mapped.free[nextFree++]) + " " + advert.url;
        }
        if (options.json) {
            QJsonObject entry = advertJson(advert, mapLine);
            insertText(entry, "mappedAs", mappedAs.empty() ? nullptr : mappedAs.c_str());
            entries.append(entry);
        } else {
            printAdvert(advert, printable(mappedAs.empty() ? mapLine : "mapped as " + mappedAs), out);
        }
    }
    if (options.json) {
        writeJson(
            QJsonObject{{"adverts", entries}, {"seconds", std::chrono::duration<double>(*bound).count()}},
            out);
    } else if (adverts.empty()) {
        out << "no displays answered within " << seconds << " s\n";
    } else {
        out << adverts.size() << (adverts.size() == 1 ? " display" : " displays") << " answered within "
            << seconds << " s; adverts are unauthenticated: map only a display you know\n";
    }
    return kExitOk;
}

} // namespace vellport
