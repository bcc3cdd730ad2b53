// Loads a built plug-in the way a host does: by path, resolving the nine exports by name.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "include/ledsign.h"

namespace ledsign::test {

// A settings record as a host fills it.
inline PortSettings MakePortSettings(const std::string& portName, int32_t baud = 2400, int32_t dataBits = 8,
                                     int32_t stopBits = 1, const char* parity = "NONE") {
    PortSettings settings{};
    portName.copy(settings.portName, sizeof settings.portName - 1);
    settings.baudRate = baud;
    settings.dataBits = dataBits;
    settings.stopBits = stopBits;
    std::string(parity).copy(settings.parityWord, sizeof settings.parityWord - 1);
    return settings;
}

// The native library of a sign, from the build tree.
inline std::string PluginPath(const std::string& sign) { return std::string(LEDSIGN_PLUGIN_DIR) + "/lib" + sign + ".so"; }

class Plugin {
public:
    explicit Plugin(const std::string& sign) : handle_(dlopen(PluginPath(sign).c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) throw std::runtime_error(dlerror());
        Resolve(InitLed, "InitLed");
        Resolve(OpenLed, "OpenLed");
        Resolve(CloseLed, "CloseLed");
        Resolve(IsLedOpened, "IsLedOpened");
        Resolve(Write2Led, "Write2Led");
        Resolve(ClearLed, "ClearLed");
        Resolve(SetShowMode, "SetShowMode");
        Resolve(GetLEDAtt, "GetLEDAtt");
        Resolve(GetVer, "GetVer");
    }
    ~Plugin() { Unload(); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    void Unload() {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = nullptr;
    }

    // Init and open a port with the given settings.
    int32_t OpenOn(const std::string& portName, int32_t baud = 2400, int32_t dataBits = 8, int32_t stopBits = 1,
                   const char* parity = "NONE") {
        const PortSettings settings = MakePortSettings(portName, baud, dataBits, stopBits, parity);
        InitLed(&settings);
        return OpenLed();
    }

    InitLedFn InitLed = nullptr;
    OpenLedFn OpenLed = nullptr;
    CloseLedFn CloseLed = nullptr;
    IsLedOpenedFn IsLedOpened = nullptr;
    Write2LedFn Write2Led = nullptr;
    ClearLedFn ClearLed = nullptr;
    SetShowModeFn SetShowMode = nullptr;
    GetLEDAttFn GetLEDAtt = nullptr;
    GetVerFn GetVer = nullptr;

private:
    template <class Fn>
    void Resolve(Fn& function, const char* name) {
        function = reinterpret_cast<Fn>(dlsym(handle_, name));
        if (function == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    }
    void* handle_;
};

}  // namespace ledsign::test
