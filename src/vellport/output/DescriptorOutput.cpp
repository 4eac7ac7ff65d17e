#include "vellport/output/DescriptorOutput.h"

#include "vellport/output/TextEncoding.h"

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace vellport {
namespace {

// Text is held until a line ends or this much is waiting, so a character is never cut for conversion.
constexpr std::size_t kHeldBytes = std::size_t{16} * 1024;

} // namespace

DescriptorOutput::DescriptorOutput(int descriptor, std::string codeset, bool eachLine)
    : m_descriptor(descriptor), m_codeset(std::move(codeset)), m_eachLine(eachLine) {}

DescriptorOutput::~DescriptorOutput() {
    writePending(true);
}

DescriptorOutput::int_type DescriptorOutput::overflow(int_type character) {
    if (traits_type::eq_int_type(character, traits_type::eof())) {
        return traits_type::not_eof(character);
    }
    const char c = traits_type::to_char_type(character);
    xsputn(&c, 1);
    return character;
}

std::streamsize DescriptorOutput::xsputn(const char* text, std::streamsize count) {
    m_pending.append(text, static_cast<std::size_t>(count));
    if (m_pending.size() >= kHeldBytes ||
        (m_eachLine &&
         std::string_view(text, static_cast<std::size_t>(count)).find('\n') != std::string_view::npos)) {
        writePending(false);
    }
    return count;
}

int DescriptorOutput::sync() {
    writePending(true);
    return m_error == 0 ? 0 : -1;
}

void DescriptorOutput::writePending(bool all) {
    std::size_t end = m_pending.size();
    if (!all) {
        const std::size_t lineEnd = m_pending.rfind('\n');
        end = lineEnd == std::string::npos ? end : lineEnd + 1;
    }
    if (end == 0) {
        return;
    }
    const std::string bytes = toCharset(std::string_view(m_pending).substr(0, end), m_codeset);
    m_pending.erase(0, end);
    // After a failure the rest is dropped: the status already tells, and a full disk stays full.
    for (std::size_t written = 0; m_error == 0 && written < bytes.size();) {
        const ssize_t result = ::write(m_descriptor, bytes.data() + written, bytes.size() - written);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            m_error = result < 0 ? errno : EIO;
            break;
        }
        written += static_cast<std::size_t>(result);
    }
}
} // namespace vellport
