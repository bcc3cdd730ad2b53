#include "serial/SerialPort.h"

#include <cstring>

#include "serial/HostServices.h"

namespace ledsign {

uint32_t WriteDeadlineMs(uint32_t count, int32_t baudRate) {
    constexpr uint64_t kBitsPerByte = 12;
    constexpr uint64_t kSlowestBaud = 50;
    const uint64_t baud =
        baudRate < static_cast<int32_t>(kSlowestBaud) ? kSlowestBaud : static_cast<uint64_t>(baudRate);
    const uint64_t lineMs = (uint64_t{count} * kBitsPerByte * 1000 + baud - 1) / baud;
    return static_cast<uint32_t>(2 * lineMs + kWriteGraceMs);
}

SerialPort::SerialPort() : SerialPort(portNameField_, kPortNameField) {}

SerialPort::SerialPort(char* nameStorage, uint32_t nameCapacity)
    : portNameField_{},
      portName_(nameStorage),
      portNameCapacity_(nameCapacity),
      portNameRefused_(false),
      settings_{},
      openFlag_(0),
      port_{},
      readBuffer_{},
      readLength_(0),
      notifyDelay_(kMonitorDefaultInterval),
      pollInterval_(kMonitorDefaultInterval),
      monitor_{},
      monitorEnded_(false),
      monitorExitCode_(0),
      lineLost_(false),
      stalledWrites_(0),
      reopenTried_(false),
      lastReopenMs_(0),
      lineEventHook_(nullptr),
      lineEventContext_(nullptr),
      transport_(nullptr),
      transportState_(nullptr) {
    std::memset(portName_, 0, portNameCapacity_);
#if !defined(_WIN32)
    port_.fd = kNoDescriptor;
#endif
}

SerialPort::~SerialPort() {
    Close();
    PlatformForget(port_);
}

void SerialPort::Configure(std::string_view portName, int32_t baudRate, int32_t dataBits, int32_t stopBits,
                           std::string_view parityWord) {
    std::memset(portName_, 0, portNameCapacity_);
    // A cut name could name a different port, so a name that does not fit is refused whole.
    portNameRefused_ = portName.size() >= portNameCapacity_;
    if (!portNameRefused_) std::memcpy(portName_, portName.data(), portName.size());
    settings_.baudRate = baudRate;
    settings_.dataBits = dataBits;
    settings_.stopBits = stopBits;
    settings_.parity = ParityFromWord(parityWord);
}

int32_t SerialPort::Open() {
    if (openFlag_ == 1) return 1;
    // A monitor held while closed has ended by itself (it ends with no port); collect it
    // before the port changes under it.
    StopMonitor();
    const int32_t result = OpenPort();
    openFlag_ = result == 1 ? 1 : 0;
    stalledWrites_ = 0;
    if (result != 1) Report(LineEventKind::kOpenFailed);
    return result;
}

void SerialPort::Close() {
    // The monitor watches the port: it ends before the port goes.
    StopMonitor();
    ClosePort();
    openFlag_ = 0;
    lineLost_ = false;
    reopenTried_ = false;
}

int32_t SerialPort::Write(const void* bytes, uint32_t count) {
    if (bytes == nullptr && count != 0) return -1;
    const auto* data = static_cast<const uint8_t*>(bytes);
    const int32_t written = transport_ != nullptr ? transport_->write(port_, transportState_, data, count)
                                                  : PlatformWrite(port_, data, count);
    if (written == 1) {
        stalledWrites_ = 0;
        return 1;
    }
    const LineFault& fault = port_.fault;
    if (fault.gone) {
        ReleaseLine(LineEventKind::kLost);
    } else if (!fault.timedOut) {
        stalledWrites_ = 0;
    } else if (++stalledWrites_ >= kStalledWritesBeforeReopen) {
        ReleaseLine(LineEventKind::kStalled);
        Reopen();
    }
    return -1;
}

bool SerialPort::RecoverLine() {
    if (!lineLost_) return true;
    if (reopenTried_ && PlatformNowMs() - lastReopenMs_ < kReopenSpacingMs) return false;
    return Reopen();
}

int32_t SerialPort::OpenPort() {
    return transport_ != nullptr ? transport_->open(port_, transportState_, OpenName(), settings_)
                                 : PlatformOpen(port_, OpenName(), settings_);
}

void SerialPort::ClosePort() {
    if (transport_ != nullptr) {
        transport_->close(port_, transportState_);
    } else {
        PlatformClose(port_);
    }
}

void SerialPort::ReleaseLine(LineEventKind why) {
    Report(why);
    // The monitor watches the port: it ends before the port goes.
    StopMonitor();
    ClosePort();
    lineLost_ = true;
    stalledWrites_ = 0;
    reopenTried_ = false;
}

bool SerialPort::Reopen() {
    reopenTried_ = true;
    lastReopenMs_ = PlatformNowMs();
    if (OpenPort() != 1) {
        Report(LineEventKind::kReopenFailed);
        return false;
    }
    lineLost_ = false;
    Report(LineEventKind::kBack);
    return true;
}

void SerialPort::Report(LineEventKind kind) const {
    if (lineEventHook_ != nullptr) {
        lineEventHook_(lineEventContext_, LineEvent{kind, OpenName(), port_.fault, settings_});
    }
}

void SleepMilliseconds(uint32_t milliseconds) { PlatformSleep(milliseconds); }

}  // namespace ledsign
