// Runs a piece of a test in a child process, so a crash, a kill or a hang in it cannot take the test down.
#include "Child.h"

#include <csignal>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

ChildResult ResultOf(int status) {
    ChildResult result;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

} // namespace

Child::Child(const std::function<int()>& body) {
    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        // No exit handlers: the test framework's state belongs to the parent.
        ::_exit(body());
    }
}

Child::~Child() {
    if (m_pid > 0) {
        kill();
    }
}

void Child::kill() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::optional<ChildResult> Child::poll() {
    int status = 0;
    if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) != m_pid) {
        return std::nullopt;
    }
    m_pid = -1;
    return ResultOf(status);
}

ChildResult Child::wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (auto result = poll()) {
            return *result;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill();
            ChildResult result;
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ChildResult RunInChild(const std::function<int()>& body, std::chrono::milliseconds limit) {
    Child child(body);
    return child.wait(limit);
}

namespace {

const passwd* Nobody() {
    return ::getpwnam("nobody");
}

} // namespace

bool CanBecomeNobody() {
    return ::geteuid() == 0 && Nobody() != nullptr;
}

bool BecomeNobody() {
    const passwd* nobody = Nobody();
    return nobody != nullptr && ::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 &&
           ::setuid(nobody->pw_uid) == 0;
}

uid_t NobodyUid() {
    const passwd* nobody = Nobody();
    if (nobody == nullptr) {
        throw std::runtime_error("no user nobody");
    }
    return nobody->pw_uid;
}

gid_t NobodyGid() {
    const passwd* nobody = Nobody();
    if (nobody == nullptr) {
        throw std::runtime_error("no user nobody");
    }
    return nobody->pw_gid;
}
