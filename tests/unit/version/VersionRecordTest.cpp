// Reading the product version back from real program files, and refusing every file that does not hold a
// sound record.
#include "version/VersionRecord.h"

#include "Files.h"
#include "TempDir.h"
#include "version/Title.h"

#include <algorithm>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct BuiltFile {
    const char* name;
    const char* path;
    const char* expected;
};

std::ostream& operator<<(std::ostream& out, const BuiltFile& row) {
    return out << row.name;
}

class BuiltProgramVersion : public ::testing::TestWithParam<BuiltFile> {};

TEST_P(BuiltProgramVersion, ReadsProductVersion) {
    EXPECT_EQ(GetProductVersionString(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, BuiltProgramVersion,
    ::testing::Values(BuiltFile{"record_of_the_product_version", VELL_PROBE_RECORD, "1.0.0.1"},
                      BuiltFile{"file_version_2_does_not_show", VELL_PROBE_FILE2, "1.0.0.1"},
                      BuiltFile{"parts_in_decimal_without_leading_zeros", VELL_PROBE_WIDE, "2.10.0.300"},
                      BuiltFile{"stripped_program_keeps_record", VELL_PROBE_STRIPPED, "2.10.0.300"},
                      BuiltFile{"elf32_object_with_record", VELL_RECORD_ELF32, "4.3.2.1"},
                      BuiltFile{"largest_parts_stay_unsigned", VELL_PROBE_MAX, "65535.65535.65535.65535"},
                      BuiltFile{"elf_without_record", VELL_PROBE_PLAIN, ""},
                      BuiltFile{"record_with_wrong_signature", VELL_PROBE_BADSIG, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionRecordFields, FileVersionIsKeptApartFromProductVersion) {
    const auto record = readVersionRecord(VELL_PROBE_FILE2);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->signature, VersionRecord::kSignature);
    EXPECT_EQ(record->fileVersionMs, 0x00020000u);
    EXPECT_EQ(record->fileVersionLs, 0x00000000u);
    EXPECT_EQ(record->productVersionMs, 0x00010000u);
    EXPECT_EQ(record->productVersionLs, 0x00000001u);
}

TEST(VersionRecordFields, DecodesLittleEndianFieldsInOrder) {
    unsigned char bytes[VersionRecord::kSize];
    for (std::size_t i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    const VersionRecord record = VersionRecord::fromBytes(bytes);
    EXPECT_EQ(record.signature, 0x03020100u);
    EXPECT_EQ(record.fileVersionMs, 0x0B0A0908u);
    EXPECT_EQ(record.productVersionMs, 0x13121110u);
    EXPECT_EQ(record.productVersionLs, 0x17161514u);
    EXPECT_EQ(record.fileDateLs, 0x33323130u);
}

// A big-endian file keeps its note headers in its own byte order; the record itself is little-endian always.
TEST(VersionRecordFields, BigEndianNoteHeadersAreRead) {
    std::string notes("\0\0\0\x05\0\0\0\x34\0\0\0\x01Vell\0\0\0\0", 20);
    std::string record(VersionRecord::kSize, '\0');
    record.replace(0, 4, "\xBD\x04\xEF\xFE");
    record.replace(16, 8, std::string("\x02\0\x01\0\x04\0\x03\0", 8));
    notes += record;
    const auto* bytes = reinterpret_cast<const unsigned char*>(notes.data());
    EXPECT_EQ(productVersionString(findRecordInNotes(bytes, notes.size(), 4, true)), "1.2.3.4");
    EXPECT_FALSE(findRecordInNotes(bytes, notes.size(), 4, false).has_value());
}

// Files that are not ELF programs, or are no files at all.
struct OddFile {
    const char* name;
    std::function<std::string(const TempDir&)> make;
};

std::ostream& operator<<(std::ostream& out, const OddFile& row) {
    return out << row.name;
}

class OddFileVersion : public ::testing::TestWithParam<OddFile> {};

TEST_P(OddFileVersion, GivesEmptyText) {
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string path = GetParam().make(dir);
    EXPECT_EQ(GetProductVersionString(path), "");
    EXPECT_FALSE(readVersionRecord(path).has_value());
}

std::string MakeText(const TempDir& dir) {
    const std::string path = dir.file("notes.txt");
    const std::string text = "VellSetting 1.0.0.1\n";
    WriteBytes(path, text);
    return path;
}

std::string MakeEmpty(const TempDir& dir) {
    const std::string path = dir.file("empty");
    WriteBytes(path, "");
    return path;
}

// Only the ELF magic: the header that should follow is missing.
std::string MakeMagicOnly(const TempDir& dir) {
    const std::string path = dir.file("magic");
    WriteBytes(path, "\x7F"
                     "ELF");
    return path;
}

// The record's bytes on their own, outside any ELF file.
std::string MakeBareRecord(const TempDir& dir) {
    const std::string path = dir.file("bare");
    std::string record(VersionRecord::kSize, '\0');
    const unsigned char start[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 0, 0, 1, 0,
                                   1,    0,    0,    0,    0, 0, 1, 0, 1, 0, 0, 0};
    std::copy(std::begin(start), std::end(start), record.begin());
    WriteBytes(path, record);
    return path;
}

std::string MakeDirectory(const TempDir& dir) {
    const std::string path = dir.file("folder.exe");
    std::filesystem::create_directory(path);
    return path;
}

// Opening a FIFO for reading blocks until a writer comes: the read must not even try.
std::string MakeFifo(const TempDir& dir) {
    const std::string path = dir.file("fifo");
    if (::mkfifo(path.c_str(), 0600) != 0)
        ADD_FAILURE() << "mkfifo failed";
    return path;
}

std::string MakeMissing(const TempDir& dir) {
    return dir.file("no-such-program");
}

std::string MakeEmptyPath(const TempDir&) {
    return "";
}

INSTANTIATE_TEST_SUITE_P(NotPrograms, OddFileVersion,
                         ::testing::Values(OddFile{"text_file", MakeText}, OddFile{"empty_file", MakeEmpty},
                                           OddFile{"elf_magic_only", MakeMagicOnly},
                                           OddFile{"record_bytes_without_elf", MakeBareRecord},
                                           OddFile{"directory", MakeDirectory}, OddFile{"fifo", MakeFifo},
                                           OddFile{"missing_path", MakeMissing},
                                           OddFile{"empty_path", MakeEmptyPath}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VersionOfLinkedFile, SymbolicLinkReadsItsTarget) {
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string link = dir.file("VellSetting");
    std::filesystem::create_symlink(VELL_PROBE_WIDE, link);
    EXPECT_EQ(GetProductVersionString(link), "2.10.0.300");
}

TEST(VersionOfCopiedFile, CopyOfProgramKeepsItsRecord) {
    // The damaged-copy tests below rely on an intact copy reading back.
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string copy = dir.file("copy");
    WriteBytes(copy, ReadBytes(VELL_PROBE_RECORD));
    EXPECT_EQ(GetProductVersionString(copy), "1.0.0.1");
}

TEST(VersionOfCopiedFile, WithoutSectionHeadersTheNoteSegmentServes) {
    std::string file = ReadBytes(VELL_PROBE_RECORD);
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    header.e_shoff = 0;
    header.e_shnum = 0;
    header.e_shstrndx = 0;
    std::memcpy(file.data(), &header, sizeof header);
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string path = dir.file("no-sections");
    WriteBytes(path, file);
    EXPECT_EQ(GetProductVersionString(path), "1.0.0.1");
}

// A program file cut short at various lengths, as an interrupted copy leaves it.
class TruncatedProgram : public ::testing::TestWithParam<double> {};

TEST_P(TruncatedProgram, GivesEmptyText) {
    const std::string whole = ReadBytes(VELL_PROBE_RECORD);
    ASSERT_GT(whole.size(), 1000u);
    const double fraction = GetParam();
    const std::size_t length =
        fraction < 0 ? whole.size() - 1 : static_cast<std::size_t>(whole.size() * fraction);
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string path = dir.file("cut");
    WriteBytes(path, whole.substr(0, length));
    EXPECT_EQ(GetProductVersionString(path), "") << "cut at " << length << " of " << whole.size();
}

// -1 stands for "all but the last byte".
INSTANTIATE_TEST_SUITE_P(Lengths, TruncatedProgram,
                         ::testing::Values(0.0001, 0.002, 0.01, 0.1, 0.5, 0.9, 0.99, -1.0),
                         [](const auto& info) {
                             return info.param < 0 ? std::string("all_but_last_byte")
                                                   : "kept_per_ten_thousand_" +
                                                         std::to_string(static_cast<int>(info.param * 10000));
                         });

TEST(TruncatedProgramHeader, EveryLengthWithinTheElfHeaderGivesEmptyText) {
    const std::string whole = ReadBytes(VELL_PROBE_RECORD);
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string path = dir.file("cut");
    for (std::size_t length = 0; length <= sizeof(Elf64_Ehdr); ++length) {
        WriteBytes(path, whole.substr(0, length));
        EXPECT_EQ(GetProductVersionString(path), "") << "cut at " << length;
    }
}

// Where the record's note and its section header sit in a copy of the probe with a record.
struct NoteLayout {
    std::size_t noteOffset = 0;    // start of the note header (namesz) in the file
    std::size_t sectionHeader = 0; // file offset of .note.version's Elf64_Shdr
};

NoteLayout FindNote(const std::string& file) {
    NoteLayout layout;
    // namesz 5, descsz 52, type 1, "Vell" padded to 8, then the signature: unique in the file.
    const std::string pattern("\x05\0\0\0\x34\0\0\0\x01\0\0\0Vell\0\0\0\0\xBD\x04\xEF\xFE", 24);
    layout.noteOffset = file.find(pattern);
    EXPECT_NE(layout.noteOffset, std::string::npos) << "note not found";

    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    EXPECT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        const std::size_t at = header.e_shoff + i * header.e_shentsize;
        Elf64_Shdr section;
        std::memcpy(&section, file.data() + at, sizeof section);
        if (section.sh_type == SHT_NOTE && section.sh_offset == layout.noteOffset)
            layout.sectionHeader = at;
    }
    EXPECT_NE(layout.sectionHeader, 0u) << "section header not found";
    return layout;
}

template <typename Field>
void Patch(std::string& file, std::size_t at, Field value) {
    std::memcpy(file.data() + at, &value, sizeof value);
}

// One field of the copy overwritten, each a way a damaged or hostile file could lie.
struct Damage {
    const char* name;
    std::function<void(std::string&, const NoteLayout&)> apply;
};

std::ostream& operator<<(std::ostream& out, const Damage& row) {
    return out << row.name;
}

class DamagedProgram : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedProgram, GivesEmptyText) {
    std::string file = ReadBytes(VELL_PROBE_RECORD);
    const NoteLayout layout = FindNote(file);
    ASSERT_FALSE(HasFailure());
    GetParam().apply(file, layout);
    const TempDir dir("scratch", VELL_TEST_SCRATCH);
    const std::string path = dir.file("damaged");
    WriteBytes(path, file);
    EXPECT_EQ(GetProductVersionString(path), "");
}

constexpr std::size_t kShOffset = offsetof(Elf64_Shdr, sh_offset);
constexpr std::size_t kShSize = offsetof(Elf64_Shdr, sh_size);

INSTANTIATE_TEST_SUITE_P(
    Fields, DamagedProgram,
    ::testing::Values(
        Damage{"signature_byte_flipped",
               [](std::string& f, const NoteLayout& l) { f[l.noteOffset + 20] ^= 0x01; }},
        Damage{"descriptor_shorter_than_record",
               [](std::string& f, const NoteLayout& l) { Patch<std::uint32_t>(f, l.noteOffset + 4, 48); }},
        Damage{"descriptor_longer_than_section",
               [](std::string& f, const NoteLayout& l) {
                   Patch<std::uint32_t>(f, l.noteOffset + 4, 0x7FFFFFF0);
               }},
        Damage{
            "name_size_past_section",
            [](std::string& f, const NoteLayout& l) { Patch<std::uint32_t>(f, l.noteOffset, 0xFFFFFFF0); }},
        Damage{"other_note_type",
               [](std::string& f, const NoteLayout& l) { Patch<std::uint32_t>(f, l.noteOffset + 8, 2); }},
        Damage{"other_note_owner", [](std::string& f, const NoteLayout& l) { f[l.noteOffset + 12] = 'W'; }},
        Damage{"section_cut_before_record_ends",
               [](std::string& f, const NoteLayout& l) {
                   Patch<Elf64_Xword>(f, l.sectionHeader + kShSize, 40);
               }},
        Damage{"section_runs_past_end_of_file",
               [](std::string& f, const NoteLayout& l) {
                   Patch<Elf64_Off>(f, l.sectionHeader + kShOffset, f.size() - 16);
               }},
        Damage{"section_starts_past_end_of_file",
               [](std::string& f, const NoteLayout& l) {
                   Patch<Elf64_Off>(f, l.sectionHeader + kShOffset, 0xFFFFFFFFFFFF0000ull);
               }},
        Damage{"section_size_huge",
               [](std::string& f, const NoteLayout& l) {
                   Patch<Elf64_Xword>(f, l.sectionHeader + kShSize, ~0ull);
               }},
        Damage{
            "section_name_index_out_of_range",
            [](std::string& f,
               const NoteLayout&
                   l) { Patch<Elf64_Word>(f, l.sectionHeader + offsetof(Elf64_Shdr, sh_name), 0x7FFFFFFF); }},
        Damage{"section_header_table_past_end",
               [](std::string& f,
                  const NoteLayout&) { Patch<Elf64_Off>(f, offsetof(Elf64_Ehdr, e_shoff), f.size() - 8); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
