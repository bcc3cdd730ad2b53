// The brava plug-in: binds the driver front to its sign's encoder and identity.
#include "signs/brava.h"

#include "driver/LedPort.h"

namespace ledsign {

const SignIdentity kSignIdentity = brava::kIdentity;

int32_t SignWriteText(PortLine& line, const char* text) { return WriteTwoRowText(line, brava::kFrameFormat, text); }

int32_t SignClear(PortLine& line) { return WriteHeaderFramedClear(line); }

}  // namespace ledsign
