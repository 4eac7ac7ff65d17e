// Fuzzes the title's program name extraction on arbitrary paths in every code page.
#include "version/Title.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto codePage = static_cast<common::CodePage>(input.ConsumeIntegralInRange<int>(0, 5));
    const std::string path = input.ConsumeRemainingBytesAsString();
    const std::string name = programNameFromPath(path, codePage);
    // The name is a piece of the path's last component.
    if (name.size() > path.size() || path.find(name) == std::string::npos) {
        std::abort();
    }
    if (codePage == common::CodePage::SingleByte && name.find('/') != std::string::npos) {
        std::abort();
    }
    return 0;
}
