// Loads a plug-in by path, as a host does, and resolves its nine exports by name.
#pragma once

#include <string>

#include "include/ledsign.h"

namespace ledsign::tools {

struct PluginExports {
    InitLedFn InitLed;
    OpenLedFn OpenLed;
    CloseLedFn CloseLed;
    IsLedOpenedFn IsLedOpened;
    Write2LedFn Write2Led;
    ClearLedFn ClearLed;
    SetShowModeFn SetShowMode;
    GetLEDAttFn GetLEDAtt;
    GetVerFn GetVer;
};

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the library and resolves every export; on failure `error` names what is missing.
    bool Load(const std::string& path, std::string& error);
    const PluginExports& Exports() const { return exports_; }
    // Unloads the library (the destructor does it too); the exports are gone with it.
    void Unload();

private:
    void* handle_ = nullptr;
    PluginExports exports_{};
};

}  // namespace ledsign::tools
