// Win32 backend of the serial module: an overlapped port opened without sharing, the
// device control block changed only in speed and framing, a write waited on to its end, pauses
// never shorter than asked, the non-waiting read, the receive monitor's thread and waits, and the
// host services.
#include <cstring>

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

constexpr DWORD kAbortWaitMs = 1000;
constexpr DWORD kEndedMonitorWaitMs = 1000;
constexpr char kDeviceNamespace[] = "\\\\.\\";
constexpr size_t kDeviceNamespaceLength = sizeof kDeviceNamespace - 1;

// The longest device path CreateFileA takes.
constexpr size_t kDevicePathSize = MAX_PATH;

// The name CreateFileA is given: a name without a backslash goes through the device namespace
// (\\.\COM12), the only form that reaches COM10 and above; one with a backslash stands as it is.
bool DevicePath(const char* portName, char (&path)[kDevicePathSize]) {
    const size_t length = std::strlen(portName);
    if (length == 0 || length + kDeviceNamespaceLength >= kDevicePathSize) return false;
    const bool hasBackslash = std::strchr(portName, '\\') != nullptr;
    const size_t prefix = hasBackslash ? 0 : kDeviceNamespaceLength;
    std::memcpy(path, kDeviceNamespace, prefix);
    std::memcpy(path + prefix, portName, length + 1);
    return true;
}

// True when the record may start a new transfer: none in flight, or the one that was has ended.
bool RecordFree(const PlatformPort& port, OVERLAPPED& overlapped, bool& inFlight) {
    if (!inFlight) return true;
    if (WaitForSingleObject(overlapped.hEvent, 0) != WAIT_OBJECT_0) return false;
    DWORD moved = 0;
    GetOverlappedResult(port.commHandle, &overlapped, &moved, FALSE);
    inFlight = false;
    return true;
}

// Cancels a pending transfer and waits, bounded, for the cancel to finish. A transfer that has
// not ended by then stays marked in flight and keeps its record. True when it ended having
// moved `count` bytes after all (it completed as it was cancelled).
bool CancelTransfer(const PlatformPort& port, OVERLAPPED& overlapped, bool& inFlight, DWORD count) {
    CancelIo(port.commHandle);
    inFlight = WaitForSingleObject(overlapped.hEvent, kAbortWaitMs) != WAIT_OBJECT_0;
    DWORD moved = 0;
    return !inFlight && GetOverlappedResult(port.commHandle, &overlapped, &moved, FALSE) && moved == count;
}

enum class TransferEnd { kDone, kFailed, kTimedOut };

// Waits for a pending transfer on the record: done when it moved `count` bytes. Past the time
// allowed it is cancelled, and counts only if it completed all the same. A failure leaves the
// system's error in `error` (0 for a transfer that ended short).
TransferEnd FinishTransfer(const PlatformPort& port, OVERLAPPED& overlapped, bool& inFlight, DWORD count,
                           DWORD allowedMs, DWORD& error) {
    error = 0;
    if (WaitForSingleObject(overlapped.hEvent, allowedMs) != WAIT_OBJECT_0) {
        return CancelTransfer(port, overlapped, inFlight, count) ? TransferEnd::kDone : TransferEnd::kTimedOut;
    }
    DWORD moved = 0;
    if (!GetOverlappedResult(port.commHandle, &overlapped, &moved, FALSE)) {
        error = GetLastError();
        return TransferEnd::kFailed;
    }
    return moved == count ? TransferEnd::kDone : TransferEnd::kFailed;
}

// Errors after which the handle is of no further use: its device went away. What the serial
// drivers answer on the handle of a removed USB adapter: ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND
// ("the device does not recognize the command"), ERROR_GEN_FAILURE ("not functioning"),
// ERROR_DEVICE_REMOVED, ERROR_DEVICE_NOT_CONNECTED, and ERROR_OPERATION_ABORTED for a transfer
// the system ended (a cancel of our own counts as a deadline, not here); ERROR_FILE_NOT_FOUND is
// what a vanished device object (STATUS_NO_SUCH_DEVICE) comes back as; ERROR_INVALID_HANDLE, a
// handle that is no longer valid; ERROR_NOT_READY, what Wine reports when its line was hung up
// (EIO on a tty whose far side closed).
bool DeviceGone(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED: return true;
        default: return false;
    }
}

int32_t WriteFailed(PlatformPort& port, const char* operation, DWORD error) {
    port.fault = LineFault{operation, static_cast<int32_t>(error), DeviceGone(error), false};
    return -1;
}

// The pauses' timers, looked up at the first pause and released with the module.
struct ModulePauseTimers {
    PauseTimers timers;
    bool lookedUp;
    ~ModulePauseTimers() { CloseIfHeld(timers.highResolutionTimer); }
};
ModulePauseTimers modulePauseTimers;

