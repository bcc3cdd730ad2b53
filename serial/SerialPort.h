// The serial communication module: one serial port, its line settings and a write that
// returns only when the bytes have left, and a receive side (a non-waiting read and a
// monitor thread that tells the host about traffic). Shared by every plug-in; no virtual
// operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "serial/LineSettings.h"
#include "serial/PlatformPort.h"
#include "serial/PlatformReceive.h"

namespace ledsign {

constexpr uint32_t kPortNameField = 10;  // 9 characters and a NUL
constexpr uint32_t kReadBufferSize = 100;
constexpr int32_t kAutomaticReadLength = 50;             // asked for when nothing is waiting
constexpr uint32_t kMonitorDefaultInterval = 100;        // milliseconds
constexpr uint32_t kMonitorFailedExitCode = 0xFFFFFFFF;  // the thread could not create its event

// A line that keeps running into its deadline on one handle is closed and opened again: a wedged
// adapter or network serial driver often recovers only that way.
constexpr uint32_t kStalledWritesBeforeReopen = 3;
// Reopen attempts of a lost line are at least this far apart, so that a host writing in a loop
// does not hammer a device that is still enumerating.
constexpr uint32_t kReopenSpacingMs = 1000;

// What happened to the line, for the plug-in's trace.
enum class LineEventKind : uint8_t {
    kOpenFailed,    // an Open gave -1 or -2
    kLost,          // the device went away under a write: its handle was released
    kStalled,       // writes ran into their deadline kStalledWritesBeforeReopen times in a row
    kReopenFailed,  // a lost line could not be opened again (yet)
    kBack,          // a lost line was opened again
};

struct LineEvent {
    LineEventKind kind;
    const char* portName;
    const LineFault& fault;        // the system's cause, for the failures
    const LineSettings& settings;  // the settings in force
};

// Called with the context it was set with.
using LineEventHook = void (*)(void* context, const LineEvent& event);

// Another way to a sign than the system's serial device: the library's network ports. Its three
// operations work on the same PlatformPort (its descriptor, its fault) as the platform's own, so
// deadlines, losses and reopening behave alike; `state` is the transport's own.
struct PortTransport {
    int32_t (*open)(PlatformPort& port, void* state, const char* portName, const LineSettings& settings);
    int32_t (*write)(PlatformPort& port, void* state, const uint8_t* bytes, uint32_t count);
    void (*close)(PlatformPort& port, void* state);
};

class SerialPort {
public:
    // The port's name is kept in the object's own 10-byte field: 9 characters at most, as the
    // plug-ins' hosts give it.
    SerialPort();
    // The port's name is kept in the caller's storage of `nameCapacity` bytes (the name and its
    // NUL), which must outlive the object: the library sizes it for the name it opens.
    SerialPort(char* nameStorage, uint32_t nameCapacity);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Stores the settings for the next Open; touches neither the port nor the open state.
    // A name that does not fit the name's storage is refused (never cut): Open then returns -1.
    void Configure(std::string_view portName, int32_t baudRate, int32_t dataBits, int32_t stopBits,
                   std::string_view parityWord);

    // 1 = open; -1 = the port could not be opened (commHandle left "failed");
    // -2 = the line refused the settings (port closed again). Already open: 1, no reopen; that
    // includes a line that was lost and not yet opened again.
    int32_t Open();
    // Releases the port and everything the object holds; safe in any state.
    void Close();
    int32_t IsOpen() const { return openFlag_; }
    // 1 when every byte was written and has left the driver; -1 otherwise. Never 0. A write
    // that misses its deadline (WriteDeadlineMs at the speed in force) is abandoned, what is
    // left of it discarded, and gives -1; the port stays open for the next write.
    // A write that finds the device gone releases its handle at once (so that the system can give
    // the device its name back) and leaves the line lost; the kStalledWritesBeforeReopen-th
    // deadline in a row closes the handle and opens the port again.
    int32_t Write(const void* bytes, uint32_t count);

