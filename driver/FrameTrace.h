// The frame trace, for installers who need to see what a plug-in put on the line. Off unless the
// environment variable LEDSIGN_TRACE is 1 when the library is loaded; then every write to the
// sign's line (its bytes in hex and its result) and every pause goes to the trace channel, one
// line each, with milliseconds since load. Off, it costs one test of a flag per write.
#pragma once

#include <cstdint>

namespace ledsign {

struct LineEvent;

// Reads LEDSIGN_TRACE once; called at load, before the "Initializing" trace line.
void ReadFrameTraceSetting();

extern bool frameTraceOn;

// "<module> +<ms> ms write <hex> = <result>"
void TraceFrameWrite(const uint8_t* bytes, uint32_t count, int32_t result);
// "<module> +<ms> ms pause <milliseconds>"
void TraceFramePause(uint32_t milliseconds);
// "<module> +<ms> ms <port> lost: write: Input/output error (5)", "... <port> back: reopened at
// 2400,8,NONE,1" and the like: why the line failed, in the system's own words, and its recovery.
void TraceLineEvent(const LineEvent& event);

}  // namespace ledsign
