#include "ServerWords.h"

#include "VellPortDll.h"

#include <algorithm>
#include <utility>

namespace portlink {

std::string serverWords(const std::string& text) {
    std::string words;
    for (const char c : text) {
        const bool printable = c > ' ' && c < 0x7F;
        if (printable) {
            words += c;
        } else if (!words.empty() && words.back() != ' ') {
            words += ' ';
        }
    }
    words.erase(words.find_last_not_of(' ') + 1); // npos + 1: nothing printable, nothing kept
    return words;
}

int refusal(const std::string& said, const std::string& address, std::string& reason) {
    if (said.find("in use") != std::string::npos) {
        reason = "another client holds the port at " + address + " (it said \"" + said + "\")";
        return VELLPORT_ERR_BUSY;
    }
    if (said.find("Device open failure") != std::string::npos) {
        reason = "the server at " + address + " cannot open its serial device (it said \"" + said + "\")";
        return VELLPORT_ERR_NO_DEVICE;
    }
    return VELLPORT_OK;
}

int closedEarly(std::string what, const std::string& serverText, const std::string& address,
                std::string& reason) {
    const std::string said = serverWords(serverText);
    if (const int code = refusal(said, address, reason); code != VELLPORT_OK) {
        return code;
    }
    if (!said.empty()) {
        what += " (it said \"" + said + "\")";
    }
    reason = std::move(what);
    return VELLPORT_ERR_PROTOCOL;
}

void keepText(std::string& kept, const std::uint8_t* bytes, std::size_t count) {
    kept.append(bytes, bytes + std::min(count, kLongestServerText - kept.size()));
}

} // namespace portlink
