// The writing rules of the profile format: where a value goes and that every other byte stays as it was.
#include "settings/IniFile.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

struct WriteCase {
    const char* name;
    std::string before;
    std::string section;
    std::string key;
    std::string value;
    std::string after;
};

// Failure messages show the row by its name.
void PrintTo(const WriteCase& row, std::ostream* out) {
    *out << row.name;
}

class ProfileWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ChangesOnlyWhatTheValueNeeds) {
    const WriteCase& c = GetParam();
    const std::string after = writeProfileValue(c.before, c.section, c.key, c.value);
    EXPECT_EQ(after, c.after);
    EXPECT_EQ(readProfileValue(after, c.section, c.key, "<default>"), c.value);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileWrite,
    testing::Values(
        WriteCase{"EmptyFileGetsSectionAndKey", "", "COMM", "Port", "COM1", "[COMM]\r\nPort=COM1\r\n"},
        WriteCase{"NewKeyAfterLastEntry", "[COMM]\r\nPort=COM1\r\n", "COMM", "Baud", "2",
                  "[COMM]\r\nPort=COM1\r\nBaud=2\r\n"},
        WriteCase{"NewKeyBeforeBlankLinesAndNextSection", "[COMM]\nPort=COM1\n\n \n[NEXT]\nA=1\n", "COMM",
                  "Baud", "2", "[COMM]\nPort=COM1\nBaud=2\r\n\n \n[NEXT]\nA=1\n"},
        WriteCase{"CommentLineCountsAsEntry", "[COMM]\nPort=COM1\n; note\n\n[NEXT]\n", "COMM", "Baud", "2",
                  "[COMM]\nPort=COM1\n; note\nBaud=2\r\n\n[NEXT]\n"},
        WriteCase{"NewKeyInEmptySection", "[COMM]\n\n[NEXT]\n", "COMM", "Port", "COM1",
                  "[COMM]\nPort=COM1\r\n\n[NEXT]\n"},
        WriteCase{"NewKeyAfterUnterminatedLastLine", "[COMM]\nPort=COM1", "COMM", "Baud", "2",
                  "[COMM]\nPort=COM1\r\nBaud=2\r\n"},
        WriteCase{"NewKeyAfterUnterminatedHeader", "[COMM]", "COMM", "Baud", "2", "[COMM]\r\nBaud=2\r\n"},
        WriteCase{"NewSectionAppendedWithoutBlankLine", "[A]\nX=1\n", "COMM", "Port", "COM1",
                  "[A]\nX=1\n[COMM]\r\nPort=COM1\r\n"},
        WriteCase{"NewSectionAfterMissingLineEnd", "[A]\nX=1", "COMM", "Port", "COM1",
                  "[A]\nX=1\r\n[COMM]\r\nPort=COM1\r\n"},
        WriteCase{"NewSectionAfterCrOnlyEnd", "[A]\rX=1\r", "COMM", "Port", "COM1",
                  "[A]\rX=1\r[COMM]\r\nPort=COM1\r\n"},
        WriteCase{"Utf8MarkOnlyFile", "\xEF\xBB\xBF", "COMM", "Port", "COM1",
                  "\xEF\xBB\xBF[COMM]\r\nPort=COM1\r\n"},
        WriteCase{"Utf8MarkKept", "\xEF\xBB\xBF[COMM]\r\nPort=COM1\r\n", "COMM", "Port", "COM2",
                  "\xEF\xBB\xBF[COMM]\r\nPort=COM2\r\n"},
        WriteCase{"ReplacedInPlaceKeepingLfAndSpacing", "; top\n[COMM]\n  port  =  COM1  \nBaud=2\n", "COMM",
                  "Port", "COM12", "; top\n[COMM]\n  port  =  COM12  \nBaud=2\n"},
        WriteCase{"ReplacedInPlaceKeepingKeySpelling", "[comm]\r\nPORT=COM1\r\n", "COMM", "Port", "COM3",
                  "[comm]\r\nPORT=COM3\r\n"},
        WriteCase{"QuotedValueReplacedWhole", "[COMM]\nPort=\"COM1\"\n", "COMM", "Port", "COM3",
                  "[COMM]\nPort=COM3\n"},
        WriteCase{"EmptyValueFilled", "[COMM]\nPort=\nBaud=2\n", "COMM", "Port", "COM3",
                  "[COMM]\nPort=COM3\nBaud=2\n"},
        WriteCase{"ValueEmptied", "[COMM]\nPort=COM1\n", "COMM", "Port", "", "[COMM]\nPort=\n"},
        WriteCase{"KeyWithoutEqualsGetsValue", "[COMM]\n  Port  \nPort=COM9\n", "COMM", "Port", "COM3",
                  "[COMM]\n  Port=COM3  \nPort=COM9\n"},
        WriteCase{"FirstOfDuplicateKeysReplaced", "[COMM]\nPort=COM1\nPort=COM2\n", "COMM", "Port", "COM3",
                  "[COMM]\nPort=COM3\nPort=COM2\n"},
        WriteCase{"OnlyFirstSectionOfNameUsed", "[COMM]\nBaud=1\n[X]\n[COMM]\nPort=COM2\n", "COMM", "Port",
                  "COM3", "[COMM]\nBaud=1\nPort=COM3\r\n[X]\n[COMM]\nPort=COM2\n"},
        WriteCase{"OtherSectionsUntouched", "[A]\nPort=1\n[COMM]\nPort=COM1\n[B]\nPort=2\n", "COMM", "Port",
                  "X", "[A]\nPort=1\n[COMM]\nPort=X\n[B]\nPort=2\n"},
        WriteCase{"BytesAfterNulKept", "[COMM]\nPort=COM1\0tail\n"s, "COMM", "Port", "COM2",
                  "[COMM]\nPort=COM2\0tail\n"s},
        WriteCase{"RequestedNamesTrimmed", "", " COMM ", " Port ", "COM1", "[COMM]\r\nPort=COM1\r\n"},
        WriteCase{"ValueStoredWithoutEscaping", "", "COMM", "Port", "a\\tb\"", "[COMM]\r\nPort=a\\tb\"\r\n"},
        WriteCase{"SameValueLeavesContentAlone", "[COMM]\n Port = COM1 \n", "COMM", "Port", "COM1",
                  "[COMM]\n Port = COM1 \n"},
        WriteCase{"SameQuotedValueLeavesContentAlone", "[COMM]\nPort='COM1'\n", "COMM", "Port", "COM1",
                  "[COMM]\nPort='COM1'\n"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string{info.param.name}; });

TEST(ProfileWrite, FirstRunSaveProducesExactBytes) {
    std::string content;
    for (const auto& [key, value] : {std::pair{"Port", "COM1"},
                                     {"Baud", "2"},
                                     {"IP1", "192"},
                                     {"IP2", "168"},
                                     {"IP3", "2"},
                                     {"IP4", "10"}}) {
        content = writeProfileValue(content, "COMM", key, value);
    }
    EXPECT_EQ(content, "[COMM]\r\nPort=COM1\r\nBaud=2\r\nIP1=192\r\nIP2=168\r\nIP3=2\r\nIP4=10\r\n");
}

struct StorableCase {
    const char* name;
    std::string section;
    std::string key;
    std::string value;
    bool storable;
};

// Failure messages show the row by its name.
void PrintTo(const StorableCase& row, std::ostream* out) {
    *out << row.name;
}

class ProfileStorable : public testing::TestWithParam<StorableCase> {};

TEST_P(ProfileStorable, RefusesWhatWouldBreakTheLineStructure) {
    const StorableCase& c = GetParam();
    EXPECT_EQ(isStorableProfileEntry(c.section, c.key, c.value), c.storable);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileStorable,
    testing::Values(StorableCase{"Plain", "COMM", "Port", "COM1", true},
                    StorableCase{"EmptyValue", "COMM", "Port", "", true},
                    StorableCase{"BackslashesAndQuotes", "COMM", "Port", "\\\\.\\COM12 \"x\"", true},
                    StorableCase{"LineFeedInValue", "COMM", "Port", "a\nb", false},
                    StorableCase{"CarriageReturnInValue", "COMM", "Port", "a\rb", false},
                    StorableCase{"NulInValue", "COMM", "Port", std::string("a\0b", 3), false},
                    StorableCase{"LineFeedInSection", "CO\nMM", "Port", "x", false},
                    StorableCase{"NulInSection", std::string("CO\0MM", 5), "Port", "x", false},
                    StorableCase{"CarriageReturnInKey", "COMM", "Po\rrt", "x", false},
                    StorableCase{"InjectedSectionInValue", "COMM", "Port", "x\r\n[EVIL]", false},
                    StorableCase{"EmptyKey", "COMM", "  ", "x", false},
                    StorableCase{"EqualsInKey", "COMM", "a=b", "x", false},
                    StorableCase{"KeyThatReadsAsHeader", "COMM", "[X]", "x", false}),
    [](const testing::TestParamInfo<StorableCase>& info) { return std::string{info.param.name}; });

} // namespace
