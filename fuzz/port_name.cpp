// Fuzzes the port name parsing and device path resolution: arbitrary names, map file lines and map files.
#include "FuzzFile.h"
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

    const auto number = vellport::parsePortName(name);
    if (number &&
        (*number < vellport::kFirstPort || *number > vellport::kLastPort || !NamesPort(name, *number))) {
        std::fprintf(stderr, "accepted [%s] as %d\n", name.c_str(), *number);
        std::abort();
    }
    const vellport::MapLine line = vellport::parseMapLine(map);
    if (line.kind == vellport::MapLine::Kind::Entry &&
        (line.portNumber < vellport::kFirstPort || line.portNumber > vellport::kLastPort ||
         !vellport::mapTargetProblem(line.devicePath).empty())) {
        std::abort();
    }

    mapFile.write(map);
    const vellport::MapSources sources{environment, mapFile.path(), "/nonexistent/vellport.map"};
    const vellport::Resolution resolution =
        vellport::resolvePort(number.value_or(1), sources, [](const std::string&) {});
    const std::string& path = resolution.devicePath;
    // Whatever the sources hold, the result is an absolute path or an endpoint URL, or no path at all for a
    // name whose own line is not valid.
    if (resolution.invalid ? !path.empty() || resolution.rule == vellport::PortRule::Fixed
                           : !path.starts_with('/') && !vellport::parseEndpoint(path)) {
        std::fprintf(stderr, "resolved to [%s]\n", path.c_str());
        std::abort();
    }
    return 0;
}
