// One message for the trace channel (a line of text), built in a fixed buffer: no allocation and no formatting
// library (a printf engine would grow the DLLs), so it serves the export paths and load and unload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/FrameTrace.h"
#include "serial/HostServices.h"

namespace ledsign {

// Text that does not fit is dropped and the line ends in "...".
class TraceMessage {
public:
    TraceMessage& Text(const char* text) {
        const size_t length = std::strlen(text);
        if (length > kRoom - used_) {
            cut_ = true;
            return *this;
        }
        std::memcpy(buffer_ + used_, text, length);
        used_ += length;
        return *this;
    }
    TraceMessage& Number(int64_t value) {
        char digits[24];
        size_t count = 0;
        const bool negative = value < 0;
        uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative) digits[count++] = '-';
        char text[24];
        for (size_t index = 0; index < count; ++index) text[index] = digits[count - 1 - index];
        text[count] = '\0';
        return Text(text);
    }
    TraceMessage& Hex(const uint8_t* bytes, uint32_t count) {
        static const char kDigits[] = "0123456789ABCDEF";
        for (uint32_t index = 0; index < count; ++index) {
            const char pair[4] = {index == 0 ? '\0' : ' ', kDigits[bytes[index] >> 4], kDigits[bytes[index] & 15],
                                  '\0'};
            Text(index == 0 ? pair + 1 : pair);
            if (cut_) break;
        }
        return *this;
    }
    // The text so far, NUL-terminated, ending in "..." when some was dropped.
    const char* Finished() {
        if (cut_) {
            std::memcpy(buffer_ + used_, "...", 3);
            used_ += 3;
            cut_ = false;
        }
        buffer_[used_] = '\0';
        return buffer_;
    }
    // The line with its line break, to the sink.
    void SendTo(const TraceSink& sink) {
        Finished();
        buffer_[used_++] = '\n';
        buffer_[used_] = '\0';
        sink.write(sink.context, buffer_, used_);
    }
    // The line to the trace channel.
    void Send() { SendTo(TraceSink{&WriteToChannel, nullptr}); }

    static void WriteToChannel(void*, const char* text, size_t length) { WriteTraceText(text, length); }

private:
    static constexpr size_t kRoom = 1000;  // "..." and "\n\0" fit after it
    char buffer_[kRoom + 8] = {};
    size_t used_ = 0;
    bool cut_ = false;
};

}  // namespace ledsign
