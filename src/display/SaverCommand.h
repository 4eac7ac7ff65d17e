// The device's four-byte screen-saver command.
#pragma once

#include <array>

using SaverCommand = std::array<unsigned char, 4>;

// 1B 27 0A 01 switches the screen saver on, 1B 27 0A 00 off. No terminator.
SaverCommand makeSaverCommand(bool on);
