// Saving the settings when the disk fills up, when the program is killed mid-save, and when two instances
// save at once: the file is always one complete version, never empty, cut or mixed up.
#include "Child.h"
#include "Files.h"
#include "TempDir.h"
#include "settings/CommSettings.h"
#include "settings/IniFile.h"
#include "settings/Profile.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

constexpr const char* kKeys[] = {"Port", "Baud", "IP1", "IP2", "IP3", "IP4"};

// Other sections around ours, big enough that a save takes a while to write.
std::string Template() {
    std::string text = "; settings\r\n";
    for (int i = 0; i < 800; ++i) {
        text += "Before" + std::to_string(i) + "=" + std::string(60, 'b') + "\r\n";
    }
    text += "[COMM]\r\nPort=COM1\r\nBaud=2\r\nIP1=192\r\nIP2=168\r\nIP3=2\r\nIP4=10\r\n[After]\r\n";
    for (int i = 0; i < 800; ++i) {
        text += "After" + std::to_string(i) + "=" + std::string(60, 'a') + "\r\n";
    }
    return text;
}

struct Values {
    std::array<std::string, 6> byKey;
};

std::optional<Values> ValuesIn(const std::string& content) {
    Values values;
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        auto value = findProfileValue(content, kCommSection, kKeys[i]);
        if (!value) {
            return std::nullopt;
        }
        values.byKey[i] = *value;
    }
    return values;
}

// Whether bytes are exactly the template with some values in our keys: a complete file, nothing cut or
// doubled.
bool IsCompleteVersion(const std::string& templ, const std::string& bytes) {
    const auto values = ValuesIn(bytes);
    if (!values) {
        return false;
    }
    std::string rebuilt = templ;
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        rebuilt = writeProfileValue(rebuilt, kCommSection, kKeys[i], values->byKey[i]);
    }
    return rebuilt == bytes;
}

CommSettings Generation(int i) {
    CommSettings settings;
    settings.port = "COM" + std::to_string(i % 255 + 1);
    settings.baudIndex = i % 7;
    settings.ip = {i % 256, (i / 256) % 256, 7, 9};
    return settings;
}

Values ValuesOf(const CommSettings& settings) {
    return {{settings.port, std::to_string(settings.baudIndex), std::to_string(settings.ip[0]),
             std::to_string(settings.ip[1]), std::to_string(settings.ip[2]), std::to_string(settings.ip[3])}};
}

// Waits at most limit for one byte on fd.
bool AwaitByte(int fd, milliseconds limit) {
    pollfd entry{fd, POLLIN, 0};
    char byte = 0;
    return ::poll(&entry, 1, static_cast<int>(limit.count())) == 1 && ::read(fd, &byte, 1) == 1;
}

struct DiskFullCase {
    const char* name;
    bool oldFileExists;
    bool lockedDirectory;   // forces the rewrite in place (for users other than root)
    long extraBytesAllowed; // the file size limit, relative to the old file's size
};

class DiskFull : public testing::TestWithParam<DiskFullCase> {};

TEST_P(DiskFull, OldFileStaysByteIdentical) {
    const DiskFullCase& fault = GetParam();
    const TempDir dir;
    const std::string folder = dir.file("settings");
    ::mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/Option.ini";
    const std::string old = Template();
    if (fault.oldFileExists) {
        WriteBytes(path, old);
    }
    if (fault.lockedDirectory) {
        ::chmod(folder.c_str(), 0555);
    }
    const long oldSize = fault.oldFileExists ? static_cast<long>(old.size()) : 0;
    const auto limit = static_cast<rlim_t>(std::max(0L, oldSize + fault.extraBytesAllowed));

    const ChildResult run = RunInChild(
        [&] {
            // Past the limit a write fails with EFBIG instead of the signal killing the process.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) {
                return 3;
            }
            return IniWriteString(kCommSection, "Port", std::string(300, 'P'), path) ? 1 : 0;
        },
        milliseconds(10000));
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << "the write over the limit reported success";
    const std::string after = ReadBytes(path);
    EXPECT_TRUE(after == (fault.oldFileExists ? old : std::string("<absent>"))) << after.size() << " bytes";
    EXPECT_TRUE(TempFilesIn(folder).empty());
}

