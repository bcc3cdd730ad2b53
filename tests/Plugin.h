// Loads a built plug-in the way a host does: by path, resolving the nine exports by name.
#pragma once

#include <stdexcept>
#include <string>

#include "SettingsRecord.h"
#include "include/ledsign.h"
#include "tools/common/PluginLibrary.h"

namespace ledsign::test {

// The native library of a sign, from the build tree.
inline std::string PluginPath(const std::string& sign) { return std::string(LEDSIGN_PLUGIN_DIR) + "/lib" + sign + ".so"; }

// The plug-in's nine exports as members, from the tools' loader: tests load a plug-in as ledctl does.
class Plugin : public tools::PluginExports {
public:
    explicit Plugin(const std::string& sign) {
        std::string error;
        if (!library_.Load(PluginPath(sign), error)) throw std::runtime_error(error);
        static_cast<tools::PluginExports&>(*this) = library_.Exports();
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    void Unload() { library_.Unload(); }

    // Init and open a port with the given settings.
    int32_t OpenOn(const std::string& portName, int32_t baud = 2400, int32_t dataBits = 8, int32_t stopBits = 1,
                   const char* parity = "NONE") {
        const PortSettings settings = MakePortSettings(portName, baud, dataBits, stopBits, parity);
        InitLed(&settings);
        return OpenLed();
    }

private:
    tools::PluginLibrary library_;
};

}  // namespace ledsign::test
