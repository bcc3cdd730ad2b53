// Pure pieces of the POSIX backend, apart so that tests can check them without a device:
// a pty never keeps a character size or parity, so those are checked on the termios built here.
#pragma once

#include <termios.h>

#include <cstddef>

#include "serial/SerialPort.h"

namespace ledsign {

// Maps a port name to a device path: an absolute path stands; "COMn" (n >= 1) is
// /dev/ttyS(n-1); any other name lies under /dev/. False for an empty name or no room.
bool ResolveDevicePath(const char* portName, char* path, size_t pathSize);

// The B-constant of a baud rate, or false when the rate is not one the line can take.
bool BaudConstant(int32_t baudRate, speed_t* speed);

// Builds raw-mode settings from the device's current ones: speed, character size, parity
// and stop bits from the settings; flow control stays as the device reports it.
// False when the settings cannot be applied (data bits outside 5..8, unknown baud rate).
bool BuildTermios(const termios& current, const LineSettings& settings, termios* result);

}  // namespace ledsign
