// Bench-only: the Option.ini a typical installation has, and a large one for the worst case.
#pragma once

#include <string>

// Section "COMM" with its six values, after a small unrelated section.
inline std::string TypicalProfileText() {
    return "[Display]\r\nBrightness=80\r\nContrast=50\r\n\r\n"
           "[COMM]\r\nPort=COM3\r\nBaud=6\r\nIP1=192\r\nIP2=168\r\nIP3=2\r\nIP4=10\r\n";
}

// About 1 MB of other sections ahead of the same "COMM" section, so a read has to pass all of them.
inline std::string LargeProfileText() {
    std::string text;
    text.reserve(1100000);
    for (int section = 0; text.size() < 1000000; ++section) {
        text += "[Extra" + std::to_string(section) + "]\r\n";
        for (int key = 0; key < 20; ++key) {
            text += "Key" + std::to_string(key) + "=Some value of a plausible length " + std::to_string(key) +
                    "\r\n";
        }
    }
    return text + TypicalProfileText();
}
