// devsim's output lines and descriptor ownership, shared by the pseudo-terminal and the network server modes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devsim {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int get() const { return m_fd; }

private:
    int m_fd;
};

// "1B 27 0A 01": how both modes show bytes.
std::string hexBytes(const unsigned char* bytes, std::size_t count);
std::string jsonString(std::string_view text);
// Every line is flushed at once: the tests read this output through a pipe.
void printLine(const std::string& line);

} // namespace devsim
