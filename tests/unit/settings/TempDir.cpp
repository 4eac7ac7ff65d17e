// A fresh directory under /tmp for one test, removed with everything in it afterwards.
#include "TempDir.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

TempDir::TempDir() {
    std::string pattern = "/tmp/vell-settings-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    // Tests lock directories and files; open them up again so removal cannot fail.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, error)) {
        if (!entry.is_symlink()) {
            ::chmod(entry.path().c_str(), 0700);
        }
    }
    ::chmod(m_path.c_str(), 0700);
    std::filesystem::remove_all(m_path, error);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<absent>";
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> TempFilesIn(const std::string& directory) {
    std::vector<std::string> found;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.starts_with(".") && name.ends_with(".tmp")) {
                found.push_back(name);
            }
        }
        ::closedir(dir);
    }
    return found;
}
