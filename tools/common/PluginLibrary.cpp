#include "tools/common/PluginLibrary.h"

#include "tools/common/TextFormat.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace ledsign::tools {

namespace {

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) error = "cannot load " + path + ": " + SystemErrorText(GetLastError());
    return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* OpenLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) error = dlerror();
    return handle;
}
void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void CloseLibrary(void* handle) { dlclose(handle); }
#endif

template <class Fn>
bool Resolve(void* handle, const char* name, Fn& function, std::string& error) {
    function = reinterpret_cast<Fn>(FindSymbol(handle, name));
    if (function == nullptr && error.empty()) error = std::string("the plug-in does not export ") + name;
    return function != nullptr;
}

}  // namespace

PluginLibrary::~PluginLibrary() { Unload(); }

void PluginLibrary::Unload() {
    if (handle_ != nullptr) CloseLibrary(handle_);
    handle_ = nullptr;
    exports_ = {};
}

bool PluginLibrary::Load(const std::string& path, std::string& error) {
    handle_ = OpenLibrary(path, error);
    if (handle_ == nullptr) return false;
    bool ok = Resolve(handle_, "InitLed", exports_.InitLed, error);
    ok &= Resolve(handle_, "OpenLed", exports_.OpenLed, error);
    ok &= Resolve(handle_, "CloseLed", exports_.CloseLed, error);
    ok &= Resolve(handle_, "IsLedOpened", exports_.IsLedOpened, error);
    ok &= Resolve(handle_, "Write2Led", exports_.Write2Led, error);
    ok &= Resolve(handle_, "ClearLed", exports_.ClearLed, error);
    ok &= Resolve(handle_, "SetShowMode", exports_.SetShowMode, error);
    ok &= Resolve(handle_, "GetLEDAtt", exports_.GetLEDAtt, error);
    ok &= Resolve(handle_, "GetVer", exports_.GetVer, error);
    return ok;
}

}  // namespace ledsign::tools
