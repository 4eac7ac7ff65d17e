// Standard output or error as vellport writes it: text in the locale's charset, written to the descriptor
// directly, and the first failed write remembered so the exit status can tell.
#pragma once

#include <streambuf>
#include <string>

namespace vellport {
class DescriptorOutput : public std::streambuf {
public:
    // codeset as nl_langinfo(CODESET) names the locale's charset; the text given is UTF-8. eachLine writes
    // every line as soon as it ends (for errors, so they interleave with the library's own lines as they
    // happen), else text waits for a flush or a full buffer.
    DescriptorOutput(int descriptor, std::string codeset, bool eachLine = false);
    ~DescriptorOutput() override;
    DescriptorOutput(const DescriptorOutput&) = delete;
    DescriptorOutput& operator=(const DescriptorOutput&) = delete;

    // The errno value of the first write that failed, 0 while every byte went out.
    int error() const { return m_error; }

protected:
    int_type overflow(int_type character) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    // Writes the pending text up to its last line end, or all of it.
    void writePending(bool all);

    int m_descriptor;
    std::string m_codeset;
    bool m_eachLine;
    std::string m_pending;
    int m_error = 0;
};
} // namespace vellport
