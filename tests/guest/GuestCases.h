// What the kernel's own serial drivers must do with each plug-in, written out by hand: the one table
// the guest test host runs and the host-side tests check. The bytes and pauses of each model come
// from tests/SignCases.h; this adds what the drivers keep and refuse.
#pragma once

#include <cstdint>

namespace ledsign::test {

// The two lines of the guest: the USB adapter (QEMU's FT232 under ftdi_sio) and the 16550 UART
// under the 8250 driver.
inline const char* const kGuestLines[] = {"ttyUSB0", "ttyS1"};

// A line setting asked for, and what each driver holds of it. "7E2" is 7 data bits, even parity,
// two stop bits; "-" is OpenLed's -2 (the driver did not keep it). dorun opens at 2400,8,NONE,1
// whatever it is asked, so it sees "8N1" on both lines for every row.
struct FramingCase {
    int32_t baud, dataBits, stopBits;
    const char* parity;
    const char* onUsb;    // what ftdi_sio holds: 7 or 8 data bits; CS6 it turns back (-2)
    const char* usbChip;  // what it sets the FT232 to: CS5 it keeps, but the chip runs 8 data bits
    const char* onUart;   // 8250: 5 to 8 data bits, any parity
};

inline const FramingCase kFramingCases[] = {
    {4800, 8, 2, "NONE", "8N2", "8N2", "8N2"},
    {2400, 7, 2, "EVEN", "7E2", "7E2", "7E2"},
    {9600, 7, 1, "ODD", "7O1", "7O1", "7O1"},
    {19200, 8, 1, "EVEN", "8E1", "8E1", "8E1"},
    {4800, 6, 1, "ODD", "-", "-", "6O1"},
    {9600, 5, 1, "EVEN", "5E1", "8E1", "5E1"},
};

// The speeds the guest opens each plug-in at, in turn: every one the plug-ins name.
inline const int32_t kGuestSpeeds[] = {50,    75,     110,    134,    150,    200,    300,    600,
                                       1200,  1800,   2400,   4800,   9600,   19200,  38400,  57600,
                                       115200, 230400, 460800, 500000, 576000, 921600, 1000000};

// What OpenLed gives at a speed on each driver, and the rate QEMU's device is then set to.
struct SpeedCase {
    const char* line;
    int32_t baud;
    int32_t result;
    int32_t deviceBaud;
};

inline const SpeedCase kSpeedCases[] = {
    {"ttyUSB0", 1000000, 1, 1000000},
    {"ttyUSB0", 57600, 1, 57553},  // the FT232B's nearest divisor
    // Below the FT232B's slowest rate (about 183): ftdi_sio keeps 50 in termios and sets a divisor
    // that overflows. It refuses no speed the plug-ins name (it takes up to 3 Mbaud).
    {"ttyUSB0", 50, 1, 276},
    {"ttyS1", 115200, 1, 115200},
    {"ttyS1", 134, 1, 133},
    {"ttyS1", 230400, -2, 0},  // above a 16550's 115200 (1.8432 MHz / 16): the driver keeps the old rate
    {"ttyS1", 1000000, -2, 0},
};

}  // namespace ledsign::test
