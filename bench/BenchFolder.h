// Bench-only: a fresh folder under $TMPDIR (or /tmp), removed with everything in it; the file system there is
// the one measured and the one scripts/bench names.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class BenchFolder {
public:
    explicit BenchFolder(const std::string& prefix) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    ~BenchFolder() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }

    // Empty when the folder could not be made.
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // Replaces name's contents with text and gives its path.
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary | std::ios::trunc) << text;
        return file(name);
    }

private:
    std::string m_path;
};