constexpr DWORD kCreateWaitableTimerHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr ULONG kOneMillisecond100ns = 10000;
constexpr int64_t k100nsPerSecond = 10000000;

template <class Function>
Function LookUp(const char* module, const char* name) {
    const HMODULE loaded = GetModuleHandleA(module);
    const FARPROC found = loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// `ticks` of a counter running at `frequency`, in 100 ns units, rounded up.
int64_t TicksTo100ns(int64_t ticks, int64_t frequency) {
    return ticks / frequency * k100nsPerSecond + ((ticks % frequency) * k100nsPerSecond + frequency - 1) / frequency;
}

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

BOOL CALLBACK TakeMainWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr) {
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

DCB BuildDcb(const DCB& current, const LineSettings& settings) {
    DCB dcb = current;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = settings.parity;
    return dcb;
}

int32_t PlatformOpen(PlatformPort& port, const char* portName, const LineSettings& settings) {
    char devicePath[kDevicePathSize];
    if (!DevicePath(portName, devicePath)) {
        port.commHandle = INVALID_HANDLE_VALUE;
        port.fault = LineFault{"no usable port name", 0, false, false};
        return -1;
    }
    port.commHandle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port.commHandle == INVALID_HANDLE_VALUE) {
        port.fault = LineFault{"CreateFile", static_cast<int32_t>(GetLastError()), false, false};
        return -1;
    }

    SetCommMask(port.commHandle, kCommEvents);
    PurgeComm(port.commHandle, kAllQueues);
    SetupComm(port.commHandle, 512, 512);
    port.dcb.DCBlength = sizeof port.dcb;  // the size the system expects in the record
    GetCommState(port.commHandle, &port.dcb);
    // Only speed and framing change; flow control, special characters and time-outs stay.
    port.dcb = BuildDcb(port.dcb, settings);
    if (!SetCommState(port.commHandle, &port.dcb)) {
        port.fault = LineFault{"SetCommState", static_cast<int32_t>(GetLastError()), false, false};
        CloseIfHeld(port.commHandle);
        return -2;
    }
    PrepareOverlapped(port.writeOverlapped);
    PrepareOverlapped(port.readOverlapped);
    port.writeInFlight = false;
    port.readInFlight = false;
    port.fault = LineFault{};
    return 1;
}

void PlatformForget(PlatformPort&) {}

void PlatformClose(PlatformPort& port) {
    // Closing the port ends whatever transfer is still in flight, and with it the records' use.
    CloseIfHeld(port.commHandle);
    CloseIfHeld(port.writeOverlapped.hEvent);
    CloseIfHeld(port.readOverlapped.hEvent);
    port.writeInFlight = false;
    port.readInFlight = false;
}

