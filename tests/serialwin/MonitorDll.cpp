// A library that embeds the serial module, as a host's own DLL may: it opens a port and starts
// a receive monitor on request, and is unloaded by the test while that monitor runs.
#include <windows.h>

#include "serial/SerialPort.h"

namespace {
ledsign::SerialPort embeddedPort;
}

// 1 when the port opened (the monitor then watches it), else the open's result; either way
// the monitor is started (with no port it ends by itself).
extern "C" __declspec(dllexport) int StartMonitorOn(const char* portName) {
    embeddedPort.Configure(portName, 9600, 8, 1, "NONE");
    const int opened = embeddedPort.Open();
    embeddedPort.StartMonitor(10, 10);
    return opened;
}

// True once the monitor's routine has returned.
extern "C" __declspec(dllexport) int MonitorEnded() { return embeddedPort.MonitorEnded(nullptr) ? 1 : 0; }
