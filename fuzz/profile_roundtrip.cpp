// Fuzzes write-then-read: over any existing content, a value without a line break is read back as written (up
// to the 127 bytes the read buffer holds), and a non-negative integer written with "%d" reads back equal.
#include "FuzzFile.h"
#include "settings/IniFile.h"
#include "settings/Profile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1A';
}

// Values the profile format gives back byte for byte: no line break or NUL, no blanks at either end (they
// are trimmed), not wrapped in a pair of quotes (they are removed).
bool IsVerbatimValue(const std::string& value) {
    if (value.find_first_of(std::string_view{"\r\n\0", 3}) != std::string::npos) {
        return false;
    }
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()))) {
        return false;
    }
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    return !quoted;
}

void Fail(const char* what, const std::string& expected, const std::string& actual) {
    std::fprintf(stderr, "%s: expected [%s], got [%s]\n", what, expected.c_str(), actual.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile file;
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(32);
    const std::string key = input.ConsumeRandomLengthString(32);
    const std::string value = input.ConsumeRandomLengthString(200);
    const int number = input.ConsumeIntegralInRange<int>(0, INT32_MAX);
    const std::string content = input.ConsumeRemainingBytesAsString();
    if (!isStorableProfileEntry(section, key, value) || !IsVerbatimValue(value)) {
        return 0;
    }

    // In memory: whatever the content around it, the entry written is the entry found.
    const std::string written = writeProfileValue(content, section, key, value);
    const auto found = findProfileValue(written, section, key);
    if (found != value) {
        Fail("in memory", value, found.value_or("<absent>"));
    }

    // Through the file and the settings operations, which cut at 127 bytes and then unescape.
    file.write(content);
    if (IniWriteString(section, key, value, file.path())) {
        const std::string expected = UnescapeProfileValue(value.substr(0, 127));
        const std::string read = IniReadString(section, key, "<absent>", file.path());
        if (read != expected) {
            Fail("through the file", expected, read);
        }
        if (IniWriteInt(section, key, number, file.path())) {
            const int back = IniReadInt(section, key, -1, file.path());
            if (back != number) {
                Fail("integer", std::to_string(number), std::to_string(back));
            }
        }
    } else if (file.read() != content) {
        Fail("refused write changed the file", content, file.read());
    }
    return 0;
}
