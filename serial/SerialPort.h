// The serial communication module: one serial port, its line settings and a write that
// returns only when the bytes have left. Shared by every plug-in; no virtual operations.
#pragma once

#include <cstdint>
#include <string_view>

#include "serial/PlatformPort.h"

namespace ledsign {

// Parity codes as the line takes them (the Win32 NOPARITY/ODDPARITY/EVENPARITY values).
enum ParityCode : uint8_t { kParityNone = 0, kParityOdd = 1, kParityEven = 2 };

// Maps a parity word to its code by exact, case-sensitive comparison; unknown words mean none.
uint8_t ParityFromWord(std::string_view word);

struct LineSettings {
    int32_t baudRate;
    int32_t dataBits;  // only the low byte reaches the line
    int32_t stopBits;  // 2 means two stop bits, anything else one
    uint8_t parity;    // a ParityCode
};

constexpr uint32_t kPortNameField = 10;  // 9 characters and a NUL

class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Stores the settings for the next Open; touches neither the port nor the open state.
    // A name that does not fit the 10-byte field is refused (never cut): Open then returns -1.
    void Configure(std::string_view portName, int32_t baudRate, int32_t dataBits, int32_t stopBits,
                   std::string_view parityWord);

    // 1 = open; -1 = the port could not be opened (commHandle left "failed");
    // -2 = the line refused the settings (port closed again). Already open: 1, no reopen.
    int32_t Open();
    // Releases the port and everything the object holds; safe in any state.
    void Close();
    int32_t IsOpen() const { return openFlag_; }
    // 1 when every byte was written and has left the driver; -1 otherwise. Never 0.
    int32_t Write(const void* bytes, uint32_t count);

    const char* PortName() const { return portName_; }
    bool PortNameRefused() const { return portNameRefused_; }
    const LineSettings& Settings() const { return settings_; }
    const PlatformPort& Platform() const { return port_; }

private:
    char portName_[kPortNameField];
    bool portNameRefused_;
    LineSettings settings_;
    int32_t openFlag_;
    PlatformPort port_;
};

// Blocks the calling thread for the given milliseconds (the pauses between sign frames).
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace ledsign
