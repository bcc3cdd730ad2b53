// What the stalled-line and lost-line scenarios must show on every line the plug-ins run on (a
// pty natively, a COM port under Wine, the kernel's drivers in the guest): one set of
// expectations, which each host's test applies to what it saw.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "RecordingLine.h"
#include "SignCases.h"

namespace ledsign::test {

// A call on a line that takes no bytes gives -1 once its writes have waited out their deadlines
// (2 s, less the slack of a coarse clock), and no later than the model's bound.
inline void ExpectStalledCallTime(double ms, const SignCase& c) {
    EXPECT_GE(ms, 1900);
    EXPECT_LE(ms, c.stalledCallMaxMs);
}

// Once the line moves again, or has come back, the next Write2Led("AB#D") puts the whole of its
// frames on it: what the far side received ends with them.
inline void ExpectEndsWithTwoRowFrames(const std::string& received, const SignCase& c) {
    const std::string frames = Bytes(c.twoRowBytes);
    ASSERT_GE(received.size(), frames.size());
    EXPECT_EQ(Hex(received.substr(received.size() - frames.size())), Hex(frames));
}

// The settings a line that came back is reopened at, when the host asked for `baud`,8,NONE,1.
inline std::string ReopenedAt(const SignCase& c, int baud) {
    return std::string(" back: reopened at ") + (c.fixedLine ? "2400" : std::to_string(baud)) + ",8,NONE,1";
}

}  // namespace ledsign::test
