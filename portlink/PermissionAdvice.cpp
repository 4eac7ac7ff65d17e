#include "PermissionAdvice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace portlink {
namespace {

constexpr const char* kUdevExample = "/usr/share/doc/vellsetting/vellsetting-udev.rules.example";

// Runs a *_r lookup of the passwd or group database with a buffer that grows until the entry fits.
template <typename Id, typename Entry>
bool lookUp(int (*lookup)(Id, Entry*, char*, std::size_t, Entry**), Id id, Entry& entry,
            std::vector<char>& buffer) {
    constexpr std::size_t kLargestBuffer = std::size_t{1024} * 1024;
    for (buffer.resize(4096); buffer.size() <= kLargestBuffer; buffer.resize(buffer.size() * 2)) {
        Entry* found = nullptr;
        const int error = lookup(id, &entry, buffer.data(), buffer.size(), &found);
        if (error != ERANGE) {
            return error == 0 && found != nullptr;
        }
    }
    return false;
}

std::string groupName(gid_t gid) {
    group entry{};
    std::vector<char> buffer;
    return lookUp(::getgrgid_r, gid, entry, buffer) ? std::string(entry.gr_name) : std::to_string(gid);
}

std::string userName(uid_t uid) {
    passwd entry{};
    std::vector<char> buffer;
    return lookUp(::getpwuid_r, uid, entry, buffer) ? std::string(entry.pw_name) : std::to_string(uid);
}

// The groups this process holds, the effective one first.
std::vector<gid_t> sessionGroups() {
    std::vector<gid_t> groups{::getegid()};
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> supplementary(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, supplementary.data()) == count) {
        std::copy_if(supplementary.begin(), supplementary.end(), std::back_inserter(groups),
                     [&](gid_t gid) { return gid != groups.front(); });
    }
    return groups;
}

// The groups the group database gives the user at the next login.
std::vector<gid_t> listedGroups(uid_t uid) {
    passwd entry{};
    std::vector<char> buffer;
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    if (!lookUp(::getpwuid_r, uid, entry, buffer)) {
        return {};
    }
    if (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
        // count now says how many there are.
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        if (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
            return {};
        }
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

bool holds(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

} // namespace

PermissionAdvice permissionAdvice(const std::string& devicePath) {
    const uid_t uid = ::geteuid();
    const std::string user = userName(uid);
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        return {PermissionFix::SystemRefuses,
                {},
                "permission denied: user " + user + " may not search a folder on the way to it"};
    }
    const std::vector<gid_t> session = sessionGroups();
    std::string groups;
    for (const gid_t gid : session) {
        groups += (groups.empty() ? "" : ", ") + groupName(gid);
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    const std::string group = groupName(info.st_gid);
    const std::string facts = "permission denied (device " + userName(info.st_uid) + ":" + group + " " +
                              mode + "; user " + user + " in " +
                              (session.size() == 1 ? "group " : "groups ") + groups + "): ";
    // A group meant for the device's users grants both; one that grants writing alone (tty's, for messages)
    // or root's is not one to join.
    const bool groupGrants = info.st_gid != 0 && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupGrants && holds(session, info.st_gid)) {
        return {PermissionFix::SystemRefuses,
                {},
                facts + "the system refuses all the same (an access control list or a security module)"};
    }
    if (groupGrants && holds(listedGroups(uid), info.st_gid)) {
        return {PermissionFix::LogInAgain, group,
                facts + user + " joined group " + group + " after this session began: log in again"};
    }
    if (groupGrants) {
        return {PermissionFix::JoinGroup, group,
                facts + "join group " + group + " (sudo usermod -aG " + group + " " + user +
                    ") and log in again"};
    }
    return {PermissionFix::UdevRule,
            {},
            facts + "the device needs a udev rule giving it group dialout and mode 0660, as in " +
                kUdevExample};
}

} // namespace portlink
