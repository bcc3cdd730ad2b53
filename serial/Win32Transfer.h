// What the Win32 backend's write path and its receive side share: the handles they close, and
// overlapped transfers waited for, cancelled and collected the same way. Internal to serial/.
#pragma once

#include "serial/SerialPort.h"

namespace ledsign::win32 {

inline void CloseIfHeld(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

constexpr DWORD kAllQueues = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kCommEvents = EV_RXCHAR | EV_TXEMPTY;

constexpr DWORD kAbortWaitMs = 1000;

// True when the record may start a new transfer: none in flight, or the one that was has ended.
inline bool RecordFree(const PlatformPort& port, OVERLAPPED& overlapped, bool& inFlight) {
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
inline bool CancelTransfer(const PlatformPort& port, OVERLAPPED& overlapped, bool& inFlight, DWORD count) {
    CancelIo(port.commHandle);
    inFlight = WaitForSingleObject(overlapped.hEvent, kAbortWaitMs) != WAIT_OBJECT_0;
    DWORD moved = 0;
    return !inFlight && GetOverlappedResult(port.commHandle, &overlapped, &moved, FALSE) && moved == count;
}

enum class TransferEnd { kDone, kFailed, kTimedOut };

// Waits for a pending transfer on the record: done when it moved `count` bytes. Past the time
// allowed it is cancelled, and counts only if it completed all the same. A failure leaves the
// system's error in `error` (0 for a transfer that ended short).
inline TransferEnd FinishTransfer(const PlatformPort& port, OVERLAPPED& overlapped, bool& inFlight, DWORD count,
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

}  // namespace ledsign::win32
