// The record's decoding and formatting, and the running program's own record among the notes the loader
// mapped: no file is opened and no ELF library loaded, so the title costs the start-up next to nothing.
#include "version/VersionRecord.h"

#include <cstdio>
#include <cstring>
#include <link.h>

namespace {

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::size_t padded(std::size_t size, std::size_t alignment) {
    return (size + alignment - 1) / alignment * alignment;
}

int findInProgram(dl_phdr_info* info, std::size_t, void* found) {
    auto& record = *static_cast<std::optional<VersionRecord>*>(found);
    for (ElfW(Half) i = 0; i < info->dlpi_phnum && !record; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE)
            continue;
        // The loader reports where it mapped the segment only as an address number.
        const auto* notes = reinterpret_cast<const unsigned char*>( // NOLINT(performance-no-int-to-ptr)
            info->dlpi_addr + segment.p_vaddr);
        record = findRecordInNotes(notes, segment.p_memsz, segment.p_align == 8 ? 8 : 4,
                                   __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
    }
    return 1; // the program itself comes first; the libraries carry no record of ours
}

std::uint32_t word32(const unsigned char* bytes, bool bigEndian) {
    const std::uint32_t little = littleEndian32(bytes);
    return bigEndian ? __builtin_bswap32(little) : little;
}

} // namespace

std::optional<VersionRecord> findRecordInNotes(const unsigned char* notes, std::size_t size,
                                               std::size_t alignment, bool bigEndian) {
    constexpr std::size_t kHeaderSize = 12;
    std::size_t offset = 0;
    while (size - offset >= kHeaderSize) {
        const std::uint32_t nameSize = word32(notes + offset, bigEndian);
        const std::uint32_t descriptorSize = word32(notes + offset + 4, bigEndian);
        const std::uint32_t type = word32(notes + offset + 8, bigEndian);
        const std::size_t nameOffset = offset + kHeaderSize;
        if (size - nameOffset < nameSize)
            break;
        const std::size_t descriptorOffset = nameOffset + padded(nameSize, alignment);
        if (descriptorOffset > size || size - descriptorOffset < descriptorSize)
            break;
        if (type == VersionRecord::kNoteType && nameSize == sizeof VersionRecord::kNoteName &&
            descriptorSize >= VersionRecord::kSize &&
            std::memcmp(notes + nameOffset, VersionRecord::kNoteName, sizeof VersionRecord::kNoteName) == 0)
            return VersionRecord::fromBytes(notes + descriptorOffset);
        const std::size_t next = descriptorOffset + padded(descriptorSize, alignment);
        if (next > size)
            break;
        offset = next;
    }
    return std::nullopt;
}

VersionRecord VersionRecord::fromBytes(const unsigned char* bytes) {
    VersionRecord record;
    std::uint32_t* fields[] = {&record.signature,     &record.structVersion,    &record.fileVersionMs,
                               &record.fileVersionLs, &record.productVersionMs, &record.productVersionLs,
                               &record.fileFlagsMask, &record.fileFlags,        &record.fileOs,
                               &record.fileType,      &record.fileSubtype,      &record.fileDateMs,
                               &record.fileDateLs};
    static_assert(sizeof fields / sizeof fields[0] * 4 == kSize);
    for (std::uint32_t* field : fields) {
        *field = littleEndian32(bytes);
        bytes += 4;
    }
    return record;
}

std::optional<VersionRecord> loadedVersionRecord() {
    std::optional<VersionRecord> record;
    ::dl_iterate_phdr(findInProgram, &record);
    return record;
}

std::string productVersionString(const std::optional<VersionRecord>& record) {
    if (!record || record->signature != VersionRecord::kSignature)
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(record->productVersionMs >> 16),
                  static_cast<int>(record->productVersionMs & 0xFFFF),
                  static_cast<int>(record->productVersionLs >> 16),
                  static_cast<int>(record->productVersionLs & 0xFFFF));
    return text;
}
