// Binds the driver front to one sign model: its identity and its encoder. The build compiles this
// file once per model, with LEDSIGN_MODEL_HEADER naming the model's header ("signs/brava.h") and
// LEDSIGN_MODEL its namespace (brava).
#include LEDSIGN_MODEL_HEADER

#include "driver/LedPort.h"

namespace ledsign {

const SignIdentity kSignIdentity = LEDSIGN_MODEL::kModel.identity;

int32_t SignWriteText(PortLine& line, const char* text) { return WriteModelText<LEDSIGN_MODEL::kModel>(line, text); }

int32_t SignClear(PortLine& line) { return ClearModel<LEDSIGN_MODEL::kModel>(line); }

}  // namespace ledsign
