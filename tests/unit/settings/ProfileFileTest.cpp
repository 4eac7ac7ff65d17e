// The settings file on disk: creation, in-place edits, refusals and encodings (odd paths: PathFaultTest).
#include "settings/ProfileFile.h"

#include "Files.h"
#include "TempDir.h"
#include "settings/Profile.h"
#include "settings/ProfileUpdate.h"

#include <clocale>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

struct stat StatOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

// Pushes the file's times into the past so that any rewrite shows in the modification time.
void Backdate(const std::string& path) {
    const timespec times[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

int FileCount(const std::string& directory) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
        ++count;
    }
    return count;
}

class ProfileFile : public testing::Test {
protected:
    TempDir m_dir;
    std::string m_ini = m_dir.file("Option.ini");
};

TEST_F(ProfileFile, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1", m_ini), "COM1");
    EXPECT_EQ(IniReadInt("COMM", "Baud", 2, m_ini), 2);
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM3", m_ini));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\r\nPort=COM3\r\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1", m_ini), "COM3");
}

TEST_F(ProfileFile, NewFileTakesModeFromUmask) {
    const mode_t old = ::umask(027);
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM3", m_ini));
    ::umask(old);
    EXPECT_EQ(StatOf(m_ini).st_mode & 07777, 0640u);
}

TEST_F(ProfileFile, EditKeepsEveryOtherByteAndThePermissions) {
    const std::string before = "; settings\n\n[OTHER]\nPort = keep\n[COMM]\n  Port  =  COM1  \r\nBaud=2\n\n";
    WriteBytes(m_ini, before);
    ASSERT_EQ(::chmod(m_ini.c_str(), 0604), 0);
    EXPECT_TRUE(IniWriteString("COMM", "Port", "\\\\.\\COM12", m_ini));
    EXPECT_TRUE(IniWriteInt("COMM", "IP1", 10, m_ini));
    EXPECT_EQ(
        ReadBytes(m_ini),
        "; settings\n\n[OTHER]\nPort = keep\n[COMM]\n  Port  =  \\\\.\\COM12  \r\nBaud=2\nIP1=10\r\n\n");
    EXPECT_EQ(StatOf(m_ini).st_mode & 07777, 0604u);
    EXPECT_EQ(FileCount(m_dir.path()), 1) << "a temporary file was left behind";
}

TEST_F(ProfileFile, WritingTheHeldValueLeavesTheFileUntouched) {
    WriteBytes(m_ini, "[COMM]\nPort=COM1\nBaud=2\n");
    Backdate(m_ini);
    const struct stat before = StatOf(m_ini);
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM1", m_ini));
    EXPECT_TRUE(IniWriteInt("COMM", "Baud", 2, m_ini));
    const struct stat after = StatOf(m_ini);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(ProfileFile, LineBreaksAndNulAreRefusedAndNothingIsWritten) {
    WriteBytes(m_ini, "[COMM]\nPort=COM1\n");
    EXPECT_FALSE(IniWriteString("COMM", "Port", "COM2\r\n[EVIL]", m_ini));
    EXPECT_FALSE(IniWriteString("COMM", "Port", "a\nb", m_ini));
    EXPECT_FALSE(IniWriteString("COMM", "Port", "a\0b"s, m_ini));
    EXPECT_FALSE(IniWriteString("CO\rMM", "Port", "x", m_ini));
    EXPECT_FALSE(IniWriteString("COMM", "Po\nrt", "x", m_ini));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\nPort=COM1\n");
    const std::string fresh = m_dir.file("fresh.ini");
    EXPECT_FALSE(IniWriteString("COMM", "Port", "a\nb", fresh));
    EXPECT_EQ(ReadBytes(fresh), "<absent>");
}

class Utf16File : public ProfileFile {
protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    static std::string Utf16(const std::string& ascii, bool littleEndian) {
        std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
        for (const char c : ascii) {
            bytes += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
        }
        return bytes;
    }
};

TEST_F(Utf16File, LittleEndianIsReadAndWrittenBackInItsEncoding) {
    // "Port=CÖM3" with the Ö as UTF-16 0x00D6, which reads back as UTF-8 C3 96 in this locale.
    WriteBytes(m_ini,
               Utf16("[COMM]\r\nBaud=5\r\nPort=C", true) + "\xD6\x00"s + Utf16("M3\r\n", true).substr(2));
    EXPECT_EQ(IniReadInt("COMM", "Baud", 2, m_ini), 5);
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "C\xC3\x96M3");
    EXPECT_TRUE(IniWriteInt("COMM", "Baud", 6, m_ini));
    EXPECT_EQ(ReadBytes(m_ini),
              Utf16("[COMM]\r\nBaud=6\r\nPort=C", true) + "\xD6\x00"s + Utf16("M3\r\n", true).substr(2));
}

