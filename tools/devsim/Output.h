// devsim's output lines, shared by the pseudo-terminal and the network server modes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devsim {

// "1B 27 0A 01": how both modes show bytes.
std::string hexBytes(const unsigned char* bytes, std::size_t count);
std::string jsonString(std::string_view text);
// Every line is flushed at once: the tests read this output through a pipe.
void printLine(const std::string& line);

} // namespace devsim
