// Win32 backend of the serial module: an overlapped port opened without sharing, the
// device control block changed only in speed and framing, and a write waited on to its end.
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

}  // namespace

int32_t PlatformOpen(PlatformPort& port, const char* portName, const LineSettings& settings) {
    port.commHandle = portName[0] == '\0'
                          ? INVALID_HANDLE_VALUE
                          : CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
    if (port.commHandle == INVALID_HANDLE_VALUE) return -1;

    SetCommMask(port.commHandle, EV_RXCHAR | EV_TXEMPTY);
    PurgeComm(port.commHandle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    SetupComm(port.commHandle, 512, 512);
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

}  // namespace ledsign
