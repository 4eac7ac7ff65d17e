// The display's line settings, the same for the window and vellport.
#pragma once

#include "VellPortDll.h"

struct LineSettings {
    int dataBits;
    char parity; // as SetComParam takes it: 'N' (0x4E), none
    int stopBits;
    int flowControl;
};

// 8 data bits, no parity, 1 stop bit, no flow control.
inline constexpr LineSettings kDisplayLine{8, 'N', 1, 0};

// SetComParam with the display's line settings: the rate is the only choice.
inline int setDisplayLine(const char* portName, int rate) {
    return SetComParam(portName, rate, kDisplayLine.dataBits, kDisplayLine.parity, kDisplayLine.stopBits,
                       kDisplayLine.flowControl);
}
