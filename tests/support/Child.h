// Runs a piece of a test in a child process, so a crash, a kill or a hang in it cannot take the test down.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <sys/types.h>

// How a child ended: its exit code, or the signal that ended it; timedOut when it had to be killed.
struct ChildResult {
    bool timedOut = false;
    std::optional<int> exitCode;
    std::optional<int> signal;
};

// Forks, runs body in the child and exits with what it returns; waits at most limit, then kills it.
ChildResult RunInChild(const std::function<int()>& body, std::chrono::milliseconds limit);

// Only another user lacks a permission (root passes every mode check): whether this process can become the
// user nobody, and, in a child, becoming it for good (false when that fails).
bool CanBecomeNobody();
bool BecomeNobody();
// The user nobody's ids, for handing it a file or folder; root only.
uid_t NobodyUid();
gid_t NobodyGid();

// A started child running body; the parent decides when it ends.
class Child {
public:
    explicit Child(const std::function<int()>& body);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    // Sends SIGKILL and reaps the child.
    void kill();
    // How the child ended if it has, without waiting.
    std::optional<ChildResult> poll();
    // Waits at most limit for the child to end on its own, then kills it.
    ChildResult wait(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
};
