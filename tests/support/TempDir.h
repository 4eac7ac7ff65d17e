// A fresh folder for one test under $TMPDIR (or /tmp), removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
public:
    // Named prefix-XXXXXX under base; an empty base means $TMPDIR, or /tmp when that is unset. Programs a
    // test builds and runs need a base in the build tree: /tmp may be mounted noexec.
    explicit TempDir(const std::string& prefix = "vell-test", const std::filesystem::path& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
