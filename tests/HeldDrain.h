// A drain that the driver holds, in-process: the test executable's own tcdrain and fstat stand in
// for the C library's, so that a plug-in loaded into it sees its ptys as USB adapters (major 188,
// ttyUSB) whose drain waits, as ftdi_sio's does for an adapter pulled during its status request,
// until the test lets it go. Disarmed, both pass straight through.
#pragma once

namespace ledsign::test {

class HeldDrain {
public:
    // Ptys opened from now on look like USB adapters.
    HeldDrain();
    // Lets every held drain go and stops presenting ptys as adapters.
    ~HeldDrain();
    HeldDrain(const HeldDrain&) = delete;
    HeldDrain& operator=(const HeldDrain&) = delete;

    // Every tcdrain from now on waits until Release (at most 30 s).
    void Hold();
    void Release();
};

}  // namespace ledsign::test
