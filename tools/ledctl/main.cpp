// ledctl: a command-line host for the LED-sign plug-ins. It loads a plug-in by path, as the
// display host does, and calls its exports: show a sign's attributes, write text, clear it.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "signs/AllModels.h"
#include "tools/common/CommandLine.h"
#include "tools/common/JsonLine.h"
#include "tools/common/PluginLibrary.h"
#include "tools/common/TextCodec.h"
#include "tools/common/TextFormat.h"
#include "tools/ledctl/Console.h"
#include "tools/ledctl/Options.h"
#include "tools/ledctl/PluginLookup.h"
#include "tools/ledctl/Ports.h"
#include "tools/ledctl/Settings.h"
#include "tools/ledctl/TraceRelay.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ledsign::tools {
namespace {

const char* OpenResultText(int32_t result) {
    switch (result) {
        case 1: return "open";
        case -1: return "the port could not be opened (missing, or in use)";
        case -2: return "the port refused the line settings";
        default: return "unexpected result";
    }
}

int ShowInfo(const PluginExports& plugin) {
    LEDAtt attributes{};
    const int32_t result = plugin.GetLEDAtt(&attributes);
    std::string vendor;
    if (!GbkToUtf8(attributes.vendor, vendor)) vendor = "(label not GBK)";
    Say(stdout, "GetLEDAtt: %d\n", result);
    Say(stdout, "  dots:           %d\n", attributes.dots);
    Say(stdout, "  rowChars:       %d\n", attributes.rowChars);
    Say(stdout, "  rowWideChars:   %d\n", attributes.rowWideChars);
    Say(stdout, "  twoRows:        %d\n", attributes.twoRows);
    Say(stdout, "  commText:       %s\n", attributes.commText);
    Say(stdout, "  vendor:         %s\n", vendor.c_str());
    Say(stdout, "GetVer: %.1f\n", static_cast<double>(plugin.GetVer()));
    return kSuccess;
}

int ShowPorts(bool json, bool probe) {
#if defined(_WIN32)
    if (probe) {
        Say(json ? stderr : stdout,
            "probing: each of COM1..COM256 is opened once (this raises DTR and RTS on many drivers)\n");
    }
#endif
    const std::vector<PortEntry> ports = ListPorts(probe);
    for (const PortEntry& port : ports) {
        if (json) {
            Say(stdout, "%s",
                JsonLine({{"port", port.pluginName},
                          {"path", port.path},
                          {"description", port.description},
                          {"state", port.state},
                          {"fits", port.nameFits}})
                    .c_str());
        } else {
            Say(stdout, "%-9s  %-14s  %s; %s%s\n", port.pluginName.c_str(), port.path.c_str(), port.description.c_str(),
                port.state.c_str(), port.nameFits ? "" : "; the name is longer than the plug-in's 9 characters");
        }
    }
    if (ports.empty() && !json) Say(stdout, "no serial ports found\n");
    return kSuccess;
}

int OpenFailureExit(OpenFailure reason) {
    switch (reason) {
        case OpenFailure::kNoDevice: return kNoDevice;
        case OpenFailure::kPermission: return kPermission;
        case OpenFailure::kInUse: return kInUse;
        case OpenFailure::kNotSerial: return kNotSerial;
        case OpenFailure::kRefused: return kSettingsRefused;
        case OpenFailure::kOther: break;
    }
    return kSignFailure;
}

bool ReadStandardInput(std::string& text) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) text.append(buffer, got);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return std::ferror(stdin) == 0;
}

