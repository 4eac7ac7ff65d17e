// Why the calling user may not open a device, and the one fix that applies, from the device's owner, group
// and mode and the user's groups.
#pragma once

#include <string>

namespace portlink {

// What lets the user open a device it may not open.
enum class PermissionFix {
    JoinGroup,    // the device's group grants reading and writing: join it, then log in again
    LogInAgain,   // the user joined that group after this session began
    UdevRule,     // the device's group is root's, or grants too little: a udev rule must give it one
    SystemRefuses // the user holds the group (an access control list or a security module refuses), or may
                  // not search a folder on the way
};

struct PermissionAdvice {
    PermissionFix fix = PermissionFix::SystemRefuses;
    std::string group;  // the device's group, for JoinGroup and LogInAgain
    std::string reason; // the device's owner, group and mode, the user's groups and the fix, in one line
};

// Why the calling user (its effective ids) may not open devicePath, which it has been refused.
PermissionAdvice permissionAdvice(const std::string& devicePath);

} // namespace portlink
