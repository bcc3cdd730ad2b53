// Per-platform state of an open serial port and the small backend that drives it.
// SerialPort keeps the portable logic; these functions are the only platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <termios.h>
#endif

namespace ledsign {

struct LineSettings;

// Why the port's last open or write failed: what the line's recovery and its trace go by.
struct LineFault {
    const char* operation;  // the system call that failed ("write", "poll", ...), null when none did
    int32_t code;           // errno or GetLastError; 0 when the system gave no number
    bool gone;              // the device went away: the handle is of no further use
    bool timedOut;          // the write waited out its deadline
};

#if defined(_WIN32)
struct PlatformPort {
    HANDLE commHandle;  // null: none held; INVALID_HANDLE_VALUE: the last open failed
    DCB dcb;
    OVERLAPPED writeOverlapped;
    OVERLAPPED readOverlapped;
    COMSTAT comStat;
    // A transfer whose abort had not finished when its call gave up: its record is still the
    // system's, so it is not used again until the transfer has ended.
    bool writeInFlight;
    bool readInFlight;
    LineFault fault;
};

// The device control block for the settings: the one found on the port with only speed, byte
// size, parity and stop bits changed (2 means two stop bits, any other value one; the low byte
// of the data bits). Flow control, special characters and error handling stay as found.
DCB BuildDcb(const DCB& current, const LineSettings& settings);

// What a pause waits with, looked up at run time so that the DLLs still load on Windows XP: a
// high-resolution waitable timer (Windows 10 1803 and later; null elsewhere), ntdll's
// NtSetTimerResolution, which raises the system timer's resolution as timeBeginPeriod does (null
// if absent), and the Sleep the waits without the timer use (the system's).
using TimerResolutionSetter = LONG(WINAPI*)(ULONG desired100ns, BOOLEAN set, ULONG* current100ns);
struct PauseTimers {
    HANDLE highResolutionTimer;  // the caller's to close
    TimerResolutionSetter setResolution;
    void(WINAPI* sleep)(DWORD milliseconds);
};
PauseTimers LookUpPauseTimers();
// Waits until `milliseconds` have passed by the performance counter, never less: on the
// high-resolution timer when there is one, else with Sleep and the timer resolution raised to 1 ms
// for the pause, else with Sleep alone; each wait is checked against the counter and repeated for
// what is left.
void PausePrecisely(uint32_t milliseconds, const PauseTimers& timers);

#else
constexpr int kNoDescriptor = -1;      // no port held
constexpr int kFailedDescriptor = -2;  // the last open failed
constexpr const char* kDrainThreadName = "serial-drain";

// How a write waits for its last bytes to leave the device, chosen at open by the kind of device.
enum class DrainKind : uint8_t {
    kNone,    // a pty: nothing to wait for once the write has landed in the far side's buffer
    kInline,  // a UART under the serial core: tcdrain on the caller's thread, which the driver bounds
    kHelper,  // any other driver (USB adapters): tcdrain on the drain thread, waited for to the deadline
};

class DrainThread;

struct PlatformPort {
    int fd;               // an open descriptor, kNoDescriptor or kFailedDescriptor
    uint32_t inQueue;     // bytes waiting in the input queue as last counted by the caller's thread
    int32_t baudRate;     // the speed the open port runs at
    bool pseudoTerminal;  // a pty: no output queue of its own, and it never keeps size or parity
    DrainKind drain;
    bool discardOwed;  // an abandoned write's bytes are to be flushed once the driver lets go
    // Whether the port drains on a thread of its own (the library's signs: a drain one sign's
    // driver holds must not hold another's), made when a device that needs one is opened; else
    // on the module's.
    bool ownDrainThreadWanted;
    DrainThread* ownDrainThread;
    LineFault fault;
};

#endif

// Opens the named port with the settings: 1, -1 (cannot open / held elsewhere) or -2 (refused);
// a failure leaves its cause in port.fault.
int32_t PlatformOpen(PlatformPort& port, const char* portName, const LineSettings& settings);
// Releases what the port keeps across opens (its own drain thread); for when the port goes.
void PlatformForget(PlatformPort& port);
// Releases everything the port holds and leaves it "no port held".
void PlatformClose(PlatformPort& port);
// Writes every byte and waits until they have left: 1, or -1 when the write failed or did not
// complete within WriteDeadlineMs at the port's speed (then what is left of it is discarded
// from the output queue; the port stays open). A failure leaves its cause in port.fault.
int32_t PlatformWrite(PlatformPort& port, const uint8_t* bytes, uint32_t count);
// True while a port is held (an open descriptor or handle).
bool PlatformHolds(const PlatformPort& port);
// True after an open that failed with -1 (the "invalid handle" state).
bool PlatformOpenFailed(const PlatformPort& port);
void PlatformSleep(uint32_t milliseconds);
// A millisecond clock that only moves forward (it may wrap: compare differences).
uint32_t PlatformNowMs();
// The system's own text for an error number, in `text` (always NUL-terminated, cut to fit).
void PlatformErrorText(int32_t code, char* text, size_t size);

}  // namespace ledsign
