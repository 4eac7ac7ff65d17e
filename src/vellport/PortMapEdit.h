// The port link library's COM name map files as text: mapping or unmapping one name while every other byte
// stays as it was.
#pragma once

#include <string>
#include <string_view>

namespace vellport {
// What a new map file starts with.
inline constexpr std::string_view kMapFileHeader =
    "# COM name map of the VellPortDll port link library, read again at every call.\n"
    "# One line per name, COM<n>= and where it leads, with nothing after it on the line:\n"
    "# a serial device by its absolute path,\n"
    "#   COM3=/dev/serial/by-id/usb-...-port0\n"
    "# a ser2net port with RFC 2217, where the rate chosen here is set on the far box,\n"
    "#   COM5=rfc2217://counter-pi:2001\n"
    "# or a raw TCP port of ser2net, which keeps the line settings of its configuration.\n"
    "#   COM6=tcp://counter-pi:2002\n"
    "# Lines starting with '#' are comments. Edit by hand or with: vellport map COM<n> TARGET\n";

// text with its first line for portNumber (an active line, or a malformed one naming the port) replaced in
// place by COM<n>=<target> (keeping that line's end), or with such a line appended. target must pass
// portlink::mapTargetProblem.
std::string mapPort(std::string_view text, int portNumber, std::string_view target);

// text without any of its lines for portNumber, malformed ones included; every other line stays byte for
// byte.
std::string unmapPort(std::string_view text, int portNumber);
} // namespace vellport
