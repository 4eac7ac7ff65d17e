// A fresh folder for one test under $TMPDIR (or /tmp), removed with everything in it afterwards.
#include "TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

namespace {

std::filesystem::path TemporaryRoot() {
    const char* root = std::getenv("TMPDIR");
    return root != nullptr && *root != '\0' ? root : "/tmp";
}

} // namespace

TempDir::TempDir(const std::string& prefix, const std::filesystem::path& base) {
    const std::filesystem::path parent = base.empty() ? TemporaryRoot() : base;
    std::filesystem::create_directories(parent);
    std::string pattern = (parent / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed under " + parent.string());
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    // Tests lock folders and files; open them up again so removal cannot fail.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, error)) {
        if (!entry.is_symlink()) {
            ::chmod(entry.path().c_str(), 0700);
        }
    }
    ::chmod(m_path.c_str(), 0700);
    std::filesystem::remove_all(m_path, error);
}
