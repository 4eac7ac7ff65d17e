// Fuzzes the profile reader: arbitrary file bytes, section and key must never crash, hang or read out of
// bounds.
#include "settings/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string def = input.ConsumeRandomLengthString(16);
    const std::string raw = input.ConsumeRemainingBytesAsString();

    static_cast<void>(DetectProfileEncoding(raw));
    const std::string content = DecodeProfileText(raw);
    const auto found = FindProfileValue(content, section, key);
    const std::string value = ReadProfileValue(content, section, key, def);
    // The read hands out the stored value when there is one, the cleaned default otherwise.
    if (value != (found ? *found : ProfileDefault(def))) {
        std::abort();
    }
    // A stored value is a piece of one line: never longer than the content, never across a line end.
    if (found && (found->size() > content.size() || found->find_first_of("\r\n") != std::string::npos)) {
        std::abort();
    }
    static_cast<void>(ReadProfileInt(content, section, key, 7));
    static_cast<void>(ParseProfileInt(raw));
    return 0;
}
