#include "driver/FrameTrace.h"

#include <cstring>

#include "driver/SignIdentity.h"
#include "driver/TraceLine.h"

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
