// Reads the fixed version record back out of an ELF program file by hand, trusting nothing in the file: every
// offset and size is checked against the file's size before a byte is read.
#include "version/VersionRecord.h"

#include "common/RegularFile.h"
#include "version/Title.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// ELF constants (the same values for both classes and both byte orders).
constexpr unsigned char kClass32 = 1;
constexpr unsigned char kClass64 = 2;
constexpr unsigned char kLittleEndian = 1;
constexpr unsigned char kBigEndian = 2;
constexpr std::uint32_t kSectionNotes = 7;       // SHT_NOTE
constexpr std::uint32_t kSegmentNotes = 4;       // PT_NOTE
constexpr std::uint32_t kExtendedIndex = 0xFFFF; // SHN_XINDEX
constexpr std::string_view kSectionName(".note.version\0", 14);
// A note section of ours is a few dozen bytes; anything far larger is not one worth reading.
constexpr std::uint64_t kLargestNotes = 1U << 20;

struct SectionHeader {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
    std::uint64_t alignment = 0;
};

// One ELF file read through its descriptor with pread: no mapping, so a file cut short underneath us cannot
// fault, and every read outside the size seen at the start fails.
class ElfFile {
public:
    ElfFile(int descriptor, std::uint64_t size) : m_descriptor(descriptor), m_size(size) {}

    // Reads the identification and the header; false when this is no ELF file we can read.
    bool readHeader() {
        std::array<unsigned char, 64> header{};
        if (!read(0, 16, header.data()) || std::memcmp(header.data(), "\177ELF", 4) != 0)
            return false;
        m_is64 = header[4] == kClass64;
        m_bigEndian = header[5] == kBigEndian;
        if ((header[4] != kClass32 && !m_is64) || (header[5] != kLittleEndian && !m_bigEndian))
            return false;
        if (!read(0, m_is64 ? 64 : 52, header.data()))
            return false;
        const unsigned char* fields = header.data();
        if (m_is64) {
            m_segmentsAt = word64(fields + 32);
            m_sectionsAt = word64(fields + 40);
            fields += 54;
        } else {
            m_segmentsAt = word32(fields + 28);
            m_sectionsAt = word32(fields + 32);
            fields += 42;
        }
        m_segmentEntrySize = word16(fields);
        m_segmentCount = word16(fields + 2);
        m_sectionEntrySize = word16(fields + 4);
        m_sectionCount = word16(fields + 6);
        m_namesIndex = word16(fields + 8);
        return true;
    }

    // The record in .note.version when the file has section headers, else in a note segment.
    std::optional<VersionRecord> findRecord() {
        if (m_sectionsAt != 0)
            return recordInSections();
        return recordInSegments();
    }

private:
    bool read(std::uint64_t offset, std::uint64_t count, void* into) const {
        if (offset > m_size || count > m_size - offset)
            return false;
        auto* bytes = static_cast<unsigned char*>(into);
        for (std::uint64_t done = 0; done < count;) {
            const ssize_t result =
                ::pread(m_descriptor, bytes + done, count - done, static_cast<off_t>(offset + done));
            if (result < 0 && errno == EINTR)
                continue;
            if (result <= 0)
                return false;
            done += static_cast<std::uint64_t>(result);
        }
        return true;
    }

