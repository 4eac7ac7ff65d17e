// The settings path pointing somewhere odd: reading never blocks or fails, saving either works completely or
// leaves everything as it was.
#include "../settings/TempDir.h"
#include "Child.h"
#include "settings/CommSettings.h"
#include "settings/Profile.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

const std::string kStored = "[COMM]\r\nPort=COM7\r\nBaud=5\r\n";

struct PathCase {
    const char* name;
    // Prepares the directory and returns the settings path to use.
    std::function<std::string(const TempDir&)> setUp;
    bool readsStored; // whether the read finds kStored's values (else the defaults)
    bool saveWorks;
    // What must hold of the directory afterwards, beyond the save's outcome.
    std::function<void(const TempDir&, const std::string&)> check;
};

bool IsLink(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

bool Root() {
    return ::geteuid() == 0;
}

std::vector<PathCase> PathCases() {
    return {
        {"Directory",
         [](const TempDir& dir) {
             ::mkdir(dir.file("Option.ini").c_str(), 0755);
             return dir.file("Option.ini");
         },
         false, false,
         [](const TempDir& dir, const std::string&) {
             EXPECT_TRUE(S_ISDIR(ModeOf(dir.file("Option.ini"))));
         }},
        {"Fifo",
         [](const TempDir& dir) {
             ::mkfifo(dir.file("Option.ini").c_str(), 0644);
             return dir.file("Option.ini");
         },
         false, false,
         [](const TempDir& dir, const std::string&) {
             EXPECT_TRUE(S_ISFIFO(ModeOf(dir.file("Option.ini"))));
         }},
        {"DanglingLink",
         [](const TempDir& dir) {
             ::symlink("Target.ini", dir.file("Option.ini").c_str());
             return dir.file("Option.ini");
         },
         false, true,
         [](const TempDir& dir, const std::string&) {
             EXPECT_TRUE(IsLink(dir.file("Option.ini")));
             EXPECT_NE(ReadBytes(dir.file("Target.ini")).find("Port=COM12"), std::string::npos);
         }},
        {"LinkToAnotherFile",
         [](const TempDir& dir) {
             ::mkdir(dir.file("elsewhere").c_str(), 0755);
             WriteBytes(dir.file("elsewhere/Real.ini"), "; kept\r\n" + kStored);
             ::symlink((dir.path() + "/elsewhere/Real.ini").c_str(), dir.file("Option.ini").c_str());
             return dir.file("Option.ini");
         },
         true, true,
         [](const TempDir& dir, const std::string&) {
             EXPECT_TRUE(IsLink(dir.file("Option.ini")));
             const std::string real = ReadBytes(dir.file("elsewhere/Real.ini"));
             EXPECT_TRUE(real.starts_with("; kept\r\n[COMM]\r\nPort=COM12\r\n")) << real;
             EXPECT_TRUE(TempFilesIn(dir.file("elsewhere")).empty());
         }},
        {"ReadOnlyFile",
         [](const TempDir& dir) {
             WriteBytes(dir.file("Option.ini"), kStored);
             ::chmod(dir.file("Option.ini").c_str(), 0444);
             return dir.file("Option.ini");
         },
         true, false,
         [](const TempDir& dir, const std::string&) {
             EXPECT_EQ(ReadBytes(dir.file("Option.ini")), kStored);
             EXPECT_EQ(ModeOf(dir.file("Option.ini")) & 07777, 0444u);
         }},
        // A writable file in a directory that takes no new files is rewritten where it is (root may create).
        {"ReadOnlyDirectory",
         [](const TempDir& dir) {
             ::mkdir(dir.file("locked").c_str(), 0755);
             WriteBytes(dir.file("locked/Option.ini"), kStored);
             ::chmod(dir.file("locked").c_str(), 0555);
             return dir.file("locked/Option.ini");
         },
         true, true,
         [](const TempDir& dir, const std::string&) {
             EXPECT_TRUE(TempFilesIn(dir.file("locked")).empty());
         }},
        {"ReadOnlyDirectoryWithoutFile",
         [](const TempDir& dir) {
             ::mkdir(dir.file("locked").c_str(), 0555);
             return dir.file("locked/Option.ini");
         },
         false, Root(),
         [](const TempDir& dir, const std::string&) {
             EXPECT_TRUE(TempFilesIn(dir.file("locked")).empty());
         }},
        {"MissingDirectory", [](const TempDir& dir) { return dir.file("gone/Option.ini"); }, false, false,
         [](const TempDir& dir, const std::string&) {
             EXPECT_FALSE(std::filesystem::exists(dir.file("gone")));
         }},
    };
}

class PathFault : public testing::TestWithParam<PathCase> {};

TEST_P(PathFault, ReadsWithoutBlockingAndSavesWhollyOrNotAtAll) {
    const PathCase& path = GetParam();
    const TempDir dir;
    g_strIniPath = path.setUp(dir);

    // Start-up's read and close's save, in a child with a bound: a FIFO or device must never block either.
    const CommSettings saved = [] {
        CommSettings s;
        s.port = "COM12";
        s.baudIndex = 6;
        return s;
    }();
    const ChildResult run = RunInChild(
        [&] {
            const CommSettings loaded = loadCommSettings();
            saveCommSettings(saved);
            return loaded.port == (path.readsStored ? "COM7" : "COM1") ? 0 : 1;
        },
        milliseconds(10000));
    ASSERT_FALSE(run.timedOut) << "blocked";
    ASSERT_EQ(run.exitCode, 0) << "crashed or read the wrong values";

    const CommSettings after = loadCommSettings();
    if (path.saveWorks) {
        EXPECT_EQ(after.port, "COM12");
        EXPECT_EQ(after.baudIndex, 6);
    } else {
        EXPECT_EQ(after.port, path.readsStored ? "COM7" : "COM1");
        EXPECT_FALSE(IniWriteString(kCommSection, "Port", "COM3"));
    }
    EXPECT_TRUE(TempFilesIn(dir.path()).empty());
    path.check(dir, g_strIniPath);
}

INSTANTIATE_TEST_SUITE_P(Reliability, PathFault, testing::ValuesIn(PathCases()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
