// devsim or dnssim as a child process of a test.
#include "Simulator.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

Simulator::Simulator(Program program) : m_program(program == Program::Devsim ? DEVSIM_PATH : DNSSIM_PATH) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(m_program)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(m_program, argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    m_output = pipeEnds[0];
    const std::optional<std::string> first = readLine(std::chrono::milliseconds(5000));
    m_firstLine = first.value_or("");
    return first.has_value();
}

std::optional<std::string> Simulator::readLine(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (const std::size_t end = m_buffered.find('\n'); end != std::string::npos) {
            std::string line = m_buffered.substr(0, end);
            m_buffered.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_output < 0 || left.count() <= 0) {
            return std::nullopt;
        }
        pollfd waiting{m_output, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[1024];
        const ssize_t count = ::read(m_output, buffer, sizeof buffer);
        if (count <= 0) {
            ::close(m_output);
            m_output = -1;
            return std::nullopt;
        }
        m_buffered.append(buffer, static_cast<std::size_t>(count));
    }
}

std::vector<std::string> Simulator::stop(int* exitStatus) {
    std::vector<std::string> rest;
    if (m_pid <= 0) {
        return rest;
    }
    ::kill(m_pid, SIGTERM);
    while (const std::optional<std::string> line = readLine(std::chrono::milliseconds(3000))) {
        rest.push_back(*line);
    }
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (exitStatus != nullptr) {
        *exitStatus = status;
    }
    if (m_output >= 0) {
        ::close(m_output);
        m_output = -1;
    }
    return rest;
}

std::vector<int> Simulator::ports() const {
    std::istringstream line(m_firstLine);
    std::vector<int> ports;
    for (int port = 0; line >> port;) {
        ports.push_back(port);
    }
    return ports;
}
