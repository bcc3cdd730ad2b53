// One table of line settings and the framing each must give, checked against the termios the
// POSIX backend builds and the device control block the Win32 backend builds.
#pragma once

#include <cstdint>

#include "serial/SerialPort.h"

namespace ledsign::test {

struct LineSettingsCase {
    LineSettings settings;
    uint8_t byteSize;   // what the line is asked for: the low byte of the data bits
    bool twoStopBits;
    bool posixRefuses;  // termios has no character size for it (or the speed)
};

inline constexpr LineSettingsCase kLineSettingsCases[] = {
    {{9600, 8, 1, kParityNone}, 8, false, false},
    {{9600, 8, 2, kParityNone}, 8, true, false},
    {{9600, 8, 0, kParityNone}, 8, false, false},
    {{9600, 8, 3, kParityNone}, 8, false, false},
    {{9600, 8, -1, kParityNone}, 8, false, false},
    {{2400, 7, 2, kParityEven}, 7, true, false},
    {{4800, 6, 1, kParityOdd}, 6, false, false},
    {{4800, 5, 1, kParityOdd}, 5, false, false},
    {{19200, 264, 1, kParityEven}, 8, false, false},  // only the low byte counts
    {{19200, 265, 2, kParityNone}, 9, true, true},
    {{9600, 9, 1, kParityNone}, 9, false, true},
    {{9600, 4, 1, kParityNone}, 4, false, true},
    {{12345, 8, 1, kParityNone}, 8, false, true},  // a speed termios has no constant for
};

}  // namespace ledsign::test
