// Fuzzes the port name parsing and device path resolution: arbitrary names, map file lines and map files.
#include "FuzzFile.h"
#include "PortMapping.h"
#include "PortName.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

// "COM<n>" with n written plainly, in any letter case, optionally behind "\\.\".
bool NamesPort(std::string_view name, int number) {
    if (name.starts_with("\\\\.\\")) {
        name.remove_prefix(4);
    }
    std::string lower;
    for (const char c : name) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower == "com" + std::to_string(number);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile mapFile;
    FuzzedDataProvider input(data, size);
    const std::string name = input.ConsumeRandomLengthString(32);
    const std::string environment = input.ConsumeRandomLengthString(64);
    const std::string map = input.ConsumeRemainingBytesAsString();

    const auto number = portlink::parsePortName(name);
    if (number &&
        (*number < portlink::kFirstPort || *number > portlink::kLastPort || !NamesPort(name, *number))) {
        std::fprintf(stderr, "accepted [%s] as %d\n", name.c_str(), *number);
        std::abort();
    }
    const portlink::MapLine line = portlink::parseMapLine(map);
    if (line.kind == portlink::MapLine::Kind::Entry &&
        (line.portNumber < portlink::kFirstPort || line.portNumber > portlink::kLastPort ||
         !portlink::mapTargetProblem(line.target).empty())) {
        std::abort();
    }

    mapFile.write(map);
    const portlink::MapSources sources{environment, mapFile.path(), "/nonexistent/vellport.map"};
    const portlink::Resolution resolution =
        portlink::resolvePort(number.value_or(1), sources, [](const std::string&) {});
    const std::string& path = resolution.target;
    // Whatever the sources hold, the result is an absolute path or an endpoint URL, or no path at all for a
    // name whose own line is not valid.
    if (resolution.invalid ? !path.empty() || resolution.rule == portlink::PortRule::Fixed
                           : !path.starts_with('/') && !portlink::parseEndpoint(path)) {
        std::fprintf(stderr, "resolved to [%s]\n", path.c_str());
        std::abort();
    }
    return 0;
}
