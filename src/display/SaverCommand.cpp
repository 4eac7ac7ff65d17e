#include "SaverCommand.h"

SaverCommand makeSaverCommand(bool on) {
    // Escape, apostrophe, line feed, then the state: the device takes exactly these four bytes.
    return {0x1B, 0x27, 0x0A, static_cast<unsigned char>(on ? 0x01 : 0x00)};
}
