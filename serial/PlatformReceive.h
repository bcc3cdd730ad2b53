// The receive side's per-platform state and calls: the non-waiting read, the purge and the
// receive monitor's thread. Apart from PlatformPort.h so that the write path reads alone.
#pragma once

#include <cstdint>

#include "serial/PlatformPort.h"

namespace ledsign {

#if defined(_WIN32)
// The receive monitor's thread as the starting thread holds it.
struct PlatformMonitor {
    HANDLE thread;  // null: no monitor thread
    DWORD threadId;
    HANDLE stopEvent;  // manual-reset; signalled to ask the thread to end
    HMODULE module;    // the thread's own reference to the module that runs it
    uint32_t (*routine)(void* context);
    void* context;
};

// What the monitor thread keeps for itself, on its own stack.
struct MonitorWaitState {
    OVERLAPPED overlapped;  // its hEvent is the thread's own event
    DWORD eventMask;
    COMSTAT status;
};
#else
constexpr const char* kMonitorThreadName = "serial-monitor";

struct PlatformMonitor {
    pthread_t thread;
    bool running;     // a thread was started and has not been joined yet
    int stopPipe[2];  // the read end turns readable when the thread is asked to end
    uint32_t (*routine)(void* context);
    void* context;
};

struct MonitorWaitState {
    int unused;
};
#endif

// Receive side, on the caller's thread.
// Refreshes the line status and returns the bytes waiting in the input queue (0 with no port).
uint32_t PlatformBytesWaiting(PlatformPort& port);
// Reads exactly `count` bytes if they can be had without waiting; false otherwise.
bool PlatformReadAtOnce(PlatformPort& port, uint8_t* buffer, uint32_t count);
// Discards both queues and aborts pending transfers.
void PlatformPurge(PlatformPort& port);
// Marks the input queue as empty in the stored line status.
void PlatformForgetWaiting(PlatformPort& port);

// Receive monitor, from the starting thread. Start runs routine(context) on a new thread.
bool PlatformStartMonitor(PlatformMonitor& monitor, uint32_t (*routine)(void*), void* context);
// True while a thread is held (running, or ended by itself and not yet collected).
bool PlatformMonitorHeld(const PlatformMonitor& monitor);
// Asks the thread to end, releases a wait it has pending on the port, waits for its end (bounded
// once its routine has returned) and releases the thread and its stop signal.
void PlatformStopMonitor(PlatformMonitor& monitor, PlatformPort& port, bool routineEnded);

// Receive monitor, on the monitor thread itself.
// Prepares the thread's own wait state; false when its event cannot be created.
bool PlatformMonitorBegin(MonitorWaitState& wait);
void PlatformMonitorEnd(MonitorWaitState& wait);
// Bytes waiting, counted into the thread's own line status.
uint32_t PlatformMonitorBytesWaiting(const PlatformPort& port, MonitorWaitState& wait);
// Waits for the next comm event; false when the thread was asked to end meanwhile.
bool PlatformMonitorWaitEvent(const PlatformPort& port, const PlatformMonitor& monitor, MonitorWaitState& wait);
// Pauses for the given milliseconds; false (at once) when the thread was asked to end.
bool PlatformMonitorPause(const PlatformMonitor& monitor, uint32_t milliseconds);

}  // namespace ledsign
