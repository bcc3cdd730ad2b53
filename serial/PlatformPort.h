// Per-platform state of an open serial port and the small backend that drives it.
// SerialPort keeps the portable logic; these functions are the only platform calls.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <termios.h>
#endif

namespace ledsign {

struct LineSettings;

#if defined(_WIN32)
struct PlatformPort {
    HANDLE commHandle;  // null: none held; INVALID_HANDLE_VALUE: the last open failed
    DCB dcb;
    OVERLAPPED writeOverlapped;
    OVERLAPPED readOverlapped;
    COMSTAT comStat;
};
#else
constexpr int kNoDescriptor = -1;      // no port held
constexpr int kFailedDescriptor = -2;  // the last open failed
struct PlatformPort {
    int fd;  // an open descriptor, kNoDescriptor or kFailedDescriptor
};
#endif

// Opens the named port with the settings: 1, -1 (cannot open / held elsewhere) or -2 (refused).
int32_t PlatformOpen(PlatformPort& port, const char* portName, const LineSettings& settings);
// Releases everything the port holds and leaves it "no port held".
void PlatformClose(PlatformPort& port);
// Writes every byte and waits until they have left: 1 or -1.
int32_t PlatformWrite(PlatformPort& port, const uint8_t* bytes, uint32_t count);
// True while a port is held (an open descriptor or handle).
bool PlatformHolds(const PlatformPort& port);
// True after an open that failed with -1 (the "invalid handle" state).
bool PlatformOpenFailed(const PlatformPort& port);
void PlatformSleep(uint32_t milliseconds);

}  // namespace ledsign
