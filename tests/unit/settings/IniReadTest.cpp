// The reading rules of the profile format, one row per rule, on content held in memory.
#include "settings/IniFile.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

struct ReadCase {
    const char* name;
    std::string content;
    std::string section;
    std::string key;
    std::string expected; // "<default>" when the default must come back
};

// Failure messages show the row by its name.
void PrintTo(const ReadCase& row, std::ostream* out) {
    *out << row.name;
}

class ProfileRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, FindsTheValueTheWindowsReadFinds) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(readProfileValue(c.content, c.section, c.key, "<default>"), c.expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileRead,
    testing::Values(
        ReadCase{"CrLfLineEnds", "[COMM]\r\nPort=COM3\r\nBaud=4\r\n", "COMM", "Baud", "4"},
        ReadCase{"LfLineEnds", "[COMM]\nPort=COM3\nBaud=4\n", "COMM", "Baud", "4"},
        ReadCase{"CrOnlyLineEnds", "[COMM]\rPort=COM3\rBaud=4\r", "COMM", "Baud", "4"},
        ReadCase{"MixedLineEnds", "[COMM]\r\nPort=COM3\rBaud=4\nIP1=7", "COMM", "IP1", "7"},
        ReadCase{"NoFinalLineEnd", "[COMM]\nPort=COM3", "COMM", "Port", "COM3"},
        ReadCase{"Utf8MarkSkipped", "\xEF\xBB\xBF[COMM]\nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"NulEndsTheLine", "[COMM]\nPort=COM3\0garbage\nBaud=4\n"s, "COMM", "Port", "COM3"},
        ReadCase{"NulBeforeEqualsLeavesNoValue", "[COMM]\nPort\0=COM3\n"s, "COMM", "Port", "<default>"},
        ReadCase{"BlanksTrimmed", "  [COMM]  \n \t Port \v=\f COM3 \x1A\n", "COMM", "Port", "COM3"},
        ReadCase{"NoBreakSpaceIsNoBlank",
                 "[COMM]\nPort=\xA0"
                 "COM3\xA0\n",
                 "COMM", "Port",
                 "\xA0"
                 "COM3\xA0"},
        ReadCase{"BlankLinesSkipped", "\n\n[COMM]\n\n   \nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"JunkAfterHeaderIgnored", "[COMM]junk\nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"CommentAfterHeaderIgnored", "[COMM] ; note\nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"SectionRunsToLastBracket", "[CO]MM]\nPort=COM3\n", "CO]MM", "Port", "COM3"},
        ReadCase{"SectionNameTrimmed", "[  COMM  ]\nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"HeaderWithEqualsOpensSection", "[X]=1\nPort=COM3\n", "X", "Port", "COM3"},
        ReadCase{"BracketWithoutCloseIsNoHeader", "[COMM]\n[Port=COM3\nPort=COM4\n", "COMM", "[Port", "COM3"},
        ReadCase{"BracketWithoutCloseKeepsSection", "[COMM]\n[oops\nPort=COM4\n", "COMM", "Port", "COM4"},
        ReadCase{"KeyBeforeFirstEqualsValueAfter", "[COMM]\nPort=a=b\n", "COMM", "Port", "a=b"},
        ReadCase{"DoubleQuotesRemoved", "[COMM]\nPort=\"  COM3  \"\n", "COMM", "Port", "  COM3  "},
        ReadCase{"SingleQuotesRemoved", "[COMM]\nPort='COM3'\n", "COMM", "Port", "COM3"},
        ReadCase{"OnlyOuterQuotePairRemoved", "[COMM]\nPort=\"a\"b\"\n", "COMM", "Port", "a\"b"},
        ReadCase{"MismatchedQuotesStay", "[COMM]\nPort=\"COM3'\n", "COMM", "Port", "\"COM3'"},
        ReadCase{"LoneQuoteStays", "[COMM]\nPort=\"\n", "COMM", "Port", "\""},
        ReadCase{"SemicolonIsPartOfValue", "[COMM]\nPort=COM3 ; x\n", "COMM", "Port", "COM3 ; x"},
        ReadCase{"HashIsPartOfKey", "[COMM]\n#Port=COM9\nPort=COM3\n", "COMM", "#Port", "COM9"},
        ReadCase{"HashedKeyIsNotTheKey", "[COMM]\n#Port=COM9\nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"SemicolonLineIsNoComment", "[COMM]\n;Port=COM9\n", "COMM", "Port", "<default>"},
        ReadCase{"LineWithoutEqualsIsMissing", "[COMM]\nPort\n", "COMM", "Port", "<default>"},
        ReadCase{"LineWithoutEqualsHidesLaterLines", "[COMM]\nPort\nPort=COM3\n", "COMM", "Port",
                 "<default>"},
        ReadCase{"SectionNameCaseIgnored", "[comm]\nPort=COM3\n", "COMM", "Port", "COM3"},
        ReadCase{"KeyNameCaseIgnored", "[COMM]\nPORT=COM3\n", "COMM", "port", "COM3"},
        ReadCase{"OnlyAsciiCaseFolded", "[COMM]\nP\xC3\x96rt=COM3\n", "COMM", "P\xC3\xB6rt", "<default>"},
        ReadCase{"RequestedNamesTrimmed", "[COMM]\nPort=COM3\n", " COMM\t", " Port ", "COM3"},
        ReadCase{"OnlyFirstSectionSearched", "[COMM]\nBaud=1\n[COMM]\nPort=COM3\n", "COMM", "Port",
                 "<default>"},
        ReadCase{"FirstEntryWins", "[COMM]\nPort=COM3\nport=COM4\n", "COMM", "Port", "COM3"},
        ReadCase{"OtherSectionsNotSearched", "[A]\nPort=COM7\n[COMM]\nBaud=1\n[B]\nPort=COM8\n", "COMM",
                 "Port", "<default>"},
        ReadCase{"EntriesBeforeAnySectionIgnored", "Port=COM7\n[COMM]\n", "COMM", "Port", "<default>"},
        ReadCase{"EmptyValueIsFound", "[COMM]\nPort=\n", "COMM", "Port", ""},
        ReadCase{"BlankValueIsFoundEmpty", "[COMM]\nPort=   \n", "COMM", "Port", ""},
        ReadCase{"AbsentSection", "[OTHER]\nPort=COM3\n", "COMM", "Port", "<default>"},
        ReadCase{"EmptyContent", "", "COMM", "Port", "<default>"},
        ReadCase{"BinaryJunkAround", "\x01\x02\xFF\n[COMM]\n\x7F\x80=\x01\nPort=COM3\n\xFE\xFE"s, "COMM",
                 "Port", "COM3"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string{info.param.name}; });

struct DefaultCase {
    const char* name;
    std::string def;
    std::string expected;
};

// Failure messages show the row by its name.
void PrintTo(const DefaultCase& row, std::ostream* out) {
    *out << row.name;
}

class ProfileDefaultValue : public testing::TestWithParam<DefaultCase> {};

TEST_P(ProfileDefaultValue, IsCleanedUpAsTheWindowsReadDoes) {
    EXPECT_EQ(profileDefault(GetParam().def), GetParam().expected);
    EXPECT_EQ(readProfileValue("", "COMM", "Port", GetParam().def), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, ProfileDefaultValue,
                         testing::Values(DefaultCase{"Plain", "COM1", "COM1"},
                                         DefaultCase{"TrailingBlanksRemoved", "COM1 \t ", "COM1"},
                                         DefaultCase{"LeadingBlanksKept", "  COM1", "  COM1"},
                                         DefaultCase{"QuotesRemoved", "\"COM1\" ", "COM1"},
                                         DefaultCase{"SingleQuotesRemoved", "'COM1'", "COM1"},
                                         DefaultCase{"LoneQuoteKept", "\"", "\""},
                                         DefaultCase{"Empty", "", ""}),
                         [](const testing::TestParamInfo<DefaultCase>& info) {
                             return std::string{info.param.name};
                         });

TEST(ProfileRead, LargeBinaryContentIsScanned) {
    // Five megabytes of every byte value before the section: the scan must get through it and still find the
    // key.
    std::string content;
    for (int i = 0; i < 5 * 1024 * 1024; ++i) {
        content += static_cast<char>(i * 7 % 256);
    }
    content += "\n[COMM]\nPort=COM3\n";
    EXPECT_EQ(readProfileValue(content, "COMM", "Port", "x"), "COM3");
}

} // namespace
