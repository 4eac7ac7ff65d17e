// The integer read of the profile format: prefixes, signs, stopping points and 32-bit wrap-around.
#include "settings/IniFile.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

struct IntCase {
    const char* name;
    std::string stored; // the line after "Port", "<absent>" for no line
    int expected;
};

// Failure messages show the row by its name.
void PrintTo(const IntCase& row, std::ostream* out) {
    *out << row.name;
}

class ProfileIntRead : public testing::TestWithParam<IntCase> {};

TEST_P(ProfileIntRead, ReadsAsTheWindowsIntegerRead) {
    const IntCase& c = GetParam();
    const std::string content = c.stored == "<absent>" ? "[COMM]\n" : "[COMM]\nBaud" + c.stored + "\n";
    EXPECT_EQ(readProfileInt(content, "COMM", "Baud", 77), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileIntRead,
    testing::Values(IntCase{"AbsentGivesDefault", "<absent>", 77}, IntCase{"NoEqualsGivesDefault", "", 77},
                    IntCase{"EmptyGivesDefault", "=", 77}, IntCase{"QuotedEmptyGivesDefault", "=\"\"", 77},
                    IntCase{"Decimal", "=9600", 9600}, IntCase{"Negative", "=-1", -1},
                    IntCase{"PlusSign", "=+5", 5}, IntCase{"Max32BitWrapsToMinusOne", "=4294967295", -1},
                    IntCase{"TwoToThe32WrapsToZero", "=4294967296", 0},
                    IntCase{"PastIntMaxWraps", "=2147483648", -2147483647 - 1},
                    IntCase{"NegativeWraps", "=-4294967297", -1},
                    IntCase{"StopsAtFirstOtherCharacter", "=12abc", 12},
                    IntCase{"NoDigitsGivesZeroNotDefault", "=abc", 0}, IntCase{"SignAloneGivesZero", "=-", 0},
                    IntCase{"QuotedNumber", "=\"5\"", 5},
                    IntCase{"BlanksInsideQuotesSkipped", "=\"  42\"", 42}, IntCase{"Hex", "=0x1F", 31},
                    IntCase{"HexLowerDigits", "=0xff", 255}, IntCase{"NegativeHex", "=-0x10", -16},
                    IntCase{"HexWraps", "=0x100000001", 1},
                    IntCase{"UpperCaseHexPrefixIsNoPrefix", "=0X1F", 0}, IntCase{"Octal", "=0o17", 15},
                    IntCase{"OctalStopsAtEight", "=0o78", 7}, IntCase{"Binary", "=0b101", 5},
                    IntCase{"BinaryStopsAtTwo", "=0b12", 1}, IntCase{"LeadingZeroIsDecimal", "=010", 10},
                    IntCase{"ZeroAlone", "=0", 0}, IntCase{"PrefixWithoutDigits", "=0x", 0},
                    IntCase{"SpaceAfterSignStops", "=- 5", 0}, IntCase{"SemicolonStops", "=3 ; note", 3}),
    [](const testing::TestParamInfo<IntCase>& info) { return std::string{info.param.name}; });

} // namespace