INSTANTIATE_TEST_SUITE_P(Reliability, DiskFull,
                         testing::Values(DiskFullCase{"NoRoomAtAll", true, false, -1L << 30},
                                         DiskFullCase{"RoomForHalf", true, false,
                                                      -static_cast<long>(Template().size() / 2)},
                                         DiskFullCase{"RoomForTheOldSize", true, false, 0},
                                         DiskFullCase{"JustShortOfTheNewSize", true, false, 290},
                                         DiskFullCase{"NewFile", false, false, 0},
                                         DiskFullCase{"InPlaceRewrite", true, true, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

// The template file saved as Option.ini in a fresh folder; the tests save over it.
class TemplateFile : public testing::Test {
protected:
    void SetUp() override {
        g_strIniPath = m_dir.file("Option.ini");
        WriteBytes(g_strIniPath, m_templ);
    }
    const TempDir m_dir;
    const std::string m_templ = Template();
};
class KilledMidSave : public TemplateFile {};
class TwoInstances : public TemplateFile {};
class ConcurrentReader : public TemplateFile {};

// A save loop killed at random moments: whatever moment the kill lands on, the file is a whole version.
TEST_F(KilledMidSave, FileIsAlwaysACompleteVersion) {
    constexpr int kTrials = 200;
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> killAfterMicroseconds(0, 8000);
    int leftoverTempFiles = 0;

    for (int trial = 0; trial < kTrials; ++trial) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        Child saver([&] {
            ::close(ready[0]);
            const char go = 'g';
            static_cast<void>(::write(ready[1], &go, 1));
            for (int i = trial * 1000;; ++i) {
                saveCommSettings(Generation(i));
            }
            return 0;
        });
        ::close(ready[1]);
        ASSERT_TRUE(AwaitByte(ready[0], milliseconds(10000)));
        ::close(ready[0]);
        // The point of the test: a kill at an arbitrary moment of the saving.
        std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicroseconds(random)));
        saver.kill();

        const std::string bytes = ReadBytes(g_strIniPath);
        ASSERT_TRUE(IsCompleteVersion(m_templ, bytes))
            << "trial " << trial << ": " << bytes.size() << " bytes";
        leftoverTempFiles += static_cast<int>(TempFilesIn(m_dir.path()).size());

        // The next successful save leaves no temporary file behind, the killed one's included.
        ASSERT_TRUE(IniWriteInt(kCommSection, "IP3", trial));
        ASSERT_EQ(TempFilesIn(m_dir.path()), std::vector<std::string>{}) << "trial " << trial;
        ASSERT_TRUE(IsCompleteVersion(m_templ, ReadBytes(g_strIniPath)));
    }
    RecordProperty("kills_with_a_temp_file_left", leftoverTempFiles);
    std::printf("%d kills, %d of them left a temporary file behind\n", kTrials, leftoverTempFiles);
}

// Two instances closing at the same moment.
TEST_F(TwoInstances, SavingAtOnceLeavesOneCompleteVersion) {
    constexpr int kRounds = 40;

    for (int round = 0; round < kRounds; ++round) {
        const CommSettings first = Generation(2 * round + 1000);
        const CommSettings second = Generation(2 * round + 1001);
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        const auto instance = [&](const CommSettings& settings) {
            return [&, settings] {
                ::close(start[1]);
                char byte = 0;
                static_cast<void>(::read(start[0], &byte, 1)); // end of file: both go
                saveCommSettings(settings);
                return 0;
            };
        };
        Child a(instance(first));
        Child b(instance(second));
        ::close(start[0]);
        ::close(start[1]);
        EXPECT_EQ(a.wait(milliseconds(10000)).exitCode, 0);
        EXPECT_EQ(b.wait(milliseconds(10000)).exitCode, 0);

        const std::string bytes = ReadBytes(g_strIniPath);
        ASSERT_TRUE(IsCompleteVersion(m_templ, bytes)) << "round " << round;
        // All six values of one instance: the last to save wins whole, nothing of the other is mixed in.
        const Values values = *ValuesIn(bytes);
        EXPECT_TRUE(values.byKey == ValuesOf(first).byKey || values.byKey == ValuesOf(second).byKey)
            << "round " << round << ": Port=" << values.byKey[0] << " Baud=" << values.byKey[1];
        EXPECT_TRUE(TempFilesIn(m_dir.path()).empty());
    }
}

// Another instance starting while one saves: every state of the file it can read holds all six values of one
// save, never the first keys of a new save next to the rest of an old one.
TEST_F(ConcurrentReader, SeesOnlyWholeSaves) {
    constexpr int kGenerations = 150;
    std::vector<std::array<std::string, 6>> versions{ValuesIn(m_templ)->byKey};
    for (int i = 0; i < kGenerations; ++i) {
        versions.push_back(ValuesOf(Generation(i)).byKey);
    }

    Child saver([] {
        for (int i = 0; i < kGenerations; ++i) {
            if (!saveCommSettings(Generation(i))) {
                return 1;
            }
        }
        return 0;
    });
    int reads = 0;
    std::optional<ChildResult> ended;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ended) {
        // Looked at before the read, so the last read surely follows the last save.
        ended = saver.poll();
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the saver hangs";
        const std::string bytes = ReadBytes(g_strIniPath);
        ASSERT_TRUE(IsCompleteVersion(m_templ, bytes)) << "read " << reads;
        const auto values = ValuesIn(bytes);
        ASSERT_NE(std::find(versions.begin(), versions.end(), values->byKey), versions.end())
            << "read " << reads << ": Port=" << values->byKey[0] << " IP1=" << values->byKey[2];
        ++reads;
    }
    EXPECT_EQ(ended->exitCode, 0);
    EXPECT_EQ(ValuesIn(ReadBytes(g_strIniPath))->byKey, ValuesOf(Generation(kGenerations - 1)).byKey);
    RecordProperty("reads_during_saves", reads);
}

} // namespace
