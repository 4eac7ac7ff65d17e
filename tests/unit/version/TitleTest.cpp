// The program name taken from a path, and the whole title of real programs run from various places.
#include "version/Title.h"

#include "TempDir.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using common::CodePage;

struct NameRow {
    const char* name;
    std::string path;
    CodePage codePage;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const NameRow& row) {
    return out << row.name;
}

class ProgramName : public ::testing::TestWithParam<NameRow> {};

TEST_P(ProgramName, IsFileNameWithoutLastExtension) {
    EXPECT_EQ(programNameFromPath(GetParam().path, GetParam().codePage), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ProgramName,
    ::testing::Values(
        NameRow{"installed_program", "/usr/bin/VellSetting", CodePage::Utf8, "VellSetting"},
        NameRow{"last_point_counts", "/x/my.tool.exe", CodePage::Utf8, "my.tool"},
        NameRow{"dotted_folder_undotted_file", "/home/u/.local/bin/VellSetting", CodePage::Utf8,
                "VellSetting"},
        NameRow{"dotted_folder_dotted_file", "/opt/v1.2/VellSetting.bin", CodePage::Utf8, "VellSetting"},
        NameRow{"no_folder", "VellSetting.exe", CodePage::Utf8, "VellSetting"},
        NameRow{"point_at_end", "/x/VellSetting.", CodePage::Utf8, "VellSetting"},
        NameRow{"hidden_file_is_not_all_extension", "/x/.VellSetting", CodePage::Utf8, ".VellSetting"},
        NameRow{"hidden_file_with_extension", "/x/.Vell.bin", CodePage::Utf8, ".Vell"},
        NameRow{"path_ending_in_slash", "/x/y/", CodePage::Utf8, ""},
        NameRow{"empty_path", "", CodePage::Utf8, ""},
        NameRow{"utf8_name", "/opt/\xE8\xAE\xBE\xE7\xBD\xAE/Vell\xE8\xAE\xBE\xE7\xBD\xAE.exe", CodePage::Utf8,
                "Vell\xE8\xAE\xBE\xE7\xBD\xAE"},
        // 0x95 0x5C is one GBK character: its second byte is no backslash of any kind.
        NameRow{"gbk_trail_backslash_in_name", "/opt/\x95\x5C/Vell\x95\x5C.exe", CodePage::Gbk,
                "Vell\x95\x5C"},
        // 0x81 0x2E is one character, so the name has no point at all.
        NameRow{"gbk_trail_point_is_no_extension", "/opt/name\x81.exe", CodePage::Gbk, "name\x81.exe"},
        NameRow{"single_byte_same_bytes_have_a_point", "/opt/name\x81.exe", CodePage::SingleByte, "name\x81"},
        // 0x81 0x2F is one character, so that slash separates nothing.
        NameRow{"gbk_trail_slash_is_no_separator", "/opt/dir\x81/Vell.exe", CodePage::Gbk, "dir\x81/Vell"},
        NameRow{"single_byte_same_bytes_have_a_slash", "/opt/dir\x81/Vell.exe", CodePage::SingleByte, "Vell"},
        // Two lead bytes pair up, leaving the point after them a point of its own.
        NameRow{"gbk_pair_then_real_point", "/opt/name\x81\x81.exe", CodePage::Gbk, "name\x81\x81"},
        NameRow{"gbk_lead_byte_at_end", "/opt/name\x81", CodePage::Gbk, "name\x81"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowTitle, OfThisTestProgram) {
    // This test program is built with its own record, product version 3.1.4.15.
    EXPECT_EQ(MakeWindowTitle(), std::string(VELL_TEST_PROGRAM_NAME) + "-3.1.4.15");
}

// Runs program and returns what it printed; fails the test if it does not finish within the bound.
std::string RunAndCapture(const std::string& program) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string output;
    if (spawned != 0) {
        ::close(fds[0]);
        ADD_FAILURE() << "could not start " << program;
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool finished = false;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd readable{fds[0], POLLIN, 0};
        if (::poll(&readable, 1, 200) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got <= 0) {
            finished = true;
            break;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (!finished) {
        ::kill(pid, SIGKILL);
        ADD_FAILURE() << program << " did not finish";
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << program;
    return output;
}

struct PlacedProgram {
    const char* name;
    const char* source;       // the built program to copy
    std::string relativePath; // where the copy goes inside a scratch folder
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const PlacedProgram& row) {
    return out << row.name;
}

class PlacedProgramTitle : public ::testing::TestWithParam<PlacedProgram> {};

TEST_P(PlacedProgramTitle, ShowsNameAndVersion) {
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::filesystem::path target = std::filesystem::path(dir.path()) / GetParam().relativePath;
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(GetParam().source, target);
    EXPECT_EQ(RunAndCapture(target.string()), GetParam().expected);
}

// A folder path well past 260 bytes: the name must come from the end of the full path, not a cut one.
std::string LongFolder() {
    std::string folder;
    for (int i = 0; i < 12; ++i)
        folder += "a-rather-long-folder.name-" + std::to_string(i) + "/";
    return folder;
}

INSTANTIATE_TEST_SUITE_P(
    Places, PlacedProgramTitle,
    ::testing::Values(
        PlacedProgram{"plain_folder", VELL_TITLE_PROBE, "bin/VellSetting", "VellSetting-1.0.0.1"},
        PlacedProgram{"dotted_folder", VELL_TITLE_PROBE, ".local/bin/VellSetting", "VellSetting-1.0.0.1"},
        PlacedProgram{"several_points", VELL_TITLE_PROBE, "x/my.tool.exe", "my.tool-1.0.0.1"},
        PlacedProgram{"path_longer_than_260_bytes", VELL_TITLE_PROBE, LongFolder() + "VellSetting",
                      "VellSetting-1.0.0.1"},
        PlacedProgram{"without_record_ends_in_hyphen", VELL_TITLE_PROBE_PLAIN, "bin/VellSetting",
                      "VellSetting-"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
