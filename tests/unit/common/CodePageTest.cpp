// Character stepping in each supported code page, with the code page given explicitly.
#include "common/CodePage.h"

#include "TempDir.h"

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace common;

// The lengths of the characters a walk from the start meets.
std::vector<std::size_t> Walk(std::string_view text, CodePage codePage) {
    std::vector<std::size_t> lengths;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = charLength(text, pos, codePage);
        lengths.push_back(length);
        pos += length;
    }
    return lengths;
}

struct WalkCase {
    const char* name;
    CodePage codePage;
    std::string text;
    std::vector<std::size_t> lengths;
};

// Failure messages show the row by its name.
void PrintTo(const WalkCase& row, std::ostream* out) {
    *out << row.name;
}

class CharacterWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(CharacterWalk, StepsWholeCharacters) {
    EXPECT_EQ(Walk(GetParam().text, GetParam().codePage), GetParam().lengths);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, CharacterWalk,
    testing::Values(
        WalkCase{"SingleByteHighBytes", CodePage::SingleByte, "\x95\x5C\xFF", {1, 1, 1}},
        WalkCase{"GbkLeadTakesBackslash", CodePage::Gbk, "\x95\x5C", {2}},
        WalkCase{"GbkHighestLeadByte", CodePage::Gbk, "\xFE\x5C\xFF\x5C", {2, 1, 1}},
        WalkCase{"GbkSecondBackslashIsReal", CodePage::Gbk, "\x95\x95\x5C", {2, 1}},
        WalkCase{"GbkLeadTakesDot", CodePage::Gbk, "name\x81.exe", {1, 1, 1, 1, 2, 1, 1, 1}},
        WalkCase{"GbkLeadTakesAnyByte", CodePage::Gbk, std::string("\x81\0a", 3), {2, 1}},
        WalkCase{"GbkTrailingLeadByteAlone", CodePage::Gbk, "ab\x95", {1, 1, 1}},
        WalkCase{"Gb18030FourByteForm", CodePage::Gbk, "\x81\x30\x81\x30\\", {4, 1}},
        WalkCase{"Gb18030CutFourByteForm", CodePage::Gbk, "\x81\x30\x81", {2, 1}},
        WalkCase{"GbkAsciiSingle", CodePage::Gbk, "a\\", {1, 1}},
        WalkCase{"Big5LeadTakesBackslash", CodePage::Big5, "\xA5\x5C\\", {2, 1}},
        WalkCase{"Big5TrailingLead", CodePage::Big5, "\xA5", {1}},
        WalkCase{"ShiftJisLeadTakesBackslash", CodePage::ShiftJis, "\x95\x5C\\", {2, 1}},
        WalkCase{"ShiftJisUpperLeadRange", CodePage::ShiftJis, "\xE0\x5C", {2}},
        WalkCase{"ShiftJisKatakanaSingle", CodePage::ShiftJis, "\xB1\x5C", {1, 1}},
        WalkCase{"ShiftJisA0IsNoLead", CodePage::ShiftJis, "\xA0\x5C", {1, 1}},
        WalkCase{"UhcLeadTakesByte", CodePage::Uhc, "\x81\x5C\\", {2, 1}},
        WalkCase{"Utf8TwoThreeFour", CodePage::Utf8, "\xC3\x96\xE4\xB8\xAD\xF0\x9F\x98\x80", {2, 3, 4}},
        WalkCase{"Utf8BrokenSequenceByteWise", CodePage::Utf8, "\xE4\x5Cn", {1, 1, 1}},
        WalkCase{"Utf8CutSequenceByteWise", CodePage::Utf8, "\xE4\xB8", {1, 1}},
        WalkCase{"Utf8StrayContinuation", CodePage::Utf8, "\x80\\", {1, 1}}),
    [](const testing::TestParamInfo<WalkCase>& info) { return std::string{info.param.name}; });

struct CharsetCase {
    const char* charset;
    CodePage codePage;
};

