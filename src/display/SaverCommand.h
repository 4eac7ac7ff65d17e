// The device's four-byte screen-saver command.
#pragma once

#include <array>

using SaverCommand = std::array<unsigned char, 4>;

// 1B 27 0A 01 switches the screen saver on, 1B 27 0A 00 off. No terminator.
constexpr SaverCommand makeSaverCommand(bool on) {
    return {0x1B, 0x27, 0x0A, static_cast<unsigned char>(on ? 0x01 : 0x00)};
}
