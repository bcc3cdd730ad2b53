// tcdrain and fstat standing in for the C library's in the program that links DrainStandIn.cpp
// (with ENABLE_EXPORTS), and so in the plug-ins and library it uses: a pty can look like a USB
// adapter, and its drains can be held as ftdi_sio holds one for an adapter pulled during it.
#pragma once

#include <atomic>

namespace ledsign::test {

// Ptys look like USB adapters (major 188), whose drains run on a drain thread.
extern std::atomic<bool> adapters;

constexpr int kNoDrainHeld = -2;
constexpr int kEveryDrainHeld = -1;
// Whose tcdrain waits (up to 30 s): nobody's, everybody's, or one descriptor's.
extern std::atomic<int> heldDrain;

}  // namespace ledsign::test
