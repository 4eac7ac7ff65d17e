// The child's side of a timed start: a program in its own working folder, stdout on a given descriptor.
#pragma once

#include <string>
#include <unistd.h>
#include <vector>

// Never returns: exits 126 when the folder or descriptor cannot be set up, 127 when the program cannot start.
[[noreturn]] inline void execInFolder(const std::string& dir, const std::vector<std::string>& argv,
                                      int stdoutFd) {
    if (stdoutFd < 0 || ::dup2(stdoutFd, STDOUT_FILENO) < 0 || ::chdir(dir.c_str()) != 0) {
        ::_exit(126);
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}
