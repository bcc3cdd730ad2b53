#include "driver/FrameTrace.h"

#include "driver/TraceMessage.h"
#include "serial/SerialPort.h"

namespace ledsign {

namespace {

TraceMessage& Begin(TraceMessage& line, const FrameTrace& trace) {
    const uint32_t sinceStart = PlatformNowMs() - trace.startMs;
    return line.Text(trace.name).Text(" +").Number(sinceStart).Text(" ms ");
}

// "<operation>: <system text> (<number>)", or the operation alone when the system gave no number.
TraceMessage& Cause(TraceMessage& line, const LineFault& fault) {
    line.Text(fault.operation != nullptr ? fault.operation : "no system call failed");
    if (fault.code == 0) return line;
    char text[128];
    PlatformErrorText(fault.code, text, sizeof text);
    return line.Text(": ").Text(text).Text(" (").Number(fault.code).Text(")");
}

// "2400,8,NONE,1": what the line is opened at, as the plug-in reads the settings.
TraceMessage& Settings(TraceMessage& line, const LineSettings& settings) {
    return line.Number(settings.baudRate)
        .Text(",")
        .Number(static_cast<uint8_t>(settings.dataBits))
        .Text(",")
        .Text(ParityWordOf(settings.parity))
        .Text(",")
        .Number(settings.stopBits == 2 ? 2 : 1);
}

}  // namespace

void TraceFrameWrite(const FrameTrace& trace, const uint8_t* bytes, uint32_t count, int32_t result) {
    TraceMessage line;
    Begin(line, trace).Text("write ").Hex(bytes, count).Text(" = ").Number(result).SendTo(trace.sink);
}

void TraceFramePause(const FrameTrace& trace, uint32_t milliseconds) {
    TraceMessage line;
    Begin(line, trace).Text("pause ").Number(milliseconds).SendTo(trace.sink);
}

void DescribeFault(TraceMessage& line, const LineFault& fault) { Cause(line, fault); }

void DescribeLineEvent(TraceMessage& line, const LineEvent& event) {
    line.Text(event.portName).Text(" ");
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
}

void TraceLineEvent(void* frameTrace, const LineEvent& event) {
    const FrameTrace& trace = *static_cast<const FrameTrace*>(frameTrace);
    TraceMessage line;
    DescribeLineEvent(Begin(line, trace), event);
    line.SendTo(trace.sink);
}

}  // namespace ledsign