    std::uint64_t word(const unsigned char* bytes, int count) const {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i) {
            const unsigned char byte = bytes[m_bigEndian ? i : count - 1 - i];
            value = (value << 8) | byte;
        }
        return value;
    }
    std::uint16_t word16(const unsigned char* bytes) const {
        return static_cast<std::uint16_t>(word(bytes, 2));
    }
    std::uint32_t word32(const unsigned char* bytes) const {
        return static_cast<std::uint32_t>(word(bytes, 4));
    }
    std::uint64_t word64(const unsigned char* bytes) const { return word(bytes, 8); }
    std::uint64_t address(const unsigned char* bytes) const { return m_is64 ? word64(bytes) : word32(bytes); }

    std::optional<SectionHeader> section(std::uint64_t index) const {
        const std::uint64_t entrySize = m_is64 ? 64 : 40;
        if (m_sectionEntrySize < entrySize ||
            index > (std::numeric_limits<std::uint64_t>::max() - m_sectionsAt) / m_sectionEntrySize)
            return std::nullopt;
        std::array<unsigned char, 64> bytes{};
        if (!read(m_sectionsAt + index * m_sectionEntrySize, entrySize, bytes.data()))
            return std::nullopt;
        SectionHeader header;
        header.name = word32(bytes.data());
        header.type = word32(bytes.data() + 4);
        const unsigned char* rest = bytes.data() + (m_is64 ? 24 : 16);
        const std::size_t width = m_is64 ? 8 : 4;
        header.offset = address(rest);
        header.size = address(rest + width);
        header.link = word32(rest + 2 * width);
        header.alignment = address(rest + 2 * width + 8);
        return header;
    }

    // Whether the section is named .note.version in the section name table.
    bool isVersionSection(const SectionHeader& header, const SectionHeader& names) const {
        if (header.name >= names.size || names.size - header.name < kSectionName.size())
            return false;
        std::array<char, kSectionName.size()> name{};
        return read(names.offset + header.name, name.size(), name.data()) &&
               std::string_view(name.data(), name.size()) == kSectionName;
    }

    std::optional<VersionRecord> recordInSections() const {
        // A file with very many sections keeps their count and the name table's index in the first header.
        std::uint64_t count = m_sectionCount;
        std::uint64_t namesIndex = m_namesIndex;
        if (count == 0 || namesIndex == kExtendedIndex) {
            const std::optional<SectionHeader> first = section(0);
            if (!first)
                return std::nullopt;
            count = count == 0 ? first->size : count;
            namesIndex = namesIndex == kExtendedIndex ? first->link : namesIndex;
        }
        const std::optional<SectionHeader> names = section(namesIndex);
        if (namesIndex >= count || !names)
            return std::nullopt;
        for (std::uint64_t index = 1; index < count; ++index) {
            const std::optional<SectionHeader> header = section(index);
            if (!header)
                return std::nullopt;
            if (header->type != kSectionNotes || !isVersionSection(*header, *names))
                continue;
            if (auto record = recordInFileNotes(header->offset, header->size, header->alignment))
                return record;
        }
        return std::nullopt;
    }

    std::optional<VersionRecord> recordInSegments() const {
        const std::uint64_t entrySize = m_is64 ? 56 : 32;
        if (m_segmentsAt == 0 || m_segmentEntrySize < entrySize)
            return std::nullopt;
        for (std::uint64_t index = 0; index < m_segmentCount; ++index) {
            std::array<unsigned char, 56> bytes{};
            if (!read(m_segmentsAt + index * m_segmentEntrySize, entrySize, bytes.data()))
                return std::nullopt;
            const unsigned char* header = bytes.data();
            if (word32(header) != kSegmentNotes)
                continue;
            // Offset, size in the file and alignment: the 64-bit header moves the flags ahead of them.
            auto record =
                m_is64 ? recordInFileNotes(word64(header + 8), word64(header + 32), word64(header + 48))
                       : recordInFileNotes(word32(header + 4), word32(header + 16), word32(header + 28));
            if (record)
                return record;
        }
        return std::nullopt;
    }

    std::optional<VersionRecord> recordInFileNotes(std::uint64_t offset, std::uint64_t size,
                                                   std::uint64_t alignment) const {
        if (size > kLargestNotes)
            return std::nullopt;
        std::vector<unsigned char> notes(static_cast<std::size_t>(size));
        if (!read(offset, size, notes.data()))
            return std::nullopt;
        return findRecordInNotes(notes.data(), notes.size(), alignment == 8 ? 8 : 4, m_bigEndian);
    }

    int m_descriptor;
    std::uint64_t m_size;
    bool m_is64 = false;
    bool m_bigEndian = false;
    std::uint64_t m_segmentsAt = 0;
    std::uint64_t m_sectionsAt = 0;
    std::uint16_t m_segmentEntrySize = 0;
    std::uint16_t m_segmentCount = 0;
    std::uint16_t m_sectionEntrySize = 0;
    std::uint16_t m_sectionCount = 0;
    std::uint16_t m_namesIndex = 0;
};

} // namespace

std::optional<VersionRecord> readVersionRecord(const std::string& path) {
    const common::OpenedFile file = common::openRegularFile(path);
    if (!file.fd.valid() || file.status.st_size < 0)
        return std::nullopt;
    ElfFile elf(file.fd.get(), static_cast<std::uint64_t>(file.status.st_size));
    if (!elf.readHeader())
        return std::nullopt;
    return elf.findRecord();
}

// Here beside the file reader rather than with the title: the program reads its own record from memory.
std::string GetProductVersionString(const std::string& path) {
    return productVersionString(readVersionRecord(path));
}
