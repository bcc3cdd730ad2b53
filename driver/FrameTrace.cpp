#include "driver/FrameTrace.h"

#include <cstring>

#include "driver/SignIdentity.h"
#include "driver/TraceLine.h"
#include "serial/SerialPort.h"

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

// "<operation>: <system text> (<number>)", or the operation alone when the system gave no number.
TraceLine& Cause(TraceLine& line, const LineFault& fault) {
    line.Text(fault.operation != nullptr ? fault.operation : "no system call failed");
    if (fault.code == 0) return line;
    char text[128];
    PlatformErrorText(fault.code, text, sizeof text);
    return line.Text(": ").Text(text).Text(" (").Number(fault.code).Text(")");
}

// "2400,8,NONE,1": what the line is opened at, as the plug-in reads the settings.
TraceLine& Settings(TraceLine& line, const LineSettings& settings) {
    return line.Number(settings.baudRate)
        .Text(",")
        .Number(static_cast<uint8_t>(settings.dataBits))
        .Text(",")
        .Text(ParityWordOf(settings.parity))
        .Text(",")
        .Number(settings.stopBits == 2 ? 2 : 1);
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

namespace ledsign {

void TraceLineEvent(const LineEvent& event) {
    TraceLine line;
    Begin(line).Text(event.portName).Text(" ");
    switch (event.kind) {
        case LineEventKind::kOpenFailed: Cause(line.Text("open failed: "), event.fault); break;
        case LineEventKind::kLost: Cause(line.Text("lost: "), event.fault); break;
        case LineEventKind::kStalled:
            line.Text("stalled: ")
                .Number(kStalledWritesBeforeReopen)
                .Text(" writes in a row past their deadline, reopening");
            break;
        case LineEventKind::kReopenFailed: Cause(line.Text("reopen failed: "), event.fault); break;
        case LineEventKind::kBack: Settings(line.Text("back: reopened at "), event.settings); break;
    }
    line.Send();
}

}  // namespace ledsign
