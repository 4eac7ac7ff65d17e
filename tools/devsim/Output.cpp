#include "Output.h"

#include <cstdio>

namespace devsim {

std::string hexBytes(const unsigned char* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
        if (!text.empty()) {
            text += ' ';
        }
        text += byte;
    }
    return text;
}

std::string jsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

void printLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace devsim
