// Runs devsim (a pseudo-terminal, or a server with --rfc2217-server) or dnssim (a name server) as a child
// process and reads its output lines with a bound.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class Simulator {
public:
    enum class Program { Devsim, Dnssim };
    explicit Simulator(Program program = Program::Devsim);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();

    // Starts the program with the arguments and waits for its first line; false when it does not come.
    bool start(const std::vector<std::string>& arguments);
    // The next output line, or nothing when none arrives within the wait.
    std::optional<std::string> readLine(std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
    // Ends devsim with SIGTERM; returns what it printed after the last read, and its exit status.
    std::vector<std::string> stop(int* exitStatus = nullptr);

    const std::string& firstLine() const { return m_firstLine; }
    // The ports a server started with --rfc2217-server listens on, from its first line.
    std::vector<int> ports() const;

private:
    const char* m_program;
    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_buffered;
    std::string m_firstLine;
};