int32_t PlatformWrite(PlatformPort& port, const uint8_t* bytes, uint32_t count) {
    port.fault = LineFault{};
    if (!PlatformHolds(port)) return -1;
    if (!RecordFree(port, port.writeOverlapped, port.writeInFlight)) {
        // The last abandoned write has still not ended: the handle is wedged, as after a deadline.
        port.fault = LineFault{"a cancelled write still in flight", 0, false, true};
        return -1;
    }
    DWORD errors = 0;
    ClearCommError(port.commHandle, &errors, &port.comStat);
    DWORD moved = 0;
    if (WriteFile(port.commHandle, bytes, count, nullptr, &port.writeOverlapped)) {
        // Done at once: it counts only when it moved every byte, as a pending one does.
        if (!GetOverlappedResult(port.commHandle, &port.writeOverlapped, &moved, FALSE)) {
            return WriteFailed(port, "GetOverlappedResult", GetLastError());
        }
        return moved == count ? 1 : WriteFailed(port, "WriteFile: written short", 0);
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return WriteFailed(port, "WriteFile", error);
    const DWORD deadline = WriteDeadlineMs(count, static_cast<int32_t>(port.dcb.BaudRate));
    DWORD transferError = 0;
    const TransferEnd end =
        FinishTransfer(port, port.writeOverlapped, port.writeInFlight, count, deadline, transferError);
    if (end == TransferEnd::kDone) return 1;
    if (end == TransferEnd::kTimedOut) {
        port.fault = LineFault{"WriteFile", 0, false, true};
    } else {
        WriteFailed(port, transferError != 0 ? "GetOverlappedResult" : "WriteFile: written short", transferError);
    }
    // Past its deadline or failed: nothing of it may reach the sign later, out of turn.
    PurgeComm(port.commHandle, PURGE_TXABORT | PURGE_TXCLEAR);
    return -1;
}

bool PlatformHolds(const PlatformPort& port) {
    return port.commHandle != nullptr && port.commHandle != INVALID_HANDLE_VALUE;
}

bool PlatformOpenFailed(const PlatformPort& port) { return port.commHandle == INVALID_HANDLE_VALUE; }

PauseTimers LookUpPauseTimers() {
    using CreateTimerEx = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
    PauseTimers timers{nullptr, nullptr, &Sleep};
    // Windows before 10 1803 refuses the flag (and XP lacks the function): no such timer there.
    const auto createTimer = LookUp<CreateTimerEx>("kernel32.dll", "CreateWaitableTimerExW");
    if (createTimer != nullptr) {
        timers.highResolutionTimer =
            createTimer(nullptr, nullptr, kCreateWaitableTimerHighResolution, TIMER_MODIFY_STATE | SYNCHRONIZE);
    }
    timers.setResolution = LookUp<TimerResolutionSetter>("ntdll.dll", "NtSetTimerResolution");
    return timers;
}

void PausePrecisely(uint32_t milliseconds, const PauseTimers& timers) {
    const auto sleep = timers.sleep != nullptr ? timers.sleep : &Sleep;
    if (milliseconds == 0) {
        sleep(0);
        return;
    }
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const int64_t end = now.QuadPart + (int64_t{milliseconds} * frequency.QuadPart + 999) / 1000;
    // Sleep wakes on the system timer's tick, 15.6 ms unless raised: it is raised to 1 ms for the
    // pause where no high-resolution timer waits for it.
    ULONG resolution = 0;
    const bool raised = timers.highResolutionTimer == nullptr && timers.setResolution != nullptr &&
                        timers.setResolution(kOneMillisecond100ns, TRUE, &resolution) >= 0;
    for (; now.QuadPart < end; QueryPerformanceCounter(&now)) {
        const int64_t left = TicksTo100ns(end - now.QuadPart, frequency.QuadPart);
        LARGE_INTEGER due;
        due.QuadPart = -left;  // relative
        if (timers.highResolutionTimer != nullptr &&
            SetWaitableTimer(timers.highResolutionTimer, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(timers.highResolutionTimer, INFINITE);
        } else {
            const int64_t leftMs = (left + kOneMillisecond100ns - 1) / kOneMillisecond100ns;
            sleep(static_cast<DWORD>(leftMs < INFINITE - 1 ? leftMs : INFINITE - 1));
        }
    }
    if (raised) timers.setResolution(kOneMillisecond100ns, FALSE, &resolution);
}

void PlatformSleep(uint32_t milliseconds) {
    if (!modulePauseTimers.lookedUp) {
        modulePauseTimers.timers = LookUpPauseTimers();
        modulePauseTimers.lookedUp = true;
    }
    PausePrecisely(milliseconds, modulePauseTimers.timers);
}

uint32_t PlatformNowMs() { return GetTickCount(); }

void PlatformErrorText(int32_t code, char* text, size_t size) {
    if (size == 0) return;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, static_cast<DWORD>(size), nullptr);
    size_t end = length < size ? length : size - 1;
    // The system's texts end in a full stop and a line break; a trace line holds neither.
    while (end > 0 &&
           (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ' || text[end - 1] == '.')) {
        --end;
    }
    if (end == 0) {
        constexpr char kUnknown[] = "unknown error";
        end = sizeof kUnknown - 1 < size ? sizeof kUnknown - 1 : size - 1;
        std::memcpy(text, kUnknown, end);
    }
    text[end] = '\0';
}

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

// Host services.

void NotifyHostMainWindow() {
    // Posted, not sent: the monitor never waits for the host's window to handle it.
    const HWND window = HostMainWindow();
    if (window != nullptr) PostMessageA(window, WM_SERIAL_NOTIFY, 0, 0);
}

void WriteTraceText(const char* text, size_t) { OutputDebugStringA(text); }

void ShowHostMessage(const HostText& text) {
    // The text is GBK whatever the system's code page: converted from code page 936.
    wchar_t wide[64];
    if (MultiByteToWideChar(936, 0, text.gbk, -1, wide, sizeof wide / sizeof wide[0]) > 0) {
        MessageBoxW(nullptr, wide, nullptr, MB_OK);
    } else {
        MessageBoxA(nullptr, text.gbk, nullptr, MB_OK);
    }
}

bool EnvironmentHolds(const char* name, const char* value) {
    // Read through the system, not the C runtime's copy, which a host's SetEnvironmentVariable
    // does not update.
    char found[64] = {};
    const DWORD length = GetEnvironmentVariableA(name, found, sizeof found);
    return length > 0 && length < sizeof found && std::strcmp(found, value) == 0;
}

}  // namespace ledsign
