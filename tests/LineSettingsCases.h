// The serial module's case tables, each run against both backends: line settings and the framing
// each must give (checked against the termios the POSIX backend builds and the device control block
// the Win32 backend builds), Read's length rule, and the line most cases open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// How Read answers: the read length set, the bytes waiting on the line, the length Read asks for
// and whether the read completes.
struct ReadRuleCase {
    const char* name;
    int32_t readLength;
    int waiting;
    int32_t asked;
    bool complete;
};

inline constexpr ReadRuleCase kReadRuleCases[] = {
    {"automatic with 7 waiting", 0, 7, 7, true},
    {"automatic with nothing waiting", 0, 0, 50, false},
    {"fixed 12 with 20 waiting", 12, 20, 12, true},
    {"fixed 12 with 7 waiting cannot complete", 12, 7, 12, false},
    {"-5 is automatic", -5, 7, 7, true},
    {"fixed 150 is bounded to the buffer", 150, 120, 100, true},
    {"more than the buffer waiting is bounded", 0, 130, 100, true},
};

// Opens `port` on `name` at 9600 baud, 8 data bits, 1 stop bit, no parity; Open's result.
inline int32_t OpenAt9600(SerialPort& port, std::string_view name) {
    port.Configure(name, 9600, 8, 1, "NONE");
    return port.Open();
}

// The bytes the device side sends for a Read case: "ABC...Z" repeated.
inline std::string Pattern(size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) bytes += static_cast<char>('A' + i % 26);
    return bytes;
}

}  // namespace ledsign::test
