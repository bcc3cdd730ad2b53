// The settings record a host fills for InitLed.
#pragma once

#include <cstdint>
#include <string>

#include "include/ledsign.h"

namespace ledsign::test {

// A record with each text cut to fit its field and ended by a NUL.
inline PortSettings MakePortSettings(const std::string& portName, int32_t baud = 2400, int32_t dataBits = 8,
                                     int32_t stopBits = 1, const char* parity = "NONE") {
    PortSettings settings{};
    portName.copy(settings.portName, sizeof settings.portName - 1);
    settings.baudRate = baud;
    settings.dataBits = dataBits;
    settings.stopBits = stopBits;
    std::string(parity).copy(settings.parityWord, sizeof settings.parityWord - 1);
    return settings;
}

}  // namespace ledsign::test
