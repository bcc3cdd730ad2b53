// The frame trace, for installers who need to see what went on the sign's line: every write (its
// bytes in hex and its result), every pause, and why the line failed and how it came back, one
// line each, with milliseconds since the trace began. A plug-in traces when LEDSIGN_TRACE is 1 at
// load, to the trace channel; the library traces to the host's callback of each sign.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ledsign {

struct LineEvent;
class TraceMessage;

// Where whole lines go: each is "<text>\n", NUL-terminated, `length` bytes without the NUL.
struct TraceSink {
    void (*write)(void* context, const char* text, size_t length);
    void* context;
};

// One trace: the name each line starts with, the clock it counts from, and where lines go.
struct FrameTrace {
    const char* name;
    uint32_t startMs;
    TraceSink sink;
};

// "<name> +<ms> ms write <hex> = <result>"
void TraceFrameWrite(const FrameTrace& trace, const uint8_t* bytes, uint32_t count, int32_t result);
// "<name> +<ms> ms pause <milliseconds>"
void TraceFramePause(const FrameTrace& trace, uint32_t milliseconds);
// "<name> +<ms> ms <port> lost: write: Input/output error (5)", "... <port> back: reopened at
// 2400,8,NONE,1" and the like. `frameTrace` is the FrameTrace: the serial port's event hook.
void TraceLineEvent(void* frameTrace, const LineEvent& event);
// Why a write failed, in the system's words: "write: Input/output error (5)".
void DescribeFault(TraceMessage& line, const struct LineFault& fault);
// The event's words alone ("<port> lost: write: Input/output error (5)"), for a host that asks
// why a call failed.
void DescribeLineEvent(TraceMessage& line, const LineEvent& event);

}  // namespace ledsign
