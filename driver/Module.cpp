// Module load and unload: the driver object is built before the "Initializing" trace line
// and destroyed, closing a port still held, after the "Terminating" line.
#include "driver/FrameTrace.h"
#include "driver/LedPort.h"
#include "driver/TraceMessage.h"
#include "serial/HostServices.h"
#include "signs/SignIdentity.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ledsign {

namespace {

// Static objects of one source are built in order and destroyed in reverse: this one first.
LedPort driverObject;

FrameTrace pluginTrace{"", 0, TraceSink{&TraceMessage::WriteToChannel, nullptr}};
bool traceOn = false;

// Reads LEDSIGN_TRACE once, at load; with the trace on, the line's failures and recoveries are
// traced too. Its clock starts here.
void ReadTraceSetting() {
    traceOn = EnvironmentHolds("LEDSIGN_TRACE", "1");
    pluginTrace.name = kSignIdentity.moduleName;
    pluginTrace.startMs = PlatformNowMs();
    if (traceOn) driverObject.SetLineEventHook(&TraceLineEvent, &pluginTrace);
}

// "<module> <event>!\n"
void TraceModuleLine(const char* event) {
    TraceMessage().Text(kSignIdentity.moduleName).Text(" ").Text(event).Text("!").Send();
}

#if !defined(_WIN32)
// On Linux the loader runs static construction and destruction at dlopen and dlclose;
// this object, built after the driver object, traces around it.
struct ModuleLifetime {
    ModuleLifetime() {
        ReadTraceSetting();
        TraceModuleLine("Initializing");
    }
    ~ModuleLifetime() { TraceModuleLine("Terminating"); }
};
ModuleLifetime moduleLifetime;
#endif

}  // namespace

LedPort& TheLedPort() { return driverObject; }

const FrameTrace* PluginTrace() { return traceOn ? &pluginTrace : nullptr; }

}  // namespace ledsign

#if defined(_WIN32)
// The C runtime builds static objects before process attach and destroys them after
// process detach, which gives the order above.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ledsign::ReadTraceSetting();
        ledsign::TraceModuleLine("Initializing");
    }
    if (reason == DLL_PROCESS_DETACH) ledsign::TraceModuleLine("Terminating");
    return TRUE;
}
#endif