long ElapsedMs(const std::chrono::steady_clock::time_point& start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// One call on the sign, its result printed; false when it failed, after saying why.
bool CallOnce(const PluginExports& plugin, const Options& options, const std::string& text, long mode,
              const PortSettings& settings) {
    int32_t result = 1;
    const auto start = std::chrono::steady_clock::now();
    if (options.command == "write") {
        result = plugin.Write2Led(text.c_str());
        Say(stdout, "Write2Led: %d (%zu bytes)\n", result, text.size());
    } else if (options.command == "clear") {
        result = plugin.ClearLed();
        Say(stdout, "ClearLed: %d\n", result);
    } else {
        plugin.SetShowMode(static_cast<unsigned char>(mode));
        Say(stdout, "SetShowMode: %ld\n", mode);
    }
    if (result <= 0) Say(stderr, "ledctl: %s\n", ExplainWriteFailure(settings, ElapsedMs(start)).c_str());
    return result > 0;
}

// The bytes Write2Led is given: UTF-8 typed text in GBK, or --raw / --hex bytes as they stand.
// -1 to go on, else the exit code to end with.
int TextToWrite(const Options& options, std::string& text) {
    std::string argument = options.argument;
    if (argument == "-") {
        argument.clear();
        if (!ReadStandardInput(argument)) return UsageError("cannot read the text from standard input");
    }
    if (options.hex) {
        if (!ParseHexBytes(argument, text)) return UsageError("--hex text must be pairs of hex digits");
        if (text.find('\0') != std::string::npos) return UsageError("--hex bytes hold 00: the text would end there");
    } else if (options.raw) {
        text = argument;
    } else if (!Utf8ToGbk(argument, text)) {
        return UsageError("the text is not UTF-8 or has characters GBK cannot show (use --raw or --hex)");
    }
    return -1;
}

// The plug-in traces when LEDSIGN_TRACE is 1 at its load; ledctl shows what it traces.
void StartTrace(TraceRelay& relay) {
#if defined(_WIN32)
    SetEnvironmentVariableA("LEDSIGN_TRACE", "1");
#else
    setenv("LEDSIGN_TRACE", "1", 1);
#endif
    std::string why;
    if (!relay.Start(why)) Warn("the trace lines are not shown here: " + why);
}

// OpenLed, and when it fails why, with the exit code that names it; -1 when the port is open.
int OpenPort(const PluginExports& plugin, const Options& options, const PortSettings& settings) {
    const int32_t opened = plugin.OpenLed();
    Say(stdout, "OpenLed: %d (%s)\n", opened, OpenResultText(opened));
    if (opened == 1) return -1;
    PortSettings tried = settings;
    if (!options.lineOptions) std::strcpy(tried.portName, "COM1");
    const OpenDiagnosis why = ExplainOpenFailure(tried, opened);
    Say(stderr, "ledctl: %s\n", why.text.c_str());
    return OpenFailureExit(why.reason);
}

// The calls, a second apart; true when every one succeeded.
bool CallRepeatedly(const PluginExports& plugin, const Options& options, const std::string& text, long mode,
                    const PortSettings& settings, TraceRelay& relay) {
    bool allDone = true;
    for (long call = 0; call < options.repeat; ++call) {
        if (call > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
        allDone &= CallOnce(plugin, options, text, mode, settings);
        if (relay.TakeComeBack()) { Say(stdout, "ledctl: the line was lost and came back\n"); }
    }
    return allDone;
}

// Everything after loading: the settings, the open, the calls and the close.
int DriveSign(const PluginExports& plugin, const Options& options, const std::string& text, long mode,
              TraceRelay& relay) {
    LEDAtt attributes{};
    plugin.GetLEDAtt(&attributes);
    const SignModel* model = ModelOfPlugin(options.plugin);
    const PortSettings settings = BuildSettings(options, attributes);
    InitWithSettings(plugin, options, settings, attributes, model);
    if (options.command == "write") WarnAboutText(text, attributes, model);
    const int openFailure = OpenPort(plugin, options, settings);
    if (openFailure >= 0) return openFailure;
    const bool allDone = CallRepeatedly(plugin, options, text, mode, settings, relay);
    plugin.CloseLed();
    Say(stdout, "CloseLed: done\n");
    return allDone ? kSuccess : kSignFailure;
}

int Run(const std::vector<std::string>& args) {
    Options options;
    const int parsed = ParseOptions(args, options);
    if (parsed >= 0) return parsed;
    if (options.command == "ports") return ShowPorts(options.json, options.probe);

    std::string text;
    if (options.command == "write") {
        const int bad = TextToWrite(options, text);
        if (bad >= 0) return bad;
    }
    long mode = 0;
    if (options.command == "mode") {
        std::string number = options.argument;
        if (!WholeNumber(0, 255)(number).empty()) return UsageError("mode needs a number 0..255");
        mode = std::stol(number);
    }

    TraceRelay relay;  // outlives the library: the "Terminating" line is shown too
    if (options.trace) StartTrace(relay);
    PluginLibrary library;
    std::string error;
    const std::string path = FindPlugin(options.plugin);
    if (!library.Load(path, error)) {
        Say(stderr, "ledctl: %s\n", LoadFailureText(options.plugin, path, error).c_str());
        return kLoadFailure;
    }
    options.plugin = path;  // its file name tells the sign model
    if (options.command == "info") return ShowInfo(library.Exports());
    return DriveSign(library.Exports(), options, text, mode, relay);
}

}  // namespace
}  // namespace ledsign::tools

#if defined(_WIN32)
// Arguments arrive as UTF-16 and are handled as UTF-8, whatever the console's code page.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), size, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    return ledsign::tools::Run(args);
}
#else
int main(int argc, char** argv) { return ledsign::tools::Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
