#include "tools/ledctl/PluginLookup.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

#include "signs/AllModels.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

namespace ledsign::tools {

namespace {

#if defined(_WIN32)
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif

bool FileExists(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && LowerCase(text.substr(text.size() - end.size())) == end;
}

// The folder of the running program, without a trailing separator.
std::string ProgramFolder() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return {};
    const std::string program(path, length);
#else
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    const std::string program(path, static_cast<size_t>(length));
#endif
    const size_t slash = program.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

// The library file of a sign model on this platform, or "" for a name that is no model.
std::string ModelFile(const std::string& name) {
    for (const BuiltModel& built : kBuiltModels) {
        if (LowerCase(name) != built.model->name) continue;
#if defined(_WIN32)
        return built.windowsFileName;
#else
        return std::string("lib") + built.model->name + ".so";
#endif
    }
    return {};
}

}  // namespace

std::string ModelNames() {
    std::string names;
    for (const BuiltModel& built : kBuiltModels) names += (names.empty() ? "" : ", ") + std::string(built.model->name);
    return names;
}

std::string PluginFolder() {
    std::string folder = ProgramFolder();
    std::string relative = LEDSIGN_PLUGIN_DIR_FROM_TOOL;
    // "../lib/ledsign" from /usr/bin is /usr/lib/ledsign; "." is the program's own folder.
    for (; relative.compare(0, 3, "../") == 0 && folder.find_last_of("/\\") != std::string::npos;
         relative.erase(0, 3)) {
        folder.resize(folder.find_last_of("/\\"));
    }
    if (folder.empty()) return {};
    if (relative != ".") folder += kSeparator + relative;
    for (char& c : folder) {
        if (c == '/' || c == '\\') c = kSeparator;
    }
    return folder;
}

std::string FindPlugin(const std::string& plugin) {
    if (plugin.find_first_of("/\\") != std::string::npos) return plugin;
    const std::string here = std::string(".") + kSeparator;
    const std::string folder = PluginFolder();
    const std::string model = ModelFile(plugin);
    for (const std::string& name : {plugin, model}) {
        if (name.empty()) continue;
        if (FileExists(name)) return here + name;
        if (!folder.empty() && FileExists(folder + kSeparator + name)) return folder + kSeparator + name;
    }
    return plugin;
}

int WindowsDllBits(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    uint8_t header[0x40] = {};
    uint8_t pe[6] = {};
    bool read = std::fread(header, 1, sizeof header, file) == sizeof header && header[0] == 'M' && header[1] == 'Z';
    if (read) {
        const long offset =
            header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | static_cast<long>(header[0x3F]) << 24;
        read = std::fseek(file, offset, SEEK_SET) == 0 && std::fread(pe, 1, sizeof pe, file) == sizeof pe;
    }
    std::fclose(file);
    if (!read || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return 0;
    const unsigned machine = pe[4] | pe[5] << 8;
    if (machine == 0x14C) return 32;   // i386
    if (machine == 0x8664) return 64;  // x86-64
    return 0;
}

std::string LoadFailureText(const std::string& plugin, const std::string& path, const std::string& error) {
#if defined(_WIN32)
    if (EndsWithNoCase(plugin, ".so")) return plugin + " is a Linux library: on Windows load the DLL (BRAVAX.DLL, ...)";
    const int bits = WindowsDllBits(path);
    const int own = static_cast<int>(sizeof(void*) * 8);
    if (bits != 0 && bits != own) {
        return error + "\n" + path + " is a " + std::to_string(bits) + "-bit DLL and this ledctl.exe is " +
               std::to_string(own) + "-bit: run the ledctl.exe in the " + (bits == 64 ? "x64" : "x86") +
               " folder beside that DLL (a DLL loads only into a program of its own width)";
    }
#else
    if (EndsWithNoCase(plugin, ".dll")) {
        return plugin + " is a Windows DLL: run ledctl.exe under Windows (or Wine) for it; on Linux load libNAME.so";
    }
#endif
    if (plugin.find_first_of("/\\") == std::string::npos && path == plugin) {
        const std::string folder = PluginFolder();
        return error + "\n(no " + plugin + " in the current directory" + (folder.empty() ? "" : " or in " + folder) +
               ": give the plug-in's path, e.g. ." + kSeparator + plugin + ", or a sign model (" + ModelNames() + ")" +
               (folder.empty() ? "" : " or file name found there") + ")";
    }
    return error;
}

}  // namespace ledsign::tools
