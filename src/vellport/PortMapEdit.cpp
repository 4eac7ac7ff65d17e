#include "vellport/PortMapEdit.h"

#include "portlink/PortName.h"

#include <cstddef>

namespace vellport {
namespace {

// Calls visit(line, lineEnd) for each line: the line without its '\n', and the '\n' or "" for a last line
// without one.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            visit(text, std::string_view{});
            return;
        }
        visit(text.substr(0, end), text.substr(end, 1));
        text.remove_prefix(end + 1);
    }
}

// The library's line for portNumber: an entry, or a malformed line naming it, which the library takes as
// the name's own and refuses rather than read past it.
bool isLineOf(std::string_view line, int portNumber) {
    const portlink::MapLine parsed = portlink::parseMapLine(line);
    return parsed.kind != portlink::MapLine::Kind::Skip && parsed.portNumber == portNumber;
}

std::string entryLine(int portNumber, std::string_view target) {
    return "COM" + std::to_string(portNumber) + "=" + std::string(target);
}

} // namespace

std::string mapPort(std::string_view text, int portNumber, std::string_view target) {
    std::string result;
    result.reserve(text.size() + target.size() + 16);
    bool replaced = false;
    forEachLine(text, [&](std::string_view line, std::string_view lineEnd) {
        if (!replaced && isLineOf(line, portNumber)) {
            result += entryLine(portNumber, target);
            // A CRLF file keeps its CR on the line it gets back.
            if (line.ends_with('\r')) {
                result += '\r';
            }
            replaced = true;
        } else {
            result += line;
        }
        result += lineEnd;
    });
    if (!replaced) {
        const std::string_view lineEnd = text.ends_with("\r\n") ? "\r\n" : "\n";
        if (!text.empty() && !text.ends_with('\n')) {
            result += lineEnd;
        }
        result += entryLine(portNumber, target);
        result += lineEnd;
    }
    return result;
}

std::string unmapPort(std::string_view text, int portNumber) {
    std::string result;
    result.reserve(text.size());
    forEachLine(text, [&](std::string_view line, std::string_view lineEnd) {
        if (!isLineOf(line, portNumber)) {
            result += line;
            result += lineEnd;
        }
    });
    return result;
}
} // namespace vellport
