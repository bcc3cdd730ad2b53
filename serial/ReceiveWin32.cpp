// Win32 backend of the serial module's receive side: the non-waiting read, the purge and the
// receive monitor's thread and waits. No export reaches them; the write path does not need them.
#include "serial/SerialPort.h"
#include "serial/Win32Transfer.h"

namespace ledsign {

namespace {

using win32::CloseIfHeld;
using win32::FinishTransfer;
using win32::kAllQueues;
using win32::kCommEvents;
using win32::RecordFree;
using win32::TransferEnd;

constexpr DWORD kQueuedReadSettleMs = 50;
constexpr DWORD kEndedMonitorWaitMs = 1000;

// The monitor thread holds a reference to the module that runs it and leaves through
// FreeLibraryAndExitThread: a library that embeds the serial module can be unloaded while a
// monitor runs without its unload waiting, under the loader lock, for a thread that needs it.
DWORD WINAPI MonitorStart(LPVOID monitor) {
    const PlatformMonitor& started = *static_cast<PlatformMonitor*>(monitor);
    const HMODULE module = started.module;
    const DWORD exitCode = started.routine(started.context);
    if (module != nullptr) FreeLibraryAndExitThread(module, exitCode);
    return exitCode;
}

}  // namespace

uint32_t PlatformBytesWaiting(PlatformPort& port) {
    if (!PlatformHolds(port)) return 0;
    DWORD errors = 0;
    ClearCommError(port.commHandle, &errors, &port.comStat);
    return port.comStat.cbInQue;
}

bool PlatformReadAtOnce(PlatformPort& port, uint8_t* buffer, uint32_t count) {
    if (!PlatformHolds(port) || !RecordFree(port, port.readOverlapped, port.readInFlight)) return false;
    DWORD got = 0;
    if (ReadFile(port.commHandle, buffer, count, nullptr, &port.readOverlapped)) {
        // Done at once: it counts only when it brought every byte asked for.
        return GetOverlappedResult(port.commHandle, &port.readOverlapped, &got, FALSE) && got == count;
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    // Some drivers (Wine's among them) report a read as pending and complete it a moment
    // later. When the bytes are already in the queue the read waits for no data, only for the
    // copy: it is given a short while, so that bytes that arrived are not thrown away.
    // Still pending after that: it is aborted and let end before its record and the buffer are
    // used again. The wait for the abort is bounded: a driver that misses it must not hang the
    // caller (Read never waits for data); the record then stays the read's until it has ended.
    const DWORD settle = count <= port.comStat.cbInQue ? kQueuedReadSettleMs : 0;
    DWORD error = 0;
    return FinishTransfer(port, port.readOverlapped, port.readInFlight, count, settle, error) == TransferEnd::kDone;
}

void PlatformPurge(PlatformPort& port) {
    if (PlatformHolds(port)) PurgeComm(port.commHandle, kAllQueues);
}

void PlatformForgetWaiting(PlatformPort& port) { port.comStat.cbInQue = 0; }

bool PlatformStartMonitor(PlatformMonitor& monitor, uint32_t (*routine)(void*), void* context) {
    // Without its stop signal the thread could only be ended by force: it is not started.
    monitor.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (monitor.stopEvent == nullptr) return false;
    monitor.routine = routine;
    monitor.context = context;
    monitor.module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&MonitorStart),
                       &monitor.module);
    monitor.thread = CreateThread(nullptr, 0, &MonitorStart, &monitor, 0, &monitor.threadId);
    if (monitor.thread == nullptr) {
        if (monitor.module != nullptr) FreeLibrary(monitor.module);
        CloseIfHeld(monitor.stopEvent);
        return false;
    }
    return true;
}

bool PlatformMonitorHeld(const PlatformMonitor& monitor) { return monitor.thread != nullptr; }

void PlatformStopMonitor(PlatformMonitor& monitor, PlatformPort& port, bool routineEnded) {
    if (monitor.thread == nullptr) return;
    SetEvent(monitor.stopEvent);
    // An empty mask completes a pending WaitCommEvent at once.
    if (PlatformHolds(port)) SetCommMask(port.commHandle, 0);
    // A thread whose routine has returned touches nothing of the port again; what is left of it
    // is releasing the module and ending. That release can unload the module and bring us here on
    // the monitor thread itself, which must not wait for itself; and ending needs the loader lock,
    // which an unload holds: that wait is bounded.
    if (GetCurrentThreadId() != monitor.threadId) {
        WaitForSingleObject(monitor.thread, routineEnded ? kEndedMonitorWaitMs : INFINITE);
    }
    CloseIfHeld(monitor.thread);
    CloseIfHeld(monitor.stopEvent);
    if (PlatformHolds(port)) SetCommMask(port.commHandle, kCommEvents);
}

bool PlatformMonitorBegin(MonitorWaitState& wait) {
    wait.eventMask = 0;
    ZeroMemory(&wait.overlapped, sizeof wait.overlapped);
    wait.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return wait.overlapped.hEvent != nullptr;
}

void PlatformMonitorEnd(MonitorWaitState& wait) { CloseIfHeld(wait.overlapped.hEvent); }

uint32_t PlatformMonitorBytesWaiting(const PlatformPort& port, MonitorWaitState& wait) {
    DWORD errors = 0;
    if (!ClearCommError(port.commHandle, &errors, &wait.status)) return 0;
    return wait.status.cbInQue;
}

bool PlatformMonitorWaitEvent(const PlatformPort& port, const PlatformMonitor& monitor, MonitorWaitState& wait) {
    ResetEvent(wait.overlapped.hEvent);
    if (WaitCommEvent(port.commHandle, &wait.eventMask, &wait.overlapped)) return true;
    // Any failure other than a pending wait counts as an event.
    if (GetLastError() != ERROR_IO_PENDING) return true;
    HANDLE waits[2] = {wait.overlapped.hEvent, monitor.stopEvent};
    const DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    DWORD count = 0;
    if (which == WAIT_OBJECT_0) {
        GetOverlappedResult(port.commHandle, &wait.overlapped, &count, FALSE);
        return true;
    }
    // The wait must be over before its record on this stack goes.
    CancelIo(port.commHandle);
    GetOverlappedResult(port.commHandle, &wait.overlapped, &count, TRUE);
    return which != WAIT_OBJECT_0 + 1;
}

bool PlatformMonitorPause(const PlatformMonitor& monitor, uint32_t milliseconds) {
    return WaitForSingleObject(monitor.stopEvent, milliseconds) != WAIT_OBJECT_0;
}

}  // namespace ledsign
