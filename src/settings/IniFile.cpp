// The profile (INI) format rules of the Windows profile functions, applied to content held in memory.
#include "settings/IniFile.h"

#include "common/CharsetConverter.h"
#include "common/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <langinfo.h>

namespace {

constexpr std::string_view kUtf8Mark{"\xEF\xBB\xBF"};
constexpr std::string_view kNewLine{"\r\n"};
constexpr std::string_view kBlanks{" \t\r\v\f\x1A"};

std::string_view trim(std::string_view text) {
    return common::trim(text, kBlanks);
}

std::string_view stripQuotes(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// One line of the file, as offsets into the whole content.
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;  // before the line end
    std::size_t next = 0; // start of the following line
    bool hasLineEnd() const { return next > end; }
};

// What a line means; names and value are views into the content.
struct ParsedLine {
    enum class Kind { Blank, Section, Entry } kind = Kind::Blank;
    std::string_view name;  // section name or key
    bool hasValue = false;  // the entry has an "="
    std::string_view value; // trimmed, quotes still on
};

std::size_t contentStart(std::string_view content) {
    return content.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
}

// Finds line ends with memchr, remembering the next CR and the next LF, so a big file is scanned at memory
// speed and every byte is looked at once.
class LineEnds {
public:
    explicit LineEnds(std::string_view content)
        : m_content(content), m_cr(find('\r', 0)), m_lf(find('\n', 0)) {}

    // The first CR or LF at or after pos, or the end of the content.
    std::size_t from(std::size_t pos) {
        if (m_cr < pos) {
            m_cr = find('\r', pos);
        }
        if (m_lf < pos) {
            m_lf = find('\n', pos);
        }
        return std::min(m_cr, m_lf);
    }

private:
    std::size_t find(char c, std::size_t from) const {
        if (from >= m_content.size()) {
            return m_content.size();
        }
        const void* hit = std::memchr(m_content.data() + from, c, m_content.size() - from);
        return hit == nullptr ? m_content.size()
                              : static_cast<std::size_t>(static_cast<const char*>(hit) - m_content.data());
    }

    std::string_view m_content;
    std::size_t m_cr;
    std::size_t m_lf;
};

Line lineAt(std::string_view content, std::size_t begin, LineEnds& ends) {
    const std::size_t end = ends.from(begin);
    Line line{begin, end, end};
    if (end < content.size()) {
        const bool crLf = content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
        line.next = end + (crLf ? 2 : 1);
    }
    return line;
}

// Whether the line's first character after blanks is "[": every other line is no section header.
bool mayBeHeader(std::string_view content, const Line& line) {
    return common::trimStart(content.substr(line.begin, line.end - line.begin), kBlanks).starts_with('[');
}

ParsedLine parseLine(std::string_view content, const Line& line) {
    std::string_view text = content.substr(line.begin, line.end - line.begin);
    // A NUL ends what the line has to say.
    text = trim(text.substr(0, text.find('\0')));
    ParsedLine parsed;
    if (text.empty()) {
        return parsed;
    }
    if (text.front() == '[') {
        const std::size_t close = text.rfind(']');
        if (close != std::string_view::npos) {
            parsed.kind = ParsedLine::Kind::Section;
            parsed.name = trim(text.substr(1, close - 1));
            return parsed;
        }
    }
    parsed.kind = ParsedLine::Kind::Entry;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        parsed.name = text;
        return parsed;
    }
    parsed.name = trim(text.substr(0, equals));
    parsed.hasValue = true;
    parsed.value = trim(text.substr(equals + 1));
    if (parsed.value.empty()) {
        // An empty value sits right after the "=", where a new one goes.
        parsed.value = text.substr(equals + 1, 0);
    }
    return parsed;
}

// Where a key stands in its section, or where it would go.
struct KeyLocation {
    bool sectionFound = false;
    bool keyFound = false;
    Line keyLine;
    ParsedLine key;
    Line lastLine; // the section's header or its last entry
};

KeyLocation locateKey(std::string_view content, std::string_view section, std::string_view key) {
    section = trim(section);
    key = trim(key);
    KeyLocation location;
    LineEnds ends(content);
    for (std::size_t pos = contentStart(content); pos < content.size();) {
        const Line line = lineAt(content, pos, ends);
        pos = line.next;
        // Entries before our section are skipped unparsed: in a big file that is nearly every line.
        if (!location.sectionFound && !mayBeHeader(content, line)) {
            continue;
        }
        const ParsedLine parsed = parseLine(content, line);
        if (parsed.kind == ParsedLine::Kind::Section) {
            if (location.sectionFound) {
                break; // only the first section of a name counts
            }
            if (common::equalsNoCase(parsed.name, section)) {
                location.sectionFound = true;
                location.lastLine = line;
            }
        } else if (parsed.kind == ParsedLine::Kind::Entry && location.sectionFound) {
            location.lastLine = line;
            if (common::equalsNoCase(parsed.name, key)) {
                location.keyFound = true;
                location.keyLine = line;
                location.key = parsed;
                break;
            }
        }
    }
    return location;
}

std::size_t offsetIn(std::string_view content, std::string_view part) {
    return static_cast<std::size_t>(part.data() - content.data());
}

