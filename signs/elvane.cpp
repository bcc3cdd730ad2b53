// The elvane plug-in: binds the driver front to its sign's encoder and identity.
#include "signs/elvane.h"

#include "driver/LedPort.h"

namespace ledsign {

const SignIdentity kSignIdentity = elvane::kIdentity;

int32_t SignWriteText(PortLine& line, const char* text) { return WriteEscLineText(line, elvane::kFrameFormat, text); }

int32_t SignClear(PortLine& line) { return WriteEscLineClear(line, elvane::kFrameFormat); }

}  // namespace ledsign
