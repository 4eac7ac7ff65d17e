// A fresh directory under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Whole-file helpers for tests; a missing file reads as "<absent>".
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
// The names of the temporary files a save leaves next to its file (".<name>.<random>.tmp") in directory.
std::vector<std::string> TempFilesIn(const std::string& directory);
