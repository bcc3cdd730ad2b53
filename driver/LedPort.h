// The driver object: a serial port with the operations the nine exports call.
#pragma once

#include <cstdint>

#include "driver/PortLine.h"
#include "include/ledsign.h"
#include "serial/SerialPort.h"

namespace ledsign {

struct SignIdentity;

class LedPort : public SerialPort {
public:
    // Stores the host's line settings (or the deliverable's defaults for a null record).
    void Init(const PortSettings* settings);
    // 1 when open (an open port is not reopened), else the open's -1 or -2.
    int32_t OpenLed();
    void CloseLed();
    // Encodes the text for this deliverable's sign and sends it; -1 for a null text. A line that
    // was lost is opened again first; while that fails, -1 at once with nothing sent.
    int32_t WriteText(const char* text);
    int32_t Clear();
    // The sign has one display mode: the byte is accepted and ignored.
    void SetShowMode(uint8_t mode);
    // Writes the listed fields only, each text up to its NUL; -1 for a null record.
    int32_t GetAttributes(LEDAtt* attributes) const;
    float GetVersion() const { return 3.0f; }
};

// Supplied by each deliverable's sign source.
extern const SignIdentity kSignIdentity;
int32_t SignWriteText(PortLine& line, const char* text);
int32_t SignClear(PortLine& line);

// The library's one driver object.
LedPort& TheLedPort();

// The plug-in's frame trace: null unless LEDSIGN_TRACE was 1 at load.
const FrameTrace* PluginTrace();

}  // namespace ledsign
