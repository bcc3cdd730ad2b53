// The serial port's receive side: a non-waiting read, the purge, the receive monitor that tells
// the host of traffic, and the module's version text. No export reaches them.
#include <cstring>

#include "serial/HostServices.h"
#include "serial/SerialPort.h"

namespace ledsign {

uint8_t* SerialPort::Read(int32_t* length) {
    std::memset(readBuffer_, 0, sizeof readBuffer_);
    const uint32_t waiting = PlatformBytesWaiting(port_);
    uint32_t request = kAutomaticReadLength;
    if (readLength_ > 0) {
        request = static_cast<uint32_t>(readLength_);
    } else if (waiting != 0) {
        request = waiting;
    }
    // The buffer holds 100 bytes: the length asked of the line, and reported, never exceeds it.
    if (request > kReadBufferSize) request = kReadBufferSize;
    if (length != nullptr) *length = static_cast<int32_t>(request);
    const bool complete = PlatformReadAtOnce(port_, readBuffer_, request);
    // Read never waits: what was not read at once is dropped with everything else queued.
    PlatformPurge(port_);
    if (!complete) return nullptr;
    PlatformForgetWaiting(port_);
    return readBuffer_;
}

void SerialPort::Purge() { PlatformPurge(port_); }

void SerialPort::StartMonitor(uint32_t notifyDelay, uint32_t pollInterval) {
    if (PlatformMonitorHeld(monitor_)) {
        uint32_t exitCode = 0;
        if (!MonitorEnded(&exitCode)) return;  // one monitor per port
        StopMonitor();                         // collect the one that ended by itself
    }
    notifyDelay_ = notifyDelay;
    pollInterval_ = pollInterval;
    monitorEnded_ = false;
    monitorExitCode_ = 0;
    if (!PlatformStartMonitor(monitor_, &SerialPort::MonitorThreadProc, this)) {
        ShowHostMessage(kThreadCreationFailedText);
    }
}

void SerialPort::StopMonitor() {
    if (PlatformMonitorHeld(monitor_)) PlatformStopMonitor(monitor_, port_, MonitorEnded(nullptr));
}

bool SerialPort::MonitorEnded(uint32_t* exitCode) const {
    if (!monitorEnded_.load(std::memory_order_acquire)) return false;
    if (exitCode != nullptr) *exitCode = monitorExitCode_;
    return true;
}

uint32_t SerialPort::MonitorThreadProc(void* serialPort) {
    SerialPort& self = *static_cast<SerialPort*>(serialPort);
    MonitorWaitState wait{};
    uint32_t exitCode = 0;
    if (!PlatformMonitorBegin(wait)) {
        ShowHostMessage(kMonitorEventFailedText);
        exitCode = kMonitorFailedExitCode;
    } else {
        // The port only changes while no monitor runs (Open and Close collect it first), so a
        // port that is not held now never will be for this thread: it ends.
        while (PlatformHolds(self.port_)) {
            if (PlatformMonitorBytesWaiting(self.port_, wait) != 0) {
                if (!PlatformMonitorWaitEvent(self.port_, self.monitor_, wait)) break;
                if (!PlatformMonitorPause(self.monitor_, self.notifyDelay_)) break;
                NotifyHostMainWindow();
            }
            if (!PlatformMonitorPause(self.monitor_, self.pollInterval_)) break;
        }
        PlatformMonitorEnd(wait);
    }
    self.monitorExitCode_ = exitCode;
    self.monitorEnded_.store(true, std::memory_order_release);
    return exitCode;
}

std::string_view SerialPort::GetModuleVersion() {
    // "当前串口通讯模块版本：1.0 2004.4 ZQ" in GBK.
    static constexpr char kVersionText[] =
        "\xb5\xb1\xc7\xb0\xb4\xae\xbf\xda\xcd\xa8\xd1\xb6\xc4\xa3\xbf\xe9\xb0\xe6\xb1\xbe\xa3\xba"
        "1.0 2004.4 ZQ";
    return std::string_view(kVersionText, sizeof kVersionText - 1);
}

}  // namespace ledsign
