// Owns one POSIX file descriptor and closes it when it goes out of scope.
#pragma once

namespace common {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows up here).
    bool close();

private:
    int m_fd = -1;
};

} // namespace common
