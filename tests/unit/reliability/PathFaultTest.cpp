// The settings path pointing somewhere odd: reading never blocks or fails, saving either works completely or
// leaves everything as it was.
#include "Child.h"
#include "Files.h"
#include "TempDir.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"
#include "settings/ProfileFile.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

const std::string kStored = "[COMM]\r\nPort=COM7\r\nBaud=5\r\n";

struct PathCase {
    const char* name;
    // Prepares the folder and returns the settings path to use.
    std::function<std::string(const TempDir&)> setUp;
    bool readsStored; // whether the read finds kStored's values (else the defaults)
    bool saveWorks;
    // A folder that takes no new files only stops another user: as root, the folder goes to nobody and the
    // read and save run as nobody.
    bool asOtherUser;
    // What must hold afterwards, beyond the save's outcome; inode is the settings path's before the save.
    std::function<void(const TempDir&, ino_t inode)> check;
    // Non-zero: as root, the read and save run as nobody with this group besides its own.
    gid_t memberOf = 0;
};

struct stat StatOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}

bool IsLink(const std::string& path) {
    return S_ISLNK(StatOf(path).st_mode);
}

// A group nobody is not in until a row makes it a member.
constexpr gid_t kSharedGroup = 4242;

// Hands the folder and the file in it to owner:kSharedGroup, writable by the group, as a shared folder is.
std::string ShareWithGroup(const TempDir& dir, uid_t owner) {
    WriteBytes(dir.file("Option.ini"), kStored);
    for (const auto& [path, mode] : {std::pair{dir.path(), 0775}, std::pair{dir.file("Option.ini"), 0664}}) {
        EXPECT_EQ(::chown(path.c_str(), owner, kSharedGroup) | ::chmod(path.c_str(), mode), 0) << path;
    }
    return dir.file("Option.ini");
}

void ExpectShared(const TempDir& dir, uid_t owner) {
    const struct stat after = StatOf(dir.file("Option.ini"));
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, kSharedGroup);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
}

// Hands the folder and everything in it to nobody.
void GiveToNobody(const std::string& folder) {
    ASSERT_EQ(::lchown(folder.c_str(), NobodyUid(), NobodyGid()), 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        ASSERT_EQ(::lchown(entry.path().c_str(), NobodyUid(), NobodyGid()), 0) << entry.path();
    }
}

