#include "serial/SerialPort.h"

#include <cstring>

namespace ledsign {

uint8_t ParityFromWord(std::string_view word) {
    struct Entry {
        std::string_view word;
        uint8_t code;
    };
    // Only the none-words are accepted in mixed case; "Even" and "Odd" fall through to none.
    static constexpr Entry kTable[] = {
        {"NONE", kParityNone}, {"none", kParityNone}, {"None", kParityNone},
        {"EVEN", kParityEven}, {"even", kParityEven}, {"ODD", kParityOdd},
        {"odd", kParityOdd},
    };
    for (const Entry& entry : kTable) {
        if (entry.word == word) return entry.code;
    }
    return kParityNone;
}

SerialPort::SerialPort() : portName_{}, portNameRefused_(false), settings_{}, openFlag_(0), port_{} {
#if !defined(_WIN32)
    port_.fd = kNoDescriptor;
#endif
}

SerialPort::~SerialPort() { Close(); }

void SerialPort::Configure(std::string_view portName, int32_t baudRate, int32_t dataBits,
                           int32_t stopBits, std::string_view parityWord) {
    std::memset(portName_, 0, sizeof portName_);
    // A cut name could name a different port, so a name that does not fit is refused whole.
    portNameRefused_ = portName.size() >= kPortNameField;
    if (!portNameRefused_) std::memcpy(portName_, portName.data(), portName.size());
    settings_.baudRate = baudRate;
    settings_.dataBits = dataBits;
    settings_.stopBits = stopBits;
    settings_.parity = ParityFromWord(parityWord);
}

int32_t SerialPort::Open() {
    if (openFlag_ == 1) return 1;
    // A refused name opens nothing; an empty name never names a port.
    const char* name = portNameRefused_ ? "" : portName_;
    const int32_t result = PlatformOpen(port_, name, settings_);
    openFlag_ = result == 1 ? 1 : 0;
    return result;
}

void SerialPort::Close() {
    PlatformClose(port_);
    openFlag_ = 0;
}

int32_t SerialPort::Write(const void* bytes, uint32_t count) {
    if (bytes == nullptr && count != 0) return -1;
    return PlatformWrite(port_, static_cast<const uint8_t*>(bytes), count);
}

void SleepMilliseconds(uint32_t milliseconds) { PlatformSleep(milliseconds); }

}  // namespace ledsign
