// The settings file on disk: creation, in-place edits, refusals, links, odd paths and encodings.
#include "settings/ProfileFile.h"

#include "TempDir.h"
#include "settings/Profile.h"

#include <chrono>
#include <clocale>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::string_literals;

constexpr auto kChildDeadline = std::chrono::seconds(20);

// Runs action in a child process; false when it did not finish in time (it is killed then) or failed.
bool RunInChild(const std::function<bool()>& action) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(action() ? 0 : 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

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

TEST_F(ProfileFile, ReadOnlyFileIsRefusedAndUnchanged) {
    WriteBytes(m_ini, "[COMM]\nPort=COM1\n");
    ASSERT_EQ(::chmod(m_ini.c_str(), 0444), 0);
    EXPECT_FALSE(IniWriteString("COMM", "Port", "COM2", m_ini));
    EXPECT_FALSE(IniWriteString("COMM", "Baud", "3", m_ini));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\nPort=COM1\n");
    EXPECT_EQ(StatOf(m_ini).st_mode & 07777, 0444u);
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

TEST_F(ProfileFile, WritesThroughSymbolicLinksToTheirTarget) {
    ::mkdir(m_dir.file("real").c_str(), 0700);
    const std::string target = m_dir.file("real/Option.ini");
    WriteBytes(target, "[COMM]\nPort=COM1\n");
    ASSERT_EQ(::symlink("real/Option.ini", m_ini.c_str()), 0);
    ASSERT_EQ(::symlink(m_ini.c_str(), m_dir.file("second").c_str()), 0);
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM5", m_dir.file("second")));
    EXPECT_TRUE(S_ISLNK(StatOf(m_ini).st_mode));
    EXPECT_TRUE(S_ISLNK(StatOf(m_dir.file("second")).st_mode));
    EXPECT_EQ(ReadBytes(target), "[COMM]\nPort=COM5\n");
    EXPECT_EQ(IniReadString("COMM", "Port", "", m_ini), "COM5");
}

TEST_F(ProfileFile, DanglingLinkCreatesItsTarget) {
    ASSERT_EQ(::symlink("target.ini", m_ini.c_str()), 0);
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM5", m_ini));
    EXPECT_TRUE(S_ISLNK(StatOf(m_ini).st_mode));
    EXPECT_EQ(ReadBytes(m_dir.file("target.ini")), "[COMM]\r\nPort=COM5\r\n");
}

TEST_F(ProfileFile, LinkLoopIsRefused) {
    ASSERT_EQ(::symlink("Option.ini", m_ini.c_str()), 0);
    EXPECT_FALSE(IniWriteString("COMM", "Port", "COM5", m_ini));
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1", m_ini), "COM1");
}

TEST_F(ProfileFile, MissingDirectoryIsRefused) {
    const std::string path = m_dir.file("nowhere/Option.ini");
    EXPECT_FALSE(IniWriteString("COMM", "Port", "COM5", path));
    EXPECT_EQ(ReadBytes(path), "<absent>");
    EXPECT_EQ(IniReadInt("COMM", "Baud", 2, path), 2);
}

TEST_F(ProfileFile, DirectoryPathReadsAsAbsentAndIsNotWritten) {
    ASSERT_EQ(::mkdir(m_ini.c_str(), 0700), 0);
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1", m_ini), "COM1");
    EXPECT_FALSE(IniWriteString("COMM", "Port", "COM5", m_ini));
    EXPECT_TRUE(S_ISDIR(StatOf(m_ini).st_mode));
}

TEST_F(ProfileFile, FifoPathReadsAsAbsentWithoutBlocking) {
    ASSERT_EQ(::mkfifo(m_ini.c_str(), 0600), 0);
    const std::string ini = m_ini;
    EXPECT_TRUE(RunInChild([ini] {
        return IniReadString("COMM", "Port", "COM1", ini) == "COM1" &&
               IniReadInt("COMM", "Baud", 2, ini) == 2 && !IniWriteString("COMM", "Port", "COM5", ini);
    }));
    EXPECT_TRUE(S_ISFIFO(StatOf(m_ini).st_mode));
}

TEST_F(ProfileFile, DevicePathReadsAsAbsentWithoutBlocking) {
    // /dev/zero never ends: read as a file it would exhaust memory rather than return.
    EXPECT_TRUE(RunInChild([] { return IniReadString("COMM", "Port", "COM1", "/dev/zero") == "COM1"; }));
}

TEST_F(ProfileFile, LargeBinaryFileIsRead) {
    std::string bytes(50 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 131) % 251);
    }
    bytes += "\n[COMM]\nPort=COM7\n";
    WriteBytes(m_ini, bytes);
    EXPECT_EQ(IniReadString("COMM", "Port", "COM1", m_ini), "COM7");
    EXPECT_TRUE(IniWriteString("COMM", "Port", "COM8", m_ini));
    bytes.replace(bytes.size() - 5, 4, "COM8");
    EXPECT_TRUE(ReadBytes(m_ini) == bytes);
}

// Locks the directory against new files while the file itself stays writable. Root ignores directory modes,
// so then the directory and file go to "nobody" and the write runs in a child under that user.
class LockedDirectory : public ProfileFile {
protected:
    bool writeAsOwner(const std::function<bool()>& write) {
        if (::geteuid() != 0) {
            return write();
        }
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            ADD_FAILURE() << "no user nobody to lock the directory against";
            return false;
        }
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        EXPECT_EQ(::chown(m_dir.path().c_str(), uid, gid), 0);
        EXPECT_EQ(::chown(m_ini.c_str(), uid, gid), 0);
        return RunInChild([&] { return ::setgid(gid) == 0 && ::setuid(uid) == 0 && write(); });
    }
};

TEST_F(LockedDirectory, WritableFileIsRewrittenInPlace) {
    WriteBytes(m_ini, "; keep\n[COMM]\nPort=COM1\n");
    ASSERT_EQ(::chmod(m_ini.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0555), 0);
    const ino_t inode = StatOf(m_ini).st_ino;
    const std::string ini = m_ini;
    EXPECT_TRUE(writeAsOwner([ini] {
        return IniWriteString("COMM", "Port", "\\\\.\\COM30", ini) &&
               IniWriteString("COMM", "Baud", "6", ini) && IniWriteString("COMM", "Port", "COM2", ini);
    }));
    EXPECT_EQ(ReadBytes(m_ini), "; keep\n[COMM]\nPort=COM2\nBaud=6\r\n");
    EXPECT_EQ(StatOf(m_ini).st_ino, inode);
    EXPECT_EQ(FileCount(m_dir.path()), 1);
}

TEST_F(LockedDirectory, NewFileCannotBeCreated) {
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0555), 0);
    const std::string ini = m_ini;
    if (::geteuid() == 0) {
        // Nothing to hand to nobody yet: the directory alone changes owner.
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(::chown(m_dir.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        EXPECT_TRUE(RunInChild([&] {
            return ::setgid(gid) == 0 && ::setuid(uid) == 0 && !IniWriteString("COMM", "Port", "COM2", ini);
        }));
    } else {
        EXPECT_FALSE(IniWriteString("COMM", "Port", "COM2", ini));
    }
    EXPECT_EQ(ReadBytes(m_ini), "<absent>");
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
    EXPECT_EQ(storeProfileValues(together, "COMM", param.entries), param.stored);
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
    EXPECT_FALSE(storeProfileValues(m_ini, "COMM", kSix));
    EXPECT_EQ(ReadBytes(m_ini), "[COMM]\nPort=COM1\n");
}

} // namespace
