// Reads the fixed version record back out of an ELF program file with libelf, trusting nothing in the file.
#include "version/VersionRecord.h"

#include "settings/UniqueFd.h"
#include "version/Title.h"

#include <cstring>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ElfHandle {
public:
    explicit ElfHandle(Elf* elf) : m_elf(elf) {}
    ~ElfHandle() {
        if (m_elf)
            elf_end(m_elf);
    }
    ElfHandle(const ElfHandle&) = delete;
    ElfHandle& operator=(const ElfHandle&) = delete;
    Elf* get() const { return m_elf; }

private:
    Elf* m_elf;
};

bool libelfReady() {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

// Opens path for reading only if it is a regular file: a FIFO or device must never block us or see an open.
UniqueFd openRegularFile(const std::string& path) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode))
        return UniqueFd{};
    UniqueFd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (!file.valid())
        return file;
    struct stat after {};
    // The name could have been swapped for something else between the two looks.
    if (::fstat(file.get(), &after) != 0 || !S_ISREG(after.st_mode) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        return UniqueFd{};
    }
    return file;
}

// The record inside one note section's data, checking every size against the data actually read.
std::optional<VersionRecord> recordInNotes(Elf_Data* data) {
    const std::string_view wantedName(VersionRecord::kNoteName, sizeof VersionRecord::kNoteName);
    const auto* bytes = static_cast<const unsigned char*>(data->d_buf);
    std::size_t offset = 0;
    while (offset < data->d_size) {
        GElf_Nhdr header{};
        std::size_t nameOffset = 0;
        std::size_t descOffset = 0;
        const std::size_t next = gelf_getnote(data, offset, &header, &nameOffset, &descOffset);
        if (next == 0 || next <= offset)
            break;
        offset = next;
        if (header.n_type != VersionRecord::kNoteType || header.n_descsz < VersionRecord::kSize ||
            header.n_namesz != wantedName.size())
            continue;
        if (nameOffset > data->d_size || data->d_size - nameOffset < header.n_namesz ||
            descOffset > data->d_size || data->d_size - descOffset < VersionRecord::kSize)
            continue;
        if (std::memcmp(bytes + nameOffset, wantedName.data(), wantedName.size()) != 0)
            continue;
        return VersionRecord::fromBytes(bytes + descOffset);
    }
    return std::nullopt;
}

} // namespace

std::optional<VersionRecord> readVersionRecord(const std::string& path) {
    if (!libelfReady())
        return std::nullopt;
    const UniqueFd file = openRegularFile(path);
    if (!file.valid())
        return std::nullopt;
    // ELF_C_READ reads through the descriptor and checks each section against the file's size; no mapping, so
    // a file cut short underneath us cannot fault.
    const ElfHandle elf(elf_begin(file.get(), ELF_C_READ, nullptr));
    if (!elf.get() || elf_kind(elf.get()) != ELF_K_ELF)
        return std::nullopt;
    std::size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf.get(), &namesIndex) != 0)
        return std::nullopt;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf.get(), section)) != nullptr) {
        GElf_Shdr header{};
        if (!gelf_getshdr(section, &header) || header.sh_type != SHT_NOTE)
            continue;
        const char* name = elf_strptr(elf.get(), namesIndex, header.sh_name);
        if (!name || std::strcmp(name, ".note.version") != 0)
            continue;
        Elf_Data* data = elf_getdata(section, nullptr);
        if (!data || !data->d_buf)
            continue;
        if (auto record = recordInNotes(data))
            return record;
    }
    return std::nullopt;
}

// Here beside the file reader rather than with the title: the program reads its own record from memory and so
// links no libelf.
std::string GetProductVersionString(const std::string& path) {
    return productVersionString(readVersionRecord(path));
}
