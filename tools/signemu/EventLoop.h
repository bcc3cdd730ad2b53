// signemu's event loop: bytes from the line through the decoder to the virtual sign, which shows
// each event (text, JSON, picture, PNG) and checks the line's speed and the frames' timing.
#pragma once

#include "tools/signemu/Options.h"
#include "tools/signview/DotMatrix.h"

namespace ledsign::tools {

// From here on SIGINT, SIGTERM and SIGHUP ask the event loop to stop, so that signemu ends as it
// should (its --link removed) also when its terminal is closed.
void CatchStopSignals();

// Reads the line until a stop is asked (SIGINT, SIGTERM, SIGHUP), the line closes or --idle-exit has
// passed; `fonts` null draws no picture. The exit status: 0, or 1 when the line closed.
int RunEventLoop(const Options& options, const SignFonts* fonts, int fd);

}  // namespace ledsign::tools
