// The line the encoders write through: a serial port and a real pause, each traced when a trace
// is given. The plug-ins' driver object and the library's signs both send their frames this way.
#pragma once

#include <cstdint>

#include "driver/FrameTrace.h"
#include "serial/SerialPort.h"

namespace ledsign {

struct PortLine {
    SerialPort& port;
    const FrameTrace* trace;  // null: not traced

    int32_t Write(const uint8_t* bytes, uint32_t count) {
        const int32_t result = port.Write(bytes, count);
        if (trace != nullptr) TraceFrameWrite(*trace, bytes, count, result);
        return result;
    }
    void Pause(uint32_t milliseconds) {
        if (trace != nullptr) TraceFramePause(*trace, milliseconds);
        SleepMilliseconds(milliseconds);
    }
};

// Text to the sign through the model's encoder: a line that was lost is opened again first, and
// while that fails the call gives -1 at once with nothing sent.
template <class Encoder>
int32_t SendToSign(SerialPort& port, const FrameTrace* trace, Encoder encode) {
    if (!port.RecoverLine()) return -1;
    PortLine line{port, trace};
    return encode(line);
}

}  // namespace ledsign
