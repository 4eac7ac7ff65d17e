// Fuzzes the version record reader on arbitrary file bytes: no crash, no read past the file's data.
#include "FuzzFile.h"
#include "version/Title.h"
#include "version/VersionRecord.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzFile file;
    file.write({reinterpret_cast<const char*>(data), size});
    const auto record = readVersionRecord(file.path());
    const std::string version = GetProductVersionString(file.path());
    // A record is at least as big as the bytes it was decoded from.
    if (record && size < VersionRecord::kSize) {
        std::abort();
    }
    // No record, no version; a version is four dotted numbers.
    if (!record && !version.empty()) {
        std::abort();
    }
    return 0;
}
