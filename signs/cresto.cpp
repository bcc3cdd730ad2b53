// The cresto plug-in: binds the driver front to its sign's encoder and identity.
#include "signs/cresto.h"

#include "driver/LedPort.h"

namespace ledsign {

const SignIdentity kSignIdentity = cresto::kIdentity;

int32_t SignWriteText(PortLine& line, const char* text) { return WriteEscLineText(line, cresto::kFrameFormat, text); }

int32_t SignClear(PortLine& line) { return WriteEscLineClear(line, cresto::kFrameFormat); }

}  // namespace ledsign