TEST_F(Utf16File, TextTheCodePageCannotHoldIsNotRewritten) {
    // In the plain C locale the Ö has no 8-bit form: rewriting would turn it into "?", so nothing is written.
    std::setlocale(LC_ALL, "C");
    const std::string bytes = Utf16("[COMM]\r\nPort=C", true) + "\xD6\x00"s + Utf16("M3\r\n", true).substr(2);
    WriteBytes(m_ini, bytes);
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "C?M3");
    EXPECT_FALSE(IniWriteInt("COMM", "Baud", 6, m_ini));
    EXPECT_TRUE(ReadBytes(m_ini) == bytes);
}

TEST_F(Utf16File, BigEndianIsRead) {
    WriteBytes(m_ini, Utf16("[COMM]\nPort=COM4\n", false));
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "COM4");
    EXPECT_TRUE(IniWriteString("COMM", "IP1", "1", m_ini));
    EXPECT_EQ(ReadBytes(m_ini), Utf16("[COMM]\nPort=COM4\nIP1=1\r\n", false));
}

// Storing several values at once ends in the very bytes that storing them one by one gives, with the same
// verdict, but in one replacement of the file.
using Entries = std::vector<std::pair<std::string, std::string>>;

struct BatchCase {
    const char* name;
    const char* before; // nullptr: no file yet
    Entries entries;
    bool stored;
};

// Several values of section COMM through one update, as the window stores its settings.
bool StoreTogether(const std::string& path, const Entries& entries) {
    ProfileUpdate update(path);
    for (const auto& [key, value] : entries) {
        IniWriteString(update, "COMM", key, value);
    }
    return update.commit();
}

class StoreSeveral : public testing::TestWithParam<BatchCase> {
protected:
    TempDir m_dir;
};

TEST_P(StoreSeveral, EndsAsStoringEachInTurn) {
    const BatchCase& param = GetParam();
    const std::string together = m_dir.file("together.ini");
    const std::string oneByOne = m_dir.file("one-by-one.ini");
    if (param.before != nullptr) {
        WriteBytes(together, param.before);
        WriteBytes(oneByOne, param.before);
    }
    bool eachStored = true;
    for (const auto& [key, value] : param.entries) {
        eachStored = IniWriteString("COMM", key, value, oneByOne) && eachStored;
    }
    EXPECT_EQ(StoreTogether(together, param.entries), param.stored);
    EXPECT_EQ(eachStored, param.stored);
    EXPECT_EQ(ReadBytes(together), ReadBytes(oneByOne));
    EXPECT_EQ(FileCount(m_dir.path()), param.before != nullptr || !param.entries.empty() ? 2 : 0);
}

const Entries kSix{{"Port", "COM3"}, {"Baud", "6"}, {"IP1", "10"}, {"IP2", "0"}, {"IP3", "0"}, {"IP4", "1"}};

INSTANTIATE_TEST_SUITE_P(
    ProfileFile, StoreSeveral,
    testing::Values(
        BatchCase{"NoFileYet", nullptr, kSix, true},
        BatchCase{"SomeKeysThereOthersNot", "; mine\n[COMM]\nIP4=10\nPort=COM1\n[Other]\nx=1\n", kSix, true},
        BatchCase{"SectionMissing", "[Other]\r\nx=1", kSix, true},
        BatchCase{
            "AllAlreadyHeld", "[COMM]\r\nPort=COM3\r\nBaud=6\r\n", {{"Port", "COM3"}, {"Baud", "6"}}, true},
        BatchCase{"SameKeyTwiceLastWins", "[COMM]\nPort=COM1\n", {{"Port", "COM2"}, {"port", "COM9"}}, true},
        BatchCase{"LineBreakSkippedOthersStored",
                  "[COMM]\nPort=COM1\n",
                  {{"Port", "COM2\r\n[EVIL]"}, {"Baud", "4"}},
                  false},
        BatchCase{"NothingStorable", "[COMM]\nPort=COM1\n", {{"Port", "a\nb"}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileFile, StoringSeveralInAReadOnlyFileChangesNothing) {
    WriteBytes(m_ini, "[COMM]\nPort=COM1\n");
    ASSERT_EQ(::chmod(m_ini.c_str(), 0444), 0);
    EXPECT_FALSE(StoreTogether(m_ini, kSix));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\nPort=COM1\n");
}

} // namespace