    // Called before each call on the sign: a line that was lost is opened again by the same name
    // with the settings now configured, at most one attempt each kReopenSpacingMs. True when the
    // call may go on: the line is held, or was never lost (a closed port is the caller's to fail).
    bool RecoverLine();
    // True while the port counts as open but its device was lost and not yet opened again.
    bool LineLost() const { return lineLost_; }
    // The port is reached through `transport` (with its `state`) instead of the serial device;
    // set before Open. The plug-ins never set one.
    void UseTransport(const PortTransport* transport, void* state) {
        transport_ = transport;
        transportState_ = state;
    }
    // The port's drains run on a thread of its own where its device needs one (the library's
    // signs, so that one sign's held drain never holds another's); set before Open.
    void UseOwnDrainThread() {
#if !defined(_WIN32)
        port_.ownDrainThreadWanted = true;
#endif
    }
    // Told of failed opens, losses, stalls and reopens; null for none.
    void SetLineEventHook(LineEventHook hook, void* context) {
        lineEventHook_ = hook;
        lineEventContext_ = context;
    }

    // Reads without waiting: the fixed read length if above 0, else the bytes waiting, else
    // 50, bounded to the 100-byte buffer. Stores that length through `length` (when not null),
    // purges both queues afterwards, and returns the buffer (the bytes, then zeros) when the
    // whole length could be read at once, else null.
    uint8_t* Read(int32_t* length);
    // Discards both queues and aborts pending transfers.
    void Purge();
    // A fixed length for the next reads; 0 or less means automatic.
    void SetReadLength(int32_t length) { readLength_ = length; }
    int32_t ReadLength() const { return readLength_; }

    // Starts the receive monitor: while bytes are waiting it waits for the next comm event,
    // pauses notifyDelay and notifies the host's main window; every pass ends with a pause of
    // pollInterval. Does nothing while a monitor runs; with no port held the thread ends at once.
    void StartMonitor(uint32_t notifyDelay, uint32_t pollInterval);
    // Stops the monitor and waits for its end; nothing to do when none is held.
    void StopMonitor();
    // Both are read on every pass of a running monitor.
    void SetNotifyDelay(uint32_t milliseconds) { notifyDelay_ = milliseconds; }
    void SetPollInterval(uint32_t milliseconds) { pollInterval_ = milliseconds; }
    uint32_t NotifyDelay() const { return notifyDelay_; }
    uint32_t PollInterval() const { return pollInterval_; }
    // True while a monitor thread is held, also one that has ended by itself.
    bool MonitorHeld() const { return PlatformMonitorHeld(monitor_); }
    // True once a monitor thread has ended by itself; its exit code through `exitCode`.
    bool MonitorEnded(uint32_t* exitCode) const;
    // The monitor thread's routine; `serialPort` is the SerialPort it watches.
    static uint32_t MonitorThreadProc(void* serialPort);

    // The module's version text in GBK, "当前串口通讯模块版本：1.0 2004.4 ZQ". Static storage:
    // valid for the life of the module, whatever the port's state.
    static std::string_view GetModuleVersion();

    const char* PortName() const { return portName_; }
    bool PortNameRefused() const { return portNameRefused_; }
    const LineSettings& Settings() const { return settings_; }
    const PlatformPort& Platform() const { return port_; }

private:
    // A refused name opens nothing; an empty name never names a port.
    const char* OpenName() const { return portNameRefused_ ? "" : portName_; }
    int32_t OpenPort();
    void ClosePort();
    void ReleaseLine(LineEventKind why);
    bool Reopen();
    void Report(LineEventKind kind) const;

    char portNameField_[kPortNameField];
    char* portName_;  // portNameField_ or the caller's storage
    uint32_t portNameCapacity_;
    bool portNameRefused_;
    LineSettings settings_;
    int32_t openFlag_;
    PlatformPort port_;
    uint8_t readBuffer_[kReadBufferSize];
    int32_t readLength_;
    std::atomic<uint32_t> notifyDelay_;
    std::atomic<uint32_t> pollInterval_;
    PlatformMonitor monitor_;
    std::atomic<bool> monitorEnded_;
    std::atomic<uint32_t> monitorExitCode_;
    bool lineLost_;
    uint32_t stalledWrites_;  // deadlines in a row on the handle held now
    bool reopenTried_;        // since the line was lost
    uint32_t lastReopenMs_;
    LineEventHook lineEventHook_;
    void* lineEventContext_;
    const PortTransport* transport_;  // null: the serial device
    void* transportState_;
};

// Blocks the calling thread for the given milliseconds (the pauses between sign frames).
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace ledsign
