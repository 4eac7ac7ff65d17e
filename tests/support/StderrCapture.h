// Captures what the code under test writes to standard error (child processes forked meanwhile included).
#pragma once

#include <string>
#include <vector>

class StderrCapture {
public:
    StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture();

    // Everything written so far, and standard error back to where it was.
    std::string finish();

    static std::vector<std::string> lines(const std::string& text);

private:
    void restore();

    int m_file = -1;
    int m_saved = -1;
};
