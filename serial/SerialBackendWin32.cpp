// Win32 backend of the serial module's write path: an overlapped port opened without sharing,
// the device control block changed only in speed and framing, a write waited on to its end, and
// pauses never shorter than asked. The receive side is ReceiveWin32.cpp; the host services
// HostServicesWin32.cpp.
#include <cstring>

#include "serial/SerialPort.h"
#include "serial/Win32Transfer.h"

namespace ledsign {

namespace {

using win32::CancelTransfer;
using win32::CloseIfHeld;
using win32::FinishTransfer;
using win32::kAllQueues;
using win32::kCommEvents;
using win32::RecordFree;
using win32::TransferEnd;

void PrepareOverlapped(OVERLAPPED& overlapped) {
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

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

}  // namespace ledsign
