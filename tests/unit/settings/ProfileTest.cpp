// The settings operations: unescaping, the 127-byte read limit, integer writes and the g_strIniPath forms.
#include "settings/Profile.h"

#include "Files.h"
#include "TempDir.h"
#include "common/CodePage.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

using common::CodePage;

struct UnescapeCase {
    const char* name;
    CodePage codePage;
    std::string stored;
    std::string expected;
};

// Failure messages show the row by its name.
void PrintTo(const UnescapeCase& row, std::ostream* out) {
    *out << row.name;
}

class Unescape : public testing::TestWithParam<UnescapeCase> {};

TEST_P(Unescape, TurnsEscapePairsIntoCharacters) {
    const UnescapeCase& c = GetParam();
    EXPECT_EQ(UnescapeProfileValue(c.stored, c.codePage), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Unescape,
    testing::Values(
        UnescapeCase{"TabPair", CodePage::SingleByte, "a\\tb", "a\tb"},
        UnescapeCase{"LineFeedPair", CodePage::SingleByte, "a\\nb", "a\nb"},
        UnescapeCase{"CarriageReturnPair", CodePage::SingleByte, "a\\rb", "a\rb"},
        UnescapeCase{"QuotePair", CodePage::SingleByte, "say \\\"hi\\\"", "say \"hi\""},
        UnescapeCase{"DoubledBackslashBeforeN", CodePage::SingleByte, "\\\\n", "\\\n"},
        UnescapeCase{"NoEscapeForBackslash", CodePage::SingleByte, "\\\\", "\\\\"},
        UnescapeCase{"OtherLettersStay", CodePage::SingleByte, "\\x\\N\\T", "\\x\\N\\T"},
        UnescapeCase{"TrailingBackslashStays", CodePage::SingleByte, "COM\\", "COM\\"},
        UnescapeCase{"AllFourInOneText", CodePage::SingleByte, "\\r\\t\\n\\\"", "\r\t\n\""},
        UnescapeCase{"DevicePathUntouched", CodePage::SingleByte, "\\\\.\\COM12", "\\\\.\\COM12"},
        UnescapeCase{"GbkTrailBackslashStartsNothing", CodePage::Gbk, "\x95\x5Cn", "\x95\x5Cn"},
        UnescapeCase{"GbkBackslashAfterWholeCharacter", CodePage::Gbk, "\x95\x95\x5Cn", "\x95\x95\n"},
        UnescapeCase{"Big5TrailBackslash", CodePage::Big5, "\xA5\x5Ct", "\xA5\x5Ct"},
        UnescapeCase{"ShiftJisTrailBackslash", CodePage::ShiftJis, "\x95\x5Cr", "\x95\x5Cr"},
        UnescapeCase{"ShiftJisKatakanaIsSingleByte", CodePage::ShiftJis, "\xB1\\n", "\xB1\n"},
        UnescapeCase{"SingleBytePageEscapesAfterHighByte", CodePage::SingleByte, "\x95\x5Cn", "\x95\n"},
        UnescapeCase{"Utf8StrayByteIsOneCharacter", CodePage::Utf8, "\x95\x5Cn", "\x95\n"}),
    [](const testing::TestParamInfo<UnescapeCase>& info) { return std::string{info.param.name}; });

class SettingsOperations : public testing::Test {
protected:
    TempDir m_dir;
    std::string m_ini = m_dir.file("Option.ini");
};

TEST_F(SettingsOperations, StoredEscapesAreUnescapedOnRead) {
    WriteBytes(m_ini, "[COMM]\nPort=a\\tb\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "a\tb");
}

TEST_F(SettingsOperations, DefaultIsUnescapedToo) {
    EXPECT_EQ(IniReadString("COMM", "Port", "x\\ny", m_ini), "x\ny");
}

TEST_F(SettingsOperations, LongValueIsCutTo127Bytes) {
    std::string value;
    for (int i = 0; i < 200; ++i) {
        value += static_cast<char>('a' + i % 26);
    }
    WriteBytes(m_ini, "[COMM]\nPort=" + value + "\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), value.substr(0, 127));
    EXPECT_EQ(IniReadString("COMM", "Missing", value, m_ini), value.substr(0, 127));
}

TEST_F(SettingsOperations, CutFallsBeforeUnescapingAndSplitsAPair) {
    const std::string value = std::string(126, 'x') + "\\n" + "tail";
    WriteBytes(m_ini, "[COMM]\nPort=" + value + "\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), std::string(126, 'x') + "\\");
}

TEST_F(SettingsOperations, PairEndingAtByte127IsUnescaped) {
    const std::string value = std::string(125, 'x') + "\\n" + "tail";
    WriteBytes(m_ini, "[COMM]\nPort=" + value + "\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), std::string(125, 'x') + "\n");
}

TEST_F(SettingsOperations, WriteIntStoresDecimalText) {
    EXPECT_TRUE(IniWriteInt("COMM", "Baud", -1, m_ini));
    EXPECT_TRUE(IniWriteInt("COMM", "IP1", 2147483647, m_ini));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\r\nBaud=-1\r\nIP1=2147483647\r\n");
    EXPECT_EQ(IniReadInt("COMM", "Baud", 2, m_ini), -1);
    EXPECT_EQ(IniReadInt("COMM", "IP1", 0, m_ini), 2147483647);
}

TEST_F(SettingsOperations, ValueIsStoredWithoutEscaping) {
    EXPECT_TRUE(IniWriteString("COMM", "Port", "a\\tb", m_ini));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\r\nPort=a\\tb\r\n");
}

TEST_F(SettingsOperations, ShortFormsUseTheGlobalPath) {
    g_strIniPath = m_ini;
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1"), "COM1");
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM4"));
    EXPECT_TRUE(IniWriteInt("COMM", "Baud", 5));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\r\nPort=COM4\r\nBaud=5\r\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1"), "COM4");
    EXPECT_EQ(IniReadInt("COMM", "Baud", 2), 5);
    g_strIniPath.clear();
}

TEST_F(SettingsOperations, EveryReadGoesToTheFile) {
    WriteBytes(m_ini, "[COMM]\nPort=COM1\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "COM1");
    WriteBytes(m_ini, "[COMM]\nPort=COM9\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "COM9");
    ::unlink(m_ini.c_str());
    EXPECT_EQ(IniReadString("COMM", "Port", "gone", m_ini), "gone");
}

} // namespace
