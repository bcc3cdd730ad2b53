// The serial module's receive side with the Win32 backend, run under Wine over a pty mapped
// as a COM port. The device side (serialwin_device) answers "S<n>\n" with n pattern bytes.
// Prints one line per check and exits with the number of failed checks.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "serial/HostServices.h"
#include "serial/SerialPort.h"
#include "tests/LineSettingsCases.h"

namespace {

using ledsign::SerialPort;
using ledsign::test::OpenAt9600;
using ledsign::test::Pattern;

int failures = 0;

void Check(bool ok, const char* what, const std::string& detail = "") {
    if (!ok) ++failures;
    std::printf("%s %s%s%s\n", ok ? "ok" : "FAIL", what, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
}

DWORD Waiting(const SerialPort& port, DWORD* outQueue = nullptr) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port.Platform().commHandle, &errors, &status);
    if (outQueue != nullptr) *outQueue = status.cbOutQue;
    return status.cbInQue;
}

// Asks the device for `count` bytes and waits until they are all waiting.
bool RequestBytes(SerialPort& port, int count) {
    char request[16];
    const int length = std::snprintf(request, sizeof request, "S%d\n", count);
    if (port.Write(request, static_cast<uint32_t>(length)) != 1) return false;
    const DWORD start = GetTickCount();
    while (Waiting(port) != static_cast<DWORD>(count)) {
        if (GetTickCount() - start > 3000) return false;
        Sleep(2);
    }
    return true;
}

void CheckRead() {
    for (const ledsign::test::ReadRuleCase& c : ledsign::test::kReadRuleCases) {
        const std::string name = std::string("read: ") + c.name;
        SerialPort port;
        if (OpenAt9600(port, "COM7") != 1) {
            Check(false, name.c_str(), "open failed");
            continue;
        }
        port.SetReadLength(c.readLength);
        if (c.waiting > 0 && !RequestBytes(port, c.waiting)) {
            Check(false, name.c_str(), "the device's bytes did not arrive");
            continue;
        }
        int32_t asked = -1;
        const uint8_t* got = port.Read(&asked);
        bool ok = asked == c.asked && (got != nullptr) == c.complete;
        if (got != nullptr) {
            const std::string expected = Pattern(c.asked) + std::string(100 - c.asked, '\0');
            ok = ok && std::memcmp(got, expected.data(), expected.size()) == 0 &&
                 port.Platform().comStat.cbInQue == 0;
        }
        DWORD outQueue = 1;
        ok = ok && Waiting(port, &outQueue) == 0 && outQueue == 0;
        Check(ok, name.c_str(), "asked " + std::to_string(asked) + (got ? ", read" : ", null"));
    }
}

int notifications = 0;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ledsign::WM_SERIAL_NOTIFY && wParam == 0 && lParam == 0) ++notifications;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeHostWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SerialWinTestHost";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("SerialWinTestHost", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr) ShowWindow(window, SW_SHOW);
    return window;
}

// Handles the host window's messages for the given time, or until `until` notifications came.
void Pump(DWORD milliseconds, int until = 1 << 30) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (milliseconds > 0) Sleep(1);
    } while (GetTickCount() - start < milliseconds && notifications < until);
}

// Ends a running monitor with `end` (StopMonitor, or Close, which closes the port too): at once,
// and no monitor is held after.
void CheckEndsPromptly(SerialPort& port, void (SerialPort::*end)(), const char* what) {
    const DWORD start = GetTickCount();
    (port.*end)();
    const DWORD took = GetTickCount() - start;
    Check(!port.MonitorHeld() && took < 500 && (end != &SerialPort::Close || port.IsOpen() == 0), what,
          std::to_string(took) + " ms");
}

// Traffic brings the host window a notification about notifyDelay later; a quiet line none.
void CheckMonitorNotifies(SerialPort& port) {
    port.StartMonitor(150, 10);
    Pump(100);
    Check(notifications == 0, "monitor: a quiet line brings no notification");
    const DWORD sent = GetTickCount();
    RequestBytes(port, 5);
    Pump(3000, 1);
    const DWORD after = GetTickCount() - sent;
    Check(notifications >= 1 && after >= 140 && after < 1500,
          "monitor: notified about notifyDelay after traffic",
          std::to_string(notifications) + " after " + std::to_string(after) + " ms");
}

// Stop is prompt whatever the thread waits for, and nothing is notified after it.
void CheckMonitorStops(SerialPort& port) {
    // With unread bytes and no new traffic the thread sits in WaitCommEvent; stop releases it.
    port.SetNotifyDelay(1);
    port.SetPollInterval(1);
    Pump(200);
    CheckEndsPromptly(port, &SerialPort::StopMonitor, "monitor: stop during a pending comm-event wait is prompt");
    // What was posted before the stop is still queued; nothing may follow it.
    Pump(0);
    const int settled = notifications;
    Pump(200);
    Check(notifications == settled, "monitor: nothing is notified after the stop");
    port.StopMonitor();
    Check(!port.MonitorHeld(), "monitor: a second stop does nothing");

    // Stop during the pauses.
    port.Purge();
    port.StartMonitor(10000, 10000);
    Sleep(50);
    CheckEndsPromptly(port, &SerialPort::StopMonitor, "monitor: stop during the poll pause is prompt");
    RequestBytes(port, 3);
    port.StartMonitor(10000, 10000);
    Sleep(50);
    CheckEndsPromptly(port, &SerialPort::StopMonitor, "monitor: stop during the notify delay is prompt");
}

