// The nine exported functions: each calls one operation of the driver object.
#include "driver/LedPort.h"

#if defined(_WIN32)
#define LEDSIGN_EXPORT  // exported by name and ordinal through the module-definition file
#else
#define LEDSIGN_EXPORT __attribute__((visibility("default")))
#endif

using ledsign::TheLedPort;

extern "C" {

LEDSIGN_EXPORT void LEDSIGN_CALL InitLed(const PortSettings* settings) { TheLedPort().Init(settings); }
LEDSIGN_EXPORT int32_t LEDSIGN_CALL OpenLed(void) { return TheLedPort().OpenLed(); }
LEDSIGN_EXPORT void LEDSIGN_CALL CloseLed(void) { TheLedPort().CloseLed(); }
LEDSIGN_EXPORT int32_t LEDSIGN_CALL IsLedOpened(void) { return TheLedPort().IsOpen(); }
LEDSIGN_EXPORT int32_t LEDSIGN_CALL Write2Led(const char* text) { return TheLedPort().WriteText(text); }
LEDSIGN_EXPORT int32_t LEDSIGN_CALL ClearLed(void) { return TheLedPort().Clear(); }
LEDSIGN_EXPORT void LEDSIGN_CALL SetShowMode(unsigned char mode) { TheLedPort().SetShowMode(mode); }
LEDSIGN_EXPORT int32_t LEDSIGN_CALL GetLEDAtt(LEDAtt* attributes) { return TheLedPort().GetAttributes(attributes); }
LEDSIGN_EXPORT float LEDSIGN_CALL GetVer(void) { return TheLedPort().GetVersion(); }

}  // extern "C"
