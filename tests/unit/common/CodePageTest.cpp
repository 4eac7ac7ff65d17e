// Character stepping in each supported code page: text in its charset, and edge bytes with the code page
// given.
#include "common/CodePage.h"

#include "TempDir.h"
#include "common/CharsetConverter.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
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
    testing::Values(WalkCase{"GbkHighestLeadByte", CodePage::Gbk, "\xFE\x5C\xFF\x5C", {2, 1, 1}},
                    WalkCase{"GbkSecondBackslashIsReal", CodePage::Gbk, "\x95\x95\x5C", {2, 1}},
                    WalkCase{"GbkLeadTakesDot", CodePage::Gbk, "name\x81.exe", {1, 1, 1, 1, 2, 1, 1, 1}},
                    WalkCase{"GbkLeadTakesAnyByte", CodePage::Gbk, std::string("\x81\0a", 3), {2, 1}},
                    WalkCase{"Gb18030CutFourByteForm", CodePage::Gbk, "\x81\x30\x81", {2, 1}},
                    WalkCase{"ShiftJisUpperLeadRange", CodePage::ShiftJis, "\xE0\x5C", {2}},
                    WalkCase{"ShiftJisA0IsNoLead", CodePage::ShiftJis, "\xA0\x5C", {1, 1}},
                    WalkCase{"UhcLeadTakesByte", CodePage::Uhc, "\x81\x5C\\", {2, 1}},
                    WalkCase{"Utf8BrokenSequenceByteWise", CodePage::Utf8, "\xE4\x5Cn", {1, 1, 1}},
                    WalkCase{"Utf8CutSequenceByteWise", CodePage::Utf8, "\xE4\xB8", {1, 1}},
                    WalkCase{"Utf8StrayContinuation", CodePage::Utf8, "\x80\\", {1, 1}}),
    [](const testing::TestParamInfo<WalkCase>& info) { return std::string{info.param.name}; });

struct TextCase {
    const char* charset; // as nl_langinfo(CODESET) names it
    std::string text;    // UTF-8, its first character a multibyte one where the charset has them
};

class EncodedText : public testing::TestWithParam<TextCase> {};

// Text in the charset, stepped in the charset name's code page, comes back whole in one step per character;
// a lead byte the input ends on is a byte alone.
TEST_P(EncodedText, StepsOneCharacterAtATime) {
    const auto& [charset, text] = GetParam();
    const CodePage codePage = codePageFromCharset(charset);
    const std::optional<std::string> encoded = CharsetConverter(charset, "UTF-8").convert(text);
    ASSERT_TRUE(encoded) << charset;
    CharsetConverter toUtf8("UTF-8", charset);
    const std::vector<std::size_t> steps = Walk(*encoded, codePage);
    std::string back;
    for (std::size_t pos = 0, step = 0; step < steps.size(); pos += steps[step++]) {
        back += toUtf8.convert(encoded->substr(pos, steps[step])).value_or("?");
    }
    EXPECT_EQ(back, text);
    const auto isLead = [](char c) { return (c & 0xC0) != 0x80; };
    EXPECT_EQ(steps.size(), static_cast<std::size_t>(std::count_if(text.begin(), text.end(), isLead)));
    EXPECT_EQ(Walk(*encoded + encoded->front(), codePage).back(), 1u);
}

INSTANTIATE_TEST_SUITE_P(CodePages, EncodedText,
                         testing::Values(TextCase{"utf8", "Öl 中\\😀"}, TextCase{"GBK", "昞端口\\"},
                                         TextCase{"GB18030", "端😀€ÿ"}, TextCase{"Big5-HKSCS", "許功蓋\\"},
                                         TextCase{"Shift_JIS", "表ソｱ"}, TextCase{"CP949", "똠방한국어"},
                                         TextCase{"ISO-8859-1", "Größe\\"}),
                         [](const testing::TestParamInfo<TextCase>& info) {
                             std::string name = info.param.charset;
                             std::replace(name.begin(), name.end(), '-', '_');
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
