#include "driver/FrameTrace.h"

#include <cstring>

#include "driver/SignIdentity.h"
#include "serial/HostServices.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#include <time.h>
#endif

namespace ledsign {

extern const SignIdentity kSignIdentity;

bool frameTraceOn = false;

namespace {

uint64_t loadMs = 0;

uint64_t NowMs() {
#if defined(_WIN32)
    return GetTickCount();
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
#endif
}

// A trace line built in a fixed buffer: no allocation, no formatting library. Text that does not
// fit is dropped and the line ends in "...".
class TraceLine {
public:
    TraceLine& Text(const char* text) {
        const size_t length = std::strlen(text);
        if (length > kRoom - used_) {
            cut_ = true;
            return *this;
        }
        std::memcpy(buffer_ + used_, text, length);
        used_ += length;
        return *this;
    }
    TraceLine& Number(int64_t value) {
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
    TraceLine& Hex(const uint8_t* bytes, uint32_t count) {
        static const char kDigits[] = "0123456789ABCDEF";
        for (uint32_t index = 0; index < count; ++index) {
            const char pair[4] = {index == 0 ? '\0' : ' ', kDigits[bytes[index] >> 4], kDigits[bytes[index] & 15], '\0'};
            Text(index == 0 ? pair + 1 : pair);
            if (cut_) break;
        }
        return *this;
    }
    void Send() {
        if (cut_) {
            std::memcpy(buffer_ + used_, "...", 3);
            used_ += 3;
        }
        buffer_[used_++] = '\n';
        buffer_[used_] = '\0';
        WriteTraceText(buffer_, used_);
    }

private:
    static constexpr size_t kRoom = 1000;  // "..." and "\n\0" fit after it
    char buffer_[kRoom + 8] = {};
    size_t used_ = 0;
    bool cut_ = false;
};

TraceLine& Begin(TraceLine& line) {
    return line.Text(kSignIdentity.moduleName).Text(" +").Number(static_cast<int64_t>(NowMs() - loadMs)).Text(" ms ");
}

}  // namespace

void ReadFrameTraceSetting() {
#if defined(_WIN32)
    char value[4] = {};
    const DWORD length = GetEnvironmentVariableA("LEDSIGN_TRACE", value, sizeof value);
    frameTraceOn = length == 1 && value[0] == '1';
#else
    const char* value = getenv("LEDSIGN_TRACE");
    frameTraceOn = value != nullptr && std::strcmp(value, "1") == 0;
#endif
    loadMs = NowMs();
}

void TraceFrameWrite(const uint8_t* bytes, uint32_t count, int32_t result) {
    TraceLine line;
    Begin(line).Text("write ").Hex(bytes, count).Text(" = ").Number(result).Send();
}

void TraceFramePause(uint32_t milliseconds) {
    TraceLine line;
    Begin(line).Text("pause ").Number(milliseconds).Send();
}

}  // namespace ledsign
