// The dorun plug-in: binds the driver front to its sign's encoder and identity.
#include "signs/dorun.h"

#include "driver/LedPort.h"

namespace ledsign {

const SignIdentity kSignIdentity = dorun::kIdentity;

int32_t SignWriteText(PortLine& line, const char* text) { return WriteOneRowText(line, dorun::kFrameFormat, text); }

int32_t SignClear(PortLine& line) { return WriteHeaderFramedClear(line); }

}  // namespace ledsign
