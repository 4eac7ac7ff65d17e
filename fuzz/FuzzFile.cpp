// A scratch file in memory-backed storage for fuzz targets whose code under test reads a path.
#include "FuzzFile.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace {

std::string ScratchRoot() {
    // /dev/shm keeps the many writes and flushes of a fuzz run off the disk.
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

} // namespace

FuzzFile::FuzzFile() {
    std::string pattern = ScratchRoot() + "/vellfuzz.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    m_directory = pattern;
    m_path = m_directory + "/Option.ini";
}

FuzzFile::~FuzzFile() {
    if (DIR* dir = ::opendir(m_directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlink((m_directory + "/" + name).c_str());
            }
        }
        ::closedir(dir);
    }
    ::rmdir(m_directory.c_str());
}

void FuzzFile::write(std::string_view bytes) const {
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::perror("write scratch file");
        std::abort();
    }
}

std::string FuzzFile::read() const {
    std::ifstream in(m_path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
