// Win32 backend of the serial module: an overlapped port opened without sharing, the
// device control block changed only in speed and framing, a write waited on to its end, the
// non-waiting read, the receive monitor's thread and waits, and the host services.
#include "serial/HostServices.h"
#include "serial/SerialPort.h"

namespace ledsign {

namespace {

void CloseIfHeld(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

void PrepareOverlapped(OVERLAPPED& overlapped) {
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

constexpr DWORD kAllQueues = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kCommEvents = EV_RXCHAR | EV_TXEMPTY;
constexpr DWORD kQueuedReadSettleMs = 50;
constexpr DWORD kAbortedReadWaitMs = 1000;

DWORD WINAPI MonitorStart(LPVOID monitor) {
    const PlatformMonitor& started = *static_cast<PlatformMonitor*>(monitor);
    return started.routine(started.context);
}

BOOL CALLBACK TakeMainWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
        GetWindow(window, GW_OWNER) != nullptr) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The host's main window: the first visible top-level window without an owner in this process.
HWND HostMainWindow() {
    HWND found = nullptr;
    EnumWindows(&TakeMainWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

int32_t PlatformOpen(PlatformPort& port, const char* portName, const LineSettings& settings) {
    port.commHandle = portName[0] == '\0'
                          ? INVALID_HANDLE_VALUE
                          : CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
    if (port.commHandle == INVALID_HANDLE_VALUE) return -1;

    SetCommMask(port.commHandle, kCommEvents);
    PurgeComm(port.commHandle, kAllQueues);
    SetupComm(port.commHandle, 512, 512);
    port.dcb.DCBlength = sizeof port.dcb;  // the size the system expects in the record
    GetCommState(port.commHandle, &port.dcb);
    // Only speed and framing change; flow control, special characters and time-outs stay.
    port.dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    port.dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    port.dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    port.dcb.Parity = settings.parity;
    if (!SetCommState(port.commHandle, &port.dcb)) {
        CloseIfHeld(port.commHandle);
        return -2;
    }
    PrepareOverlapped(port.writeOverlapped);
    PrepareOverlapped(port.readOverlapped);
    return 1;
}

void PlatformClose(PlatformPort& port) {
    CloseIfHeld(port.writeOverlapped.hEvent);
    CloseIfHeld(port.readOverlapped.hEvent);
    CloseIfHeld(port.commHandle);
}

int32_t PlatformWrite(PlatformPort& port, const uint8_t* bytes, uint32_t count) {
    if (!PlatformHolds(port)) return -1;
    DWORD errors = 0;
    ClearCommError(port.commHandle, &errors, &port.comStat);
    if (WriteFile(port.commHandle, bytes, count, nullptr, &port.writeOverlapped)) return 1;
    if (GetLastError() != ERROR_IO_PENDING) return -1;
    // A pending write counts only when it completed and moved every byte.
    DWORD moved = 0;
    if (!GetOverlappedResult(port.commHandle, &port.writeOverlapped, &moved, TRUE)) return -1;
    return moved == count ? 1 : -1;
}

bool PlatformHolds(const PlatformPort& port) {
    return port.commHandle != nullptr && port.commHandle != INVALID_HANDLE_VALUE;
}

bool PlatformOpenFailed(const PlatformPort& port) { return port.commHandle == INVALID_HANDLE_VALUE; }

void PlatformSleep(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t PlatformBytesWaiting(PlatformPort& port) {
    if (!PlatformHolds(port)) return 0;
    DWORD errors = 0;
    ClearCommError(port.commHandle, &errors, &port.comStat);
    return port.comStat.cbInQue;
}

bool PlatformReadAtOnce(PlatformPort& port, uint8_t* buffer, uint32_t count) {
    if (!PlatformHolds(port)) return false;
    if (ReadFile(port.commHandle, buffer, count, nullptr, &port.readOverlapped)) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    // Some drivers (Wine's among them) report a read as pending and complete it a moment
    // later. When the bytes are already in the queue the read waits for no data, only for the
    // copy: it is given a short while, so that bytes that arrived are not thrown away.
    const DWORD settle = count <= port.comStat.cbInQue ? kQueuedReadSettleMs : 0;
    DWORD got = 0;
    if (WaitForSingleObject(port.readOverlapped.hEvent, settle) == WAIT_OBJECT_0 &&
        GetOverlappedResult(port.commHandle, &port.readOverlapped, &got, FALSE)) {
        return got == count;
    }
    // Still pending: abort it and let it end before its record and the buffer are used again.
    // The wait is bounded: a driver that misses the abort must not hang the caller (Read never
    // waits for data); the purge that follows aborts it once more.
    CancelIo(port.commHandle);
    PurgeComm(port.commHandle, PURGE_RXABORT);
    if (WaitForSingleObject(port.readOverlapped.hEvent, kAbortedReadWaitMs) != WAIT_OBJECT_0) return false;
    return GetOverlappedResult(port.commHandle, &port.readOverlapped, &got, FALSE) && got == count;
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
    monitor.thread = CreateThread(nullptr, 0, &MonitorStart, &monitor, 0, nullptr);
    if (monitor.thread == nullptr) {
        CloseIfHeld(monitor.stopEvent);
        return false;
    }
    return true;
}

bool PlatformMonitorHeld(const PlatformMonitor& monitor) { return monitor.thread != nullptr; }

void PlatformStopMonitor(PlatformMonitor& monitor, PlatformPort& port) {
    if (monitor.thread == nullptr) return;
    SetEvent(monitor.stopEvent);
    // An empty mask completes a pending WaitCommEvent at once.
    if (PlatformHolds(port)) SetCommMask(port.commHandle, 0);
    WaitForSingleObject(monitor.thread, INFINITE);
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

bool PlatformMonitorWaitEvent(const PlatformPort& port, const PlatformMonitor& monitor,
                              MonitorWaitState& wait) {
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

// Host services.

void NotifyHostMainWindow() {
    // Posted, not sent: the monitor never waits for the host's window to handle it.
    const HWND window = HostMainWindow();
    if (window != nullptr) PostMessageA(window, WM_SERIAL_NOTIFY, 0, 0);
}

void ShowHostMessage(const HostText& text) {
    // The text is GBK whatever the system's code page: converted from code page 936.
    wchar_t wide[64];
    if (MultiByteToWideChar(936, 0, text.gbk, -1, wide, sizeof wide / sizeof wide[0]) > 0) {
        MessageBoxW(nullptr, wide, nullptr, MB_OK);
    } else {
        MessageBoxA(nullptr, text.gbk, nullptr, MB_OK);
    }
}

}  // namespace ledsign
