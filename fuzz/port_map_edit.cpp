// Fuzzes the map file edits of vellport: map then unmap of a name keeps every other line byte for byte, and
// the library's resolution reads back exactly what was mapped.
#include "FuzzFile.h"
#include "PortMapping.h"
#include "PortName.h"
#include "vellport/PortMapEdit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Each line with its '\n' (none for a last line without one).
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

std::string_view withoutLineEnd(std::string_view line) {
    return line.ends_with('\n') ? line.substr(0, line.size() - 1) : line;
}

// The name's line by the library's reader (an entry, or a malformed line naming it), not by the code under
// test.
bool libraryTakesLineFor(std::string_view line, int portNumber) {
    const portlink::MapLine parsed = portlink::parseMapLine(withoutLineEnd(line));
    return parsed.kind != portlink::MapLine::Kind::Skip && parsed.portNumber == portNumber;
}

[[noreturn]] void fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "%s\n--- file ---\n%.*s\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile mapFile;
    FuzzedDataProvider input(data, size);
    const int portNumber = input.ConsumeIntegralInRange(portlink::kFirstPort, portlink::kLastPort);
    std::string device = input.ConsumeRandomLengthString(64);
    const std::string text = input.ConsumeRemainingBytesAsString();
    const std::vector<std::string_view> lines = splitLines(text);

    if (!device.starts_with('/')) {
        device.insert(0, "/");
    }
    if (!portlink::mapTargetProblem(device).empty()) {
        return 0;
    }
    const std::string mapped = vellport::mapPort(text, portNumber, device);
    mapFile.write(mapped);
    const portlink::MapSources sources{"", mapFile.path(), "/nonexistent/vellport.map"};
    if (portlink::resolvePort(portNumber, sources, [](const std::string&) {}).target != device) {
        fail("the library resolves the mapped name elsewhere", mapped);
    }

    // Map touches one line: the name's first one in place, or a new last line.
    const std::vector<std::string_view> mappedLines = splitLines(mapped);
    std::size_t firstActive = lines.size();
    for (std::size_t i = 0; i < lines.size() && firstActive == lines.size(); ++i) {
        if (libraryTakesLineFor(lines[i], portNumber)) {
            firstActive = i;
        }
    }
    const bool appended = firstActive == lines.size();
    if (mappedLines.size() != lines.size() + (appended ? 1 : 0)) {
        fail("map changed the number of lines", mapped);
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool lineEndAdded = appended && i + 1 == lines.size() && !lines[i].ends_with('\n');
        if (i != firstActive &&
            (lineEndAdded ? withoutLineEnd(mappedLines[i]) : mappedLines[i]) != lines[i]) {
            fail("map changed another line", mapped);
        }
    }

    // Unmap leaves exactly the lines that are not the name's.
    std::string expected;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!libraryTakesLineFor(lines[i], portNumber)) {
            expected += lines[i];
            if (appended && i + 1 == lines.size() && !lines[i].ends_with('\n')) {
                expected += '\n';
            }
        }
    }
    const std::string unmapped = vellport::unmapPort(mapped, portNumber);
    if (unmapped != expected) {
        fail("map then unmap did not leave the other lines as they were", unmapped);
    }
    mapFile.write(unmapped);
    if (portlink::resolvePort(portNumber, sources, [](const std::string&) {}).target !=
        portlink::fixedTarget(portNumber)) {
        fail("the library still finds a mapping after unmap", unmapped);
    }
    return 0;
}