// A monitor started again still hears traffic; Close, destruction, or a port that never opened
// end the thread.
void CheckMonitorRestartsAndEnds(SerialPort& port) {
    // The comm-event mask is back after a stop: a new monitor still hears traffic.
    port.Purge();
    notifications = 0;
    port.StartMonitor(20, 10);
    Pump(50);
    RequestBytes(port, 2);
    Pump(3000, 1);
    Check(notifications >= 1, "monitor: a restarted monitor notifies again");

    CheckEndsPromptly(port, &SerialPort::Close, "monitor: close ends a running monitor");

    // Destruction ends a running monitor.
    SerialPort* doomed = new SerialPort;
    Check(OpenAt9600(*doomed, "COM7") == 1, "monitor: reopen");
    doomed->StartMonitor(10000, 10000);
    Sleep(30);
    const DWORD start = GetTickCount();
    delete doomed;
    const DWORD took = GetTickCount() - start;
    Check(took < 500, "monitor: destruction ends a running monitor", std::to_string(took) + " ms");

    // No port held: the thread ends by itself with exit code 0.
    SerialPort idle;
    Check(OpenAt9600(idle, "COM99") == -1, "monitor: a missing port fails to open");
    idle.StartMonitor(10, 10);
    uint32_t exitCode = 99;
    const DWORD waitStart = GetTickCount();
    while (!idle.MonitorEnded(&exitCode) && GetTickCount() - waitStart < 2000) Sleep(1);
    Check(idle.MonitorEnded(&exitCode) && exitCode == 0,
          "monitor: with the open failed the thread ends at once");
}

void CheckMonitor() {
    Check(MakeHostWindow() != nullptr, "monitor: the host window exists");
    SerialPort port;
    if (OpenAt9600(port, "COM7") != 1) return Check(false, "monitor: open");
    CheckMonitorNotifies(port);
    CheckMonitorStops(port);
    CheckMonitorRestartsAndEnds(port);
}

// The device control block for each row of the shared settings table: the four framing members
// as the row says, every other byte as found.
void CheckDcb() {
    DCB found;
    std::memset(&found, 0xA5, sizeof found);
    found.DCBlength = sizeof found;
    bool ok = true;
    std::string detail;
    for (const ledsign::test::LineSettingsCase& c : ledsign::test::kLineSettingsCases) {
        const DCB built = ledsign::BuildDcb(found, c.settings);
        const bool framing = built.BaudRate == static_cast<DWORD>(c.settings.baudRate) &&
                             built.ByteSize == c.byteSize && built.Parity == c.settings.parity &&
                             built.StopBits == (c.twoStopBits ? TWOSTOPBITS : ONESTOPBIT);
        DCB rest = built;
        rest.BaudRate = found.BaudRate;
        rest.ByteSize = found.ByteSize;
        rest.Parity = found.Parity;
        rest.StopBits = found.StopBits;
        const bool untouched = std::memcmp(&rest, &found, sizeof found) == 0;
        if (!framing || !untouched) {
            ok = false;
            detail += std::to_string(c.settings.dataBits) + "/" + std::to_string(c.settings.stopBits) +
                      (framing ? "" : " framing") + (untouched ? "" : " other members") + "; ";
        }
    }
    Check(ok, "dcb: only speed, byte size, parity and stop bits change", detail);
}

// Sleep as Windows' own at its default 15.625 ms resolution (not Wine's): up to a tick early.
void WINAPI TickSleep(DWORD milliseconds) { Sleep(milliseconds * 1000 / 15625 * 15625 / 1000); }

// Every pause lasts at least what was asked by the performance counter: with the timers the DLLs
// find, and with nothing but a Sleep that ends early.
void CheckPauses() {
    const ledsign::PauseTimers found = ledsign::LookUpPauseTimers();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    for (const ledsign::PauseTimers& timers : {found, ledsign::PauseTimers{nullptr, nullptr, &TickSleep}}) {
        std::string detail = timers.highResolutionTimer != nullptr ? "on the high-resolution timer:" : "on Sleep:";
        bool ok = true;
        for (const uint32_t ms : {1u, 2u, 15u, 100u, 200u}) {
            QueryPerformanceCounter(&start);
            ledsign::PausePrecisely(ms, timers);
            QueryPerformanceCounter(&end);
            const double took = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
            ok = ok && took >= ms;
            detail += " " + std::to_string(ms) + "->" + std::to_string(took).substr(0, 6);
        }
        Check(ok, timers.sleep == &TickSleep ? "pause never short: Sleep a tick early" : "pause never short", detail);
    }
    if (found.highResolutionTimer != nullptr) CloseHandle(found.highResolutionTimer);
}

}  // namespace

int main() {
    const std::string_view version = SerialPort::GetModuleVersion();
    Check(version == std::string_view("\xb5\xb1\xc7\xb0\xb4\xae\xbf\xda\xcd\xa8\xd1\xb6"
                                      "\xc4\xa3\xbf\xe9\xb0\xe6\xb1\xbe\xa3\xba" "1.0 2004.4 ZQ"),
          "version text in GBK");
    CheckDcb();
    CheckPauses();
    CheckRead();
    CheckMonitor();
    std::printf("%d failed\n", failures);
    return failures;
}
