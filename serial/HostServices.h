// The few services the receive monitor takes from the host: its main window, which hears
// of line traffic, and a message box for the monitor's two failure texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ledsign {

// Posted to the host's main window after traffic on the line; wParam 0, lParam 0.
constexpr uint32_t WM_SERIAL_NOTIFY = 0x432;

// A text the user can see, kept both as the GBK bytes the module carries and as UTF-8.
struct HostText {
    const char* gbk;
    const char* utf8;
};

// "串口线程建立失败！": the monitor thread could not be created.
inline constexpr HostText kThreadCreationFailedText{
    "\xb4\xae\xbf\xda\xcf\xdf\xb3\xcc\xbd\xa8\xc1\xa2\xca\xa7\xb0\xdc\xa3\xa1",
    "\xe4\xb8\xb2\xe5\x8f\xa3\xe7\xba\xbf\xe7\xa8\x8b\xe5\xbb\xba\xe7\xab\x8b\xe5\xa4\xb1\xe8\xb4\xa5"
    "\xef\xbc\x81"};
// "辅助线程事件建立错误！": the monitor thread could not create its event.
inline constexpr HostText kMonitorEventFailedText{
    "\xb8\xa8\xd6\xfa\xcf\xdf\xb3\xcc\xca\xc2\xbc\xfe\xbd\xa8\xc1\xa2\xb4\xed\xce\xf3\xa3\xa1",
    "\xe8\xbe\x85\xe5\x8a\xa9\xe7\xba\xbf\xe7\xa8\x8b\xe4\xba\x8b\xe4\xbb\xb6\xe5\xbb\xba\xe7\xab\x8b"
    "\xe9\x94\x99\xe8\xaf\xaf\xef\xbc\x81"};

// Delivers WM_SERIAL_NOTIFY to the host's main window without waiting for it to be handled;
// skipped when the host has no main window. Windows: the first visible, unowned top-level
// window of this process. POSIX: the notify hook, if one is installed.
void NotifyHostMainWindow();

// Shows the text to the user with an OK button only. Windows: a message box (the GBK text
// converted, so it reads the same on any code page). POSIX: the UTF-8 text on standard error.
void ShowHostMessage(const HostText& text);

// Writes a NUL-terminated text of `length` bytes to the trace channel: the debug output on Windows (a debug-output
// viewer shows it), standard error on POSIX. Never raises SIGPIPE in the host: a standard error whose reader has gone
// loses the text, nothing else.
void WriteTraceText(const char* text, size_t length);

// True when the environment variable `name` holds exactly `value` (the plug-ins' LEDSIGN_TRACE=1).
bool EnvironmentHolds(const char* name, const char* value);

#if !defined(_WIN32)
// How a host embedding the module on POSIX hears the notifications of its receive monitors.
// Called on the monitor thread with WM_SERIAL_NOTIFY, 0, 0.
using MonitorNotifyHook = void (*)(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Installs the hook (null removes it). Once this returns, the previous hook is no longer
// running and is not called again. A hook must not install hooks itself.
void SetMonitorNotifyHook(MonitorNotifyHook hook, void* context);
#endif

}  // namespace ledsign
