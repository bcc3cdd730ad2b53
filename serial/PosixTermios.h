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
// The baud rate of a B-constant, or 0 for one the table does not know.
int32_t BaudOfConstant(speed_t speed);

// Builds raw-mode settings from the device's current ones: speed, character size, parity
// and stop bits from the settings; no software flow control (IXON, IXOFF, IXANY cleared);
// CRTSCTS stays as the device reports it.
// False when the settings cannot be applied (data bits outside 5..8, unknown baud rate).
bool BuildTermios(const termios& current, const LineSettings& settings, termios* result);

// Whether the settings read back from the device are the ones asked for: speed and stop bits
// always; character size and parity except on a pty, which never keeps them.
bool LineTookSettings(const termios& wanted, const termios& applied, bool pseudoTerminal);

// About how long `queued` bytes take to leave at the speed: the pause between looks at a
// device's output queue while a write drains. At least 1 ms, at most 1 s.
uint32_t DrainEstimateMs(uint32_t queued, int32_t baudRate);

}  // namespace ledsign