// Failure messages show the row by its name.
void PrintTo(const CharsetCase& row, std::ostream* out) {
    *out << row.charset;
}

class CharsetName : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetName, MapsToItsCodePage) {
    EXPECT_EQ(codePageFromCharset(GetParam().charset), GetParam().codePage);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, CharsetName,
    testing::Values(CharsetCase{"UTF-8", CodePage::Utf8}, CharsetCase{"utf8", CodePage::Utf8},
                    CharsetCase{"GBK", CodePage::Gbk}, CharsetCase{"GB18030", CodePage::Gbk},
                    CharsetCase{"GB2312", CodePage::Gbk}, CharsetCase{"BIG5", CodePage::Big5},
                    CharsetCase{"BIG5-HKSCS", CodePage::Big5}, CharsetCase{"SHIFT_JIS", CodePage::ShiftJis},
                    CharsetCase{"CP932", CodePage::ShiftJis}, CharsetCase{"EUC-KR", CodePage::Uhc},
                    CharsetCase{"CP949", CodePage::Uhc}, CharsetCase{"ANSI_X3.4-1968", CodePage::SingleByte},
                    CharsetCase{"ISO-8859-1", CodePage::SingleByte}),
    [](const testing::TestParamInfo<CharsetCase>& info) {
        std::string name;
        for (const char c : std::string{info.param.charset}) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

// ---- Decoding in the locale's encoding: a GBK locale built for the test, since a system may have none.

struct DecodeCase {
    const char* name;
    const char* locale; // built by the test when it is zh_CN.GBK
    std::string bytes;
    std::wstring text;
};

void PrintTo(const DecodeCase& row, std::ostream* out) {
    *out << row.name;
}

class LocaleDecoding : public testing::TestWithParam<DecodeCase> {
protected:
    static void SetUpTestSuite() {
        s_locales = std::make_unique<TempDir>();
        const std::string command =
            "localedef -i zh_CN -f GBK '" + s_locales->file("zh_CN.GBK") + "' >/dev/null 2>&1";
        s_built = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() { s_locales.reset(); }
    void TearDown() override {
        ::unsetenv("LOCPATH");
        std::setlocale(LC_ALL, "C");
    }

    static inline std::unique_ptr<TempDir> s_locales;
    static inline bool s_built = false;
};

TEST_P(LocaleDecoding, DecodesInTheLocalesEncoding) {
    const DecodeCase& row = GetParam();
    if (std::string(row.locale) == "zh_CN.GBK") {
        if (!s_built) {
            GTEST_SKIP() << "localedef could not build zh_CN.GBK (the locales package brings it)";
        }
        ::setenv("LOCPATH", s_locales->path().c_str(), 1);
    }
    ASSERT_NE(std::setlocale(LC_ALL, row.locale), nullptr) << row.locale;
    EXPECT_EQ(decodeWithLocale(row.bytes), row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, LocaleDecoding,
    testing::Values(DecodeCase{"GbkNameIsChinese", "zh_CN.GBK", "\xB6\xCB\xBF\xDA-1.0.0.1",
                               L"\u7AEF\u53E3-1.0.0.1"},
                    DecodeCase{"GbkBackslashTrailByte", "zh_CN.GBK", "\x95\x5C", L"\u661E"},
                    DecodeCase{"GbkBrokenByteLosesOnlyItself", "zh_CN.GBK",
                               "a\xFF"
                               "b",
                               L"a\uFFFDb"},
                    DecodeCase{"GbkCutAtTheEnd", "zh_CN.GBK", "ab\xB6", L"ab\uFFFD"},
                    DecodeCase{"Utf8NameIsChinese", "C.UTF-8", "\xE7\xAB\xAF\xE5\x8F\xA3", L"\u7AEF\u53E3"},
                    DecodeCase{"Utf8ReadsGbkBytesAsBroken", "C.UTF-8",
                               "\xB6\xCB"
                               "x",
                               L"\uFFFD\uFFFDx"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

} // namespace