std::vector<PathCase> PathCases() {
    return {
        {"Directory",
         [](const TempDir& dir) {
             ::mkdir(dir.file("Option.ini").c_str(), 0755);
             return dir.file("Option.ini");
         },
         false, false, false,
         [](const TempDir& dir, ino_t) { EXPECT_TRUE(S_ISDIR(StatOf(dir.file("Option.ini")).st_mode)); }},
        {"Fifo",
         [](const TempDir& dir) {
             ::mkfifo(dir.file("Option.ini").c_str(), 0644);
             return dir.file("Option.ini");
         },
         false, false, false,
         [](const TempDir& dir, ino_t) { EXPECT_TRUE(S_ISFIFO(StatOf(dir.file("Option.ini")).st_mode)); }},
        // Read as a file, /dev/zero would never end and exhaust memory.
        {"DeviceThatNeverEnds", [](const TempDir&) { return std::string("/dev/zero"); }, false, false, false,
         [](const TempDir&, ino_t) { EXPECT_TRUE(TempFilesIn("/dev").empty()); }},
        {"DanglingLink",
         [](const TempDir& dir) {
             ::symlink("Target.ini", dir.file("Option.ini").c_str());
             return dir.file("Option.ini");
         },
         false, true, false,
         [](const TempDir& dir, ino_t) {
             EXPECT_TRUE(IsLink(dir.file("Option.ini")));
             EXPECT_TRUE(ReadBytes(dir.file("Target.ini")).starts_with("[COMM]\r\nPort=COM12\r\n"));
         }},
        // A link to a link, the last one relative, into another folder.
        {"LinksToAFileInAnotherFolder",
         [](const TempDir& dir) {
             ::mkdir(dir.file("elsewhere").c_str(), 0755);
             WriteBytes(dir.file("elsewhere/Real.ini"), "; kept\r\n" + kStored);
             ::symlink("elsewhere/Real.ini", dir.file("Option.ini").c_str());
             ::symlink(dir.file("Option.ini").c_str(), dir.file("Second.ini").c_str());
             return dir.file("Second.ini");
         },
         true, true, false,
         [](const TempDir& dir, ino_t) {
             EXPECT_TRUE(IsLink(dir.file("Option.ini")));
             EXPECT_TRUE(IsLink(dir.file("Second.ini")));
             const std::string real = ReadBytes(dir.file("elsewhere/Real.ini"));
             EXPECT_TRUE(real.starts_with("; kept\r\n[COMM]\r\nPort=COM12\r\n")) << real;
             EXPECT_TRUE(TempFilesIn(dir.file("elsewhere")).empty());
         }},
        {"LinkLoop",
         [](const TempDir& dir) {
             ::symlink("Option.ini", dir.file("Option.ini").c_str());
             return dir.file("Option.ini");
         },
         false, false, false, [](const TempDir& dir, ino_t) { EXPECT_TRUE(IsLink(dir.file("Option.ini"))); }},
        {"ReadOnlyFile",
         [](const TempDir& dir) {
             WriteBytes(dir.file("Option.ini"), kStored);
             ::chmod(dir.file("Option.ini").c_str(), 0444);
             return dir.file("Option.ini");
         },
         true, false, false,
         [](const TempDir& dir, ino_t) {
             EXPECT_EQ(ReadBytes(dir.file("Option.ini")), kStored);
             EXPECT_EQ(StatOf(dir.file("Option.ini")).st_mode & 07777, 0444u);
         }},
        // A writable file in a folder that takes no new files is rewritten where it is.
        {"ReadOnlyDirectory",
         [](const TempDir& dir) {
             ::mkdir(dir.file("locked").c_str(), 0755);
             WriteBytes(dir.file("locked/Option.ini"), "; kept\r\n" + kStored);
             ::chmod(dir.file("locked").c_str(), 0555);
             return dir.file("locked/Option.ini");
         },
         true, true, true,
         [](const TempDir& dir, ino_t inode) {
             EXPECT_EQ(StatOf(dir.file("locked/Option.ini")).st_ino, inode) << "not rewritten in place";
             const std::string after = ReadBytes(dir.file("locked/Option.ini"));
             EXPECT_TRUE(after.starts_with("; kept\r\n[COMM]\r\nPort=COM12\r\n")) << after;
             EXPECT_TRUE(TempFilesIn(dir.file("locked")).empty());
         }},
        {"ReadOnlyDirectoryWithoutFile",
         [](const TempDir& dir) {
             ::mkdir(dir.file("locked").c_str(), 0555);
             return dir.file("locked/Option.ini");
         },
         false, false, true,
         [](const TempDir& dir, ino_t) {
             EXPECT_EQ(ReadBytes(dir.file("locked/Option.ini")), "<absent>");
             EXPECT_TRUE(TempFilesIn(dir.file("locked")).empty());
         }},
        // Edited by a member of the file's group: the group may still write it afterwards.
        {"GroupFileOfAnotherOwner", [](const TempDir& dir) { return ShareWithGroup(dir, 0); }, true, true,
         false, [](const TempDir& dir, ino_t) { ExpectShared(dir, 0); }, kSharedGroup},
        {"GroupFileOfTheEditor", [](const TempDir& dir) { return ShareWithGroup(dir, NobodyUid()); }, true,
         true, false, [](const TempDir& dir, ino_t) { ExpectShared(dir, NobodyUid()); }, kSharedGroup},
        // A sparse file past the cap of profile files: neither read nor rewritten.
        {"HugeFile",
         [](const TempDir& dir) {
             WriteBytes(dir.file("Option.ini"), kStored);
             EXPECT_EQ(::truncate(dir.file("Option.ini").c_str(), kLargestProfileFile + 1), 0);
             return dir.file("Option.ini");
         },
         false, false, false,
         [](const TempDir& dir, ino_t) {
             EXPECT_EQ(StatOf(dir.file("Option.ini")).st_size, kLargestProfileFile + 1);
         }},
        {"MissingDirectory", [](const TempDir& dir) { return dir.file("gone/Option.ini"); }, false, false,
         false, [](const TempDir& dir, ino_t) { EXPECT_FALSE(std::filesystem::exists(dir.file("gone"))); }},
    };
}

class PathFault : public testing::TestWithParam<PathCase> {};

TEST_P(PathFault, ReadsWithoutBlockingAndSavesWhollyOrNotAtAll) {
    const PathCase& path = GetParam();
    if (path.memberOf != 0 && !CanBecomeNobody()) {
        GTEST_SKIP() << "only root can hand a file to a group and make a member of it";
    }
    const TempDir dir;
    g_strIniPath = path.setUp(dir);
    const ino_t inode = StatOf(g_strIniPath).st_ino;
    const bool otherUser = path.asOtherUser && CanBecomeNobody();
    if (otherUser) {
        GiveToNobody(dir.path());
    }

    // Start-up's read and close's save, in a child with a bound: a FIFO or device must never block either.
    CommSettings saved;
    saved.port = "COM12";
    saved.baudIndex = 6;
    const ChildResult run = RunInChild(
        [&] {
            if (otherUser && !BecomeNobody()) {
                return 3;
            }
            if (path.memberOf != 0 && (::setgroups(1, &path.memberOf) != 0 || ::setgid(NobodyGid()) != 0 ||
                                       ::setuid(NobodyUid()) != 0)) {
                return 3;
            }
            if (loadCommSettings().port != (path.readsStored ? "COM7" : "COM1")) {
                return 1;
            }
            return saveCommSettings(saved) == path.saveWorks ? 0 : 2;
        },
        milliseconds(10000));
    ASSERT_FALSE(run.timedOut) << "blocked";
    ASSERT_NE(run.exitCode, 3) << "could not become nobody";
    ASSERT_NE(run.exitCode, 1) << "read the wrong values";
    ASSERT_EQ(run.exitCode, 0) << "crashed, or the save said it " << (path.saveWorks ? "failed" : "worked");

    const CommSettings after = loadCommSettings();
    EXPECT_EQ(after.port, path.saveWorks ? "COM12" : (path.readsStored ? "COM7" : "COM1"));
    EXPECT_EQ(after.baudIndex, path.saveWorks ? 6 : (path.readsStored ? 5 : 2));
    EXPECT_TRUE(TempFilesIn(dir.path()).empty());
    path.check(dir, inode);
}

INSTANTIATE_TEST_SUITE_P(Reliability, PathFault, testing::ValuesIn(PathCases()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
