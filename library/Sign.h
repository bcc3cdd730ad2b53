// One sign of the library: its model, its own serial port (with the port's name stored beside
// it, any length), its trace and the reason its last call failed. Nothing is shared between
// signs, so calls on different signs run side by side on different threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/FrameTrace.h"
#include "include/ledsign_lib.h"
#include "library/LibraryModels.h"
#include "library/NetworkPort.h"
#include "library/SettingsText.h"
#include "library/Utf8Text.h"
#include "serial/SerialPort.h"

namespace ledsign {

// Copies a reason into a fixed buffer, cut to fit and always terminated.
template <size_t Size>
void KeepReason(char (&destination)[Size], const char* reason) {
    const size_t length = std::strlen(reason);
    const size_t kept = length < Size ? length : Size - 1;
    std::memcpy(destination, reason, kept);
    destination[kept] = '\0';
}

}  // namespace ledsign

struct ledsign_sign {
    ledsign_sign(const ledsign::LibraryModel& model, char* nameStorage, uint32_t nameCapacity);

    // Stores the name and settings and opens the port: 1, -1 or -2 (the reason in LastError).
    int32_t Open(const char* portName, const ledsign::SettingsText& settings);
    int32_t WriteGbk(const char* text);
    int32_t WriteUtf8(const char* text);
    int32_t Clear();
    void SetTrace(ledsign_trace_callback callback, void* context);
    const char* LastError() const { return lastError_; }

    // Room for a reason: a port's name, the system's words, a number.
    static constexpr size_t kReasonSize = 512;
    // The longest UTF-8 text's GBK form a write takes, its NUL included.
    static constexpr size_t kGbkTextSize = 4096;

private:
    template <class Encoder>
    int32_t Send(Encoder encode);
    void SetReason(const char* reason);
    // The line's failures become the reason; with a trace set they are traced too.
    static void OnLineEvent(void* sign, const ledsign::LineEvent& event);
    static void ToCallback(void* sign, const char* text, size_t length);

    const ledsign::LibraryModel& model_;
#if !defined(_WIN32)
    ledsign::NetworkLine network_;  // a tcp:// or rfc2217:// port's connection; outlives port_
#endif
    ledsign::SerialPort port_;
    ledsign::GbkEncoder encoder_;
    bool encoderOpen_ = false;
    ledsign::FrameTrace trace_;
    ledsign_trace_callback traceCallback_ = nullptr;
    void* traceContext_ = nullptr;
    char lastError_[kReasonSize] = {};
};
