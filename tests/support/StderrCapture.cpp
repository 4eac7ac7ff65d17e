// Captures what the code under test writes to standard error (child processes forked meanwhile included).
#include "StderrCapture.h"

#include <cstdio>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    // In memory: no temporary folder to choose or clean up.
    m_file = ::memfd_create("stderr-capture", MFD_CLOEXEC);
    if (m_file < 0) {
        throw std::runtime_error("memfd_create failed");
    }
    m_saved = ::dup(STDERR_FILENO);
    ::dup2(m_file, STDERR_FILENO);
}

StderrCapture::~StderrCapture() {
    restore();
    ::close(m_file);
}

std::string StderrCapture::finish() {
    restore();
    std::string text;
    char buffer[4096];
    ::lseek(m_file, 0, SEEK_SET);
    for (ssize_t count; (count = ::read(m_file, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

std::vector<std::string> StderrCapture::lines(const std::string& text) {
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

void StderrCapture::restore() {
    if (m_saved >= 0) {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
}
