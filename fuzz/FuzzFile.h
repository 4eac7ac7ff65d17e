// A scratch file in memory-backed storage for fuzz targets whose code under test reads a path.
#pragma once

#include <string>
#include <string_view>

class FuzzFile {
public:
    // A fresh empty directory for this process; removed with everything in it on destruction.
    FuzzFile();
    ~FuzzFile();
    FuzzFile(const FuzzFile&) = delete;
    FuzzFile& operator=(const FuzzFile&) = delete;

    // Path of the scratch file, which may or may not exist.
    const std::string& path() const { return m_path; }
    // Replaces the scratch file with exactly bytes (a plain write, not what is under test).
    void write(std::string_view bytes) const;
    // The scratch file's bytes, or "" when it is absent.
    std::string read() const;

private:
    std::string m_directory;
    std::string m_path;
};