std::string spliced(std::string_view content, std::size_t at, std::size_t removed,
                    std::string_view inserted) {
    std::string result;
    result.reserve(content.size() + inserted.size());
    result.append(content.substr(0, at));
    result.append(inserted);
    result.append(content.substr(at + removed));
    return result;
}

std::string insertedLines(bool needsLineEnd, std::string_view lines) {
    std::string text{needsLineEnd ? kNewLine : std::string_view{}};
    text += lines;
    return text;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

const char* utf16Name(ProfileEncoding encoding) {
    return encoding == ProfileEncoding::Utf16Le ? "UTF-16LE" : "UTF-16BE";
}

} // namespace

std::optional<std::string> findProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key) {
    const KeyLocation location = locateKey(content, section, key);
    if (!location.keyFound || !location.key.hasValue) {
        return std::nullopt;
    }
    return std::string{stripQuotes(location.key.value)};
}

std::string profileDefault(std::string_view def) {
    return std::string{stripQuotes(common::trimEnd(def, kBlanks))};
}

std::string readProfileValue(std::string_view content, std::string_view section, std::string_view key,
                             std::string_view def) {
    if (auto value = findProfileValue(content, section, key)) {
        return *value;
    }
    return profileDefault(def);
}

int parseProfileInt(std::string_view text) {
    text = common::trimStart(text, kBlanks);
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    int base = 10;
    if (pos + 1 < text.size() && text[pos] == '0') {
        const char prefix = text[pos + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) {
            pos += 2;
        }
    }
    std::uint32_t number = 0; // unsigned, so overflow wraps modulo 2^32 as the stored text demands
    for (; pos < text.size() && digitValue(text[pos]) < base; ++pos) {
        number =
            number * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digitValue(text[pos]));
    }
    if (negative) {
        number = 0u - number;
    }
    return static_cast<std::int32_t>(number);
}

int readProfileInt(std::string_view content, std::string_view section, std::string_view key, int def) {
    const auto value = findProfileValue(content, section, key);
    if (!value || value->empty()) {
        return def;
    }
    return parseProfileInt(*value);
}

bool isStorableProfileEntry(std::string_view section, std::string_view key, std::string_view value) {
    for (const std::string_view text : {section, key, value}) {
        if (text.find_first_of(std::string_view{"\r\n\0", 3}) != std::string_view::npos) {
            return false;
        }
    }
    // A key that read back as something else, or as a section header, would not be this key any more.
    key = trim(key);
    // The whole line counts: "[a=b]" reads as a header even though the "]" is in the value.
    const bool looksLikeHeader = key.starts_with('[') && (key.find(']') != std::string_view::npos ||
                                                          value.find(']') != std::string_view::npos);
    return !key.empty() && key.find('=') == std::string_view::npos && !looksLikeHeader;
}

std::string writeProfileValue(std::string_view content, std::string_view section, std::string_view key,
                              std::string_view value) {
    section = trim(section);
    key = trim(key);
    const KeyLocation location = locateKey(content, section, key);
    const std::string entry = std::string{key} + "=" + std::string{value} + std::string{kNewLine};
    if (location.keyFound) {
        const ParsedLine& found = location.key;
        if (!found.hasValue) {
            const std::size_t keyEnd = offsetIn(content, found.name) + found.name.size();
            return spliced(content, keyEnd, 0, "=" + std::string{value});
        }
        if (stripQuotes(found.value) == value) {
            return std::string{content};
        }
        return spliced(content, offsetIn(content, found.value), found.value.size(), value);
    }
    if (location.sectionFound) {
        const Line& last = location.lastLine;
        return spliced(content, last.next, 0, insertedLines(!last.hasLineEnd(), entry));
    }
    const std::size_t start = contentStart(content);
    const bool endsOpen = content.size() > start && content.back() != '\n' && content.back() != '\r';
    const std::string header = "[" + std::string{section} + "]" + std::string{kNewLine};
    return spliced(content, content.size(), 0, insertedLines(endsOpen, header + entry));
}

ProfileEncoding detectProfileEncoding(std::string_view raw) {
    if (raw.starts_with("\xFF\xFE")) {
        return ProfileEncoding::Utf16Le;
    }
    if (raw.starts_with("\xFE\xFF")) {
        return ProfileEncoding::Utf16Be;
    }
    return ProfileEncoding::Bytes;
}

std::string decodeProfileText(std::string_view raw) {
    const ProfileEncoding encoding = detectProfileEncoding(raw);
    if (encoding == ProfileEncoding::Bytes) {
        return std::string{raw};
    }
    common::CharsetConverter converter{nl_langinfo(CODESET), utf16Name(encoding)};
    // An odd last byte is half a character: drop it rather than fail the whole file.
    const std::string_view body = raw.substr(2, (raw.size() - 2) & ~std::size_t{1});
    return converter.convert(body, 2).value_or(std::string{});
}

std::optional<std::string> encodeProfileText(std::string_view text, ProfileEncoding encoding) {
    if (encoding == ProfileEncoding::Bytes) {
        return std::string{text};
    }
    common::CharsetConverter converter{utf16Name(encoding), nl_langinfo(CODESET)};
    auto body = converter.convert(text);
    if (!body) {
        return std::nullopt;
    }
    return std::string{encoding == ProfileEncoding::Utf16Le ? "\xFF\xFE" : "\xFE\xFF"} + *body;
}
