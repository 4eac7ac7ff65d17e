// The fixed version record a program file carries, and reading it back from a file on disk or from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The 52-byte fixed file information record: thirteen 32-bit fields, stored little-endian.
struct VersionRecord {
    static constexpr std::uint32_t kSignature = 0xFEEF04BD;
    static constexpr std::size_t kSize = 52;
    // The ELF note that holds the record in section .note.version (kept in step with
    // cmake/VersionRecord.cmake).
    static constexpr char kNoteName[] = "Vell";
    static constexpr std::uint32_t kNoteType = 1;

    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMs = 0;
    std::uint32_t fileVersionLs = 0;
    std::uint32_t productVersionMs = 0;
    std::uint32_t productVersionLs = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOs = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMs = 0;
    std::uint32_t fileDateLs = 0;

    // Decodes the kSize bytes at bytes; the signature is not checked here.
    static VersionRecord fromBytes(const unsigned char* bytes);
};

// The record from the .note.version section of the ELF file at path. Nothing when the file is not a regular,
// readable ELF file, has no such note, the note is cut short, or the section lies outside the file.
std::optional<VersionRecord> readVersionRecord(const std::string& path);

// The record among ELF notes (each a header of three 32-bit words in the file's byte order, then the name and
// the descriptor, each padded to alignment); nothing when no note holds one or a note runs past size.
std::optional<VersionRecord> findRecordInNotes(const unsigned char* notes, std::size_t size,
                                               std::size_t alignment, bool bigEndian);

// The running program's own record, from the note segments the loader mapped; nothing when it carries none.
std::optional<VersionRecord> loadedVersionRecord();

// "a.b.c.d" of the record's product version, or "" when there is no record or its signature is wrong.
std::string productVersionString(const std::optional<VersionRecord>& record);
