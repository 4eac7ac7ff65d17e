#include "vellport/fleet/TargetList.h"

#include "common/RegularFile.h"
#include "common/Text.h"
#include "portlink/PortName.h"
#include "vellport/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace vellport {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kTargetExample = "vellport send on --to rfc2217://counter-pi:2001";

// Blanks around a line; a CR before its LF.
std::string_view trimmed(std::string_view text) {
    return common::trimEnd(common::trimStart(text, " \t"), " \t\r");
}

} // namespace

Target requireTarget(const std::string& text, const std::string& where) {
    if (portlink::parsePortName(text)) {
        return Target{text, true};
    }
    if (const std::string problem = portlink::mapTargetProblem(text); !problem.empty()) {
        throw UsageError(where + ": '" + text + "' is neither a COM name nor a target: " + problem,
                         kTargetExample);
    }
    return Target{text, false};
}

std::vector<Target> parseTargetList(std::string_view text, const std::string& fileName) {
    // Editors on Windows save UTF-8 with a byte order mark.
    if (text.starts_with(kUtf8ByteOrderMark)) {
        text.remove_prefix(kUtf8ByteOrderMark.size());
    }
    std::vector<Target> targets;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        targets.push_back(requireTarget(std::string(line), fileName + ":" + std::to_string(lineNumber)));
        targets.back().line = lineNumber;
    }
    return targets;
}

std::vector<Target> readTargetList(const std::string& path) {
    const common::FileBytes file = common::readRegularFile(path, kLargestInputFile);
    if (file.outcome != common::FileBytes::Outcome::Read) {
        throw UsageError("cannot read the targets file " + path +
                             " (missing, unreadable, not a regular file, or larger than " +
                             kLargestInputWords + ")",
                         "vellport send on --targets displays.txt");
    }
    return parseTargetList(file.bytes, path);
}

std::string destinationKey(std::string_view leadsTo) {
    if (const std::optional<portlink::Endpoint> endpoint = portlink::parseEndpoint(leadsTo)) {
        std::string host = endpoint->host;
        std::transform(host.begin(), host.end(), host.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (host.find(':') != std::string::npos) {
            host = "[" + host + "]";
        }
        return (endpoint->kind == portlink::Endpoint::Kind::Rfc2217 ? "rfc2217://" : "tcp://") + host + ":" +
               std::to_string(endpoint->port);
    }
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(std::string(leadsTo), error);
    return error ? std::string(leadsTo) : resolved.string();
}
} // namespace vellport
