// The host services a Windows host provides: its main window, which hears of line traffic, the
// trace channel (the debug output), the monitor's messages, and the environment.
#include <cstring>

#include "serial/HostServices.h"
#include "serial/SerialPort.h"

namespace ledsign {

namespace {

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
