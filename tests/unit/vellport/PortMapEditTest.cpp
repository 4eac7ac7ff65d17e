// vellport's map file edits: which lines are active, what map and unmap change, and which targets are
// refused.
#include "vellport/PortMapEdit.h"

#include "portlink/PortName.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <ranges>

namespace vellport {

// The target of the name's first entry line, by the library's own line parser.
std::optional<std::string> mappedPath(std::string_view text, int portNumber) {
    for (const auto line : std::views::split(text, '\n')) {
        portlink::MapLine parsed = portlink::parseMapLine(std::string_view(line.begin(), line.end()));
        if (parsed.kind == portlink::MapLine::Kind::Entry && parsed.portNumber == portNumber) {
            return std::move(parsed.target);
        }
    }
    return std::nullopt;
}

struct EditCase {
    const char* name;
    std::string text;
    int portNumber;
    const char* device; // nullptr: unmap
    std::string expected;
};

void PrintTo(const EditCase& row, std::ostream* out) {
    *out << row.name;
}

class Edit : public testing::TestWithParam<EditCase> {};

TEST_P(Edit, ChangesOnlyTheLinesForThatName) {
    const EditCase& row = GetParam();
    const std::string result = row.device != nullptr ? mapPort(row.text, row.portNumber, row.device)
                                                     : unmapPort(row.text, row.portNumber);
    EXPECT_EQ(result, row.expected);
    EXPECT_EQ(mappedPath(result, row.portNumber),
              row.device != nullptr ? std::optional<std::string>(row.device) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Edit,
    testing::Values(
        EditCase{"MapIntoEmptyFile", "", 3, "/dev/ttyUSB0", "COM3=/dev/ttyUSB0\n"},
        EditCase{"MapAppendsAfterCommentsAndOthers", "# mine\nCOM1=/dev/a\n", 3, "/dev/b",
                 "# mine\nCOM1=/dev/a\nCOM3=/dev/b\n"},
        EditCase{"MapEndsAnUnfinishedLastLineFirst", "COM1=/dev/a", 3, "/dev/b",
                 "COM1=/dev/a\nCOM3=/dev/b\n"},
        EditCase{"MapAppendsCrlfToACrlfFile", "# x\r\n", 2, "/dev/b", "# x\r\nCOM2=/dev/b\r\n"},
        EditCase{"MapReplacesFirstActiveLineInPlaceKeepingItsCr",
                 "#COM3=/dev/old\r\n com3 = /dev/a\r\nCOM4=/dev/c\r\nCOM3=/dev/second\r\n", 3, "/dev/new",
                 "#COM3=/dev/old\r\nCOM3=/dev/new\r\nCOM4=/dev/c\r\nCOM3=/dev/second\r\n"},
        EditCase{"MapMendsTheNamesFirstLineThoughMalformed", "COM03=/dev/z\nCOM3=relative\n", 3, "/dev/x",
                 "COM3=/dev/x\nCOM3=relative\n"},
        EditCase{"MapSkipsLinesOfNoName", "COM=/dev/z\nCOM0=/dev/y\n", 3, "/dev/x",
                 "COM=/dev/z\nCOM0=/dev/y\nCOM3=/dev/x\n"},
        EditCase{"MapOfCom30LeavesCom3Alone", "COM3=/dev/a\n", 30, "/dev/b", "COM3=/dev/a\nCOM30=/dev/b\n"},
        EditCase{"UnmapRemovesEveryLineOfTheNameOnly",
                 "# COM3=/dev/keep\nCOM3=/dev/a\nCOM4=/dev/b\n\tcom3=/dev/c\nCOM3 /dev/d\nCOM 3=/dev/e\n", 3,
                 nullptr, "# COM3=/dev/keep\nCOM4=/dev/b\nCOM 3=/dev/e\n"},
        EditCase{"UnmapOfAnUnfinishedLastLine", "COM1=/dev/a\nCOM3=/dev/b", 3, nullptr, "COM1=/dev/a\n"},
        EditCase{"UnmapOfAnUnmappedNameChangesNothing", "x\r\n\nCOM1=/dev/a", 2, nullptr,
                 "x\r\n\nCOM1=/dev/a"}),
    [](const testing::TestParamInfo<EditCase>& info) { return std::string{info.param.name}; });

struct TargetCase {
    const char* name;
    std::string device;
    bool refused;
};

void PrintTo(const TargetCase& row, std::ostream* out) {
    *out << row.name;
}

class MapTarget : public testing::TestWithParam<TargetCase> {};

TEST_P(MapTarget, IsRefusedWhenTheLibraryCouldNotReadItBack) {
    EXPECT_EQ(!portlink::mapTargetProblem(GetParam().device).empty(), GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MapTarget,
    testing::Values(TargetCase{"ByIdPath", "/dev/serial/by-id/usb-FTDI_A1-if00-port0", false},
                    TargetCase{"InnerBlank", "/dev/my port", false}, TargetCase{"Relative", "ttyUSB0", true},
                    TargetCase{"Empty", "", true}, TargetCase{"LineBreak", "/dev/a\nCOM4=/dev/b", true},
                    TargetCase{"CarriageReturn", "/dev/a\r", true},
                    TargetCase{"TrailingBlank", "/dev/a ", true},
                    TargetCase{"Nul", std::string("/dev/a\0b", 8), true},
                    TargetCase{"Rfc2217Url", "rfc2217://counter-pi:2001", false},
                    TargetCase{"BracketedIpv6", "tcp://[fe80::1]:4001", false},
                    TargetCase{"OtherScheme", "ssh://counter-pi:22", true},
                    TargetCase{"PortOutOfRange", "tcp://10.0.0.5:65536", true},
                    TargetCase{"NoPort", "rfc2217://counter-pi", true},
                    TargetCase{"BadOctet", "tcp://10.0.0.256:4001", true},
                    TargetCase{"HyphenEndsLabel", "tcp://box-.lan:4001", true}),
    [](const testing::TestParamInfo<TargetCase>& info) { return std::string{info.param.name}; });

} // namespace vellport
