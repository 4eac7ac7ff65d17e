// What vellport writes in a locale's charset, its JSON in ASCII, and the lines of a targets file it takes.
#include "vellport/output/TextEncoding.h"

#include "vellport/CommandLine.h"
#include "vellport/fleet/TargetList.h"

#include <gtest/gtest.h>

namespace vellport {

struct CharsetCase {
    const char* name;
    std::string text;
    const char* codeset;
    std::string expected;
};

void PrintTo(const CharsetCase& row, std::ostream* out) {
    *out << row.name;
}

class InCharset : public testing::TestWithParam<CharsetCase> {};

TEST_P(InCharset, SpellsWhatTheCharsetLacks) {
    EXPECT_EQ(toCharset(GetParam().text, GetParam().codeset), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InCharset,
    testing::Values(CharsetCase{"Utf8Unchanged", "COM5 \u2192 \xff", "UTF-8", "COM5 \u2192 \xff"},
                    CharsetCase{"ArrowInAscii", "COM5 \u2192 /dev/ttyS4", "ANSI_X3.4-1968",
                                "COM5 -> /dev/ttyS4"},
                    CharsetCase{"LatinLetterConverted", "caf\u00e9", "ISO-8859-1", "caf\xe9"},
                    CharsetCase{"MissingCharacterIsAQuestionMark", "\u4e32\u53e3", "ANSI_X3.4-1968", "??"},
                    CharsetCase{"PathBytesPassAsTheyAre", "/dev/tty\xe9", "ISO-8859-1", "/dev/tty\xe9"}),
    [](const testing::TestParamInfo<CharsetCase>& info) { return std::string{info.param.name}; });

TEST(AsciiJson, EscapesEveryCharacterBeyondAscii) {
    EXPECT_EQ(asciiJson("{\"a\":\"\u00e9\u2192\U0001F600\"}"), "{\"a\":\"\\u00e9\\u2192\\ud83d\\ude00\"}");
}

struct ListCase {
    const char* name;
    std::string text;
    std::vector<Target> expected; // empty with bad: the error names this line
    const char* badLine;
};

void PrintTo(const ListCase& row, std::ostream* out) {
    *out << row.name;
}

class TargetsFile : public testing::TestWithParam<ListCase> {};

TEST_P(TargetsFile, TakesOneTargetALine) {
    const ListCase& row = GetParam();
    if (row.badLine == nullptr) {
        EXPECT_EQ(parseTargetList(row.text, "shop.txt"), row.expected);
        return;
    }
    try {
        parseTargetList(row.text, "shop.txt");
        ADD_FAILURE() << "accepted";
    } catch (const UsageError& error) {
        EXPECT_NE(error.line().find(row.badLine), std::string::npos) << error.line();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TargetsFile,
    testing::Values(
        ListCase{"CommentsBlanksAndCrlfSkipped",
                 "# counter\r\n\r\n  COM3 \r\n\t#COM4\nrfc2217://box:2001\n/dev/ttyUSB0",
                 {{"COM3", true, 3}, {"rfc2217://box:2001", false, 5}, {"/dev/ttyUSB0", false, 6}},
                 nullptr},
        ListCase{"ByteOrderMarkSkipped",
                 "\xEF\xBB\xBF"
                 "COM3\r\n",
                 {{"COM3", true, 1}},
                 nullptr},
        ListCase{"BadLineNamedWithItsNumber", "COM3\n\nttyUSB0\n", {}, "shop.txt:3: 'ttyUSB0'"},
        ListCase{"UrlWithoutPortRefused", "tcp://box\n", {}, "shop.txt:1: 'tcp://box'"}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string{info.param.name}; });

struct PlaceCase {
    const char* name;
    const char* first;
    const char* second;
    bool same;
};

void PrintTo(const PlaceCase& row, std::ostream* out) {
    *out << row.name;
}

class SamePlace : public testing::TestWithParam<PlaceCase> {};

TEST_P(SamePlace, OnlyWhenBothLeadThere) {
    EXPECT_EQ(destinationKey(GetParam().first) == destinationKey(GetParam().second), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SamePlace,
    testing::Values(
        PlaceCase{"SchemeAndHostInAnyCase", "RFC2217://Counter-Pi:2001", "rfc2217://counter-pi:2001", true},
        PlaceCase{"IPv6InAnyCase", "tcp://[FD00::5]:2002", "tcp://[fd00::5]:2002", true},
        PlaceCase{"AnotherPort", "tcp://box:2002", "tcp://box:2003", false},
        PlaceCase{"AnotherScheme", "rfc2217://box:2001", "tcp://box:2001", false},
        PlaceCase{"NameAndAddressStayApart", "tcp://localhost:2002", "tcp://127.0.0.1:2002", false},
        PlaceCase{"DevicePathSpelledTwice", "/dev/./null", "/dev/null", true}),
    [](const testing::TestParamInfo<PlaceCase>& info) { return std::string{info.param.name}; });

} // namespace vellport
