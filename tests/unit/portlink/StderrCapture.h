// Captures what the code under test writes to standard error, through a temporary file swapped in with
// dup2().
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        char path[] = "/tmp/vellport-stderr-XXXXXX";
        m_file = ::mkstemp(path);
        ::unlink(path);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file, STDERR_FILENO);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture() { restore(); }

    // Everything written so far, and standard error back to where it was.
    std::string finish() {
        restore();
        std::string text;
        char buffer[4096];
        ::lseek(m_file, 0, SEEK_SET);
        for (ssize_t count; (count = ::read(m_file, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        return text;
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            result.push_back(text.substr(start, end - start));
        }
        if (start < text.size()) {
            result.push_back(text.substr(start));
        }
        return result;
    }

private:
    void restore() {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
    }

    int m_file = -1;
    int m_saved = -1;
};
