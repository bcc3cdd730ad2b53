// Which library ledctl loads for the plug-in named on its command line, and what it says when the
// library cannot be loaded.
#pragma once

#include <string>

namespace ledsign::tools {

// The folder an installed ledctl finds the plug-ins in: on Linux the package's plug-in folder
// (lib/ledsign beside ledctl's bin/), on Windows the folder of ledctl.exe, where the DLLs are.
std::string PluginFolder();

// A path is used as it stands. A bare name is a file in the current directory, else a file in the
// plug-in folder, else a sign model ("brava": libbrava.so, BRAVAX.DLL) in either; else the name
// as it was given.
std::string FindPlugin(const std::string& plugin);

// Why `plugin` (found as `path`) did not load, and what to give instead.
std::string LoadFailureText(const std::string& plugin, const std::string& path, const std::string& error);

// The sign models the build knows, "brava, dorun, ...".
std::string ModelNames();

// 32 or 64 for a Windows DLL of that width (from its PE header), else 0.
int WindowsDllBits(const std::string& path);

}  // namespace ledsign::tools
