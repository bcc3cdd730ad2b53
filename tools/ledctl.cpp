// ledctl: a command-line host for the LED-sign plug-ins. It loads a plug-in by path, as the
// display host does, and calls its exports: show a sign's attributes, write text, clear it.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/PluginLibrary.h"
#include "tools/TextCodec.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ledsign::tools {
namespace {

enum ExitCode { kSuccess = 0, kSignFailure = 1, kUsage = 2, kLoadFailure = 3 };

const char kUsageText[] =
    "usage: ledctl PLUGIN COMMAND [ARGUMENT] [OPTIONS]\n"
    "\n"
    "Loads the LED-sign plug-in PLUGIN (libbrava.so, BRAVAX.DLL, ...) and calls it as a host does.\n"
    "\n"
    "Commands:\n"
    "  info           show the sign's attributes and the driver version (opens no port)\n"
    "  write TEXT     show TEXT; on two-row signs '#' separates row 1 from row 2\n"
    "  clear          blank the sign\n"
    "  mode N         set display mode N (0..255); the signs accept and ignore it\n"
    "\n"
    "Line options (without any of them the plug-in uses its built-in defaults on COM1):\n"
    "  --port NAME        port: COM1 (on Linux /dev/ttyS0), ttyUSB0, pts/3 or /dev/ttyS0;\n"
    "                     at most 9 characters\n"
    "  --baud N           baud rate               (default: the plug-in's reported settings)\n"
    "  --data-bits N      data bits, 5..8\n"
    "  --stop-bits N      1 or 2\n"
    "  --parity WORD      NONE, EVEN or ODD\n"
    "\n"
    "Text options:\n"
    "  --raw              pass TEXT's bytes unchanged instead of converting UTF-8 to GBK\n"
    "  --hex              TEXT is hex bytes, e.g. \"D6 D0 23 41\"\n"
    "  --help             show this help\n"
    "\n"
    "Examples:\n"
    "  ledctl ./libbrava.so info\n"
    "  ledctl ./libbrava.so write '欢迎光临#OK' --port pts/3\n"
    "  ledctl BRAVAX.DLL clear --port COM2 --baud 9600\n"
    "\n"
    "Exit status: 0 done; 1 the plug-in reported a failure (result printed); 2 usage error;\n"
    "3 the plug-in could not be loaded or lacks an export.\n";

struct Options {
    std::string plugin;
    std::string command;
    std::string argument;
    bool hasArgument = false;
    std::string port;
    long baud = 0, dataBits = 0, stopBits = 0;
    std::string parity;
    bool lineOptions = false;
    bool raw = false;
    bool hex = false;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "ledctl: %s\n(ledctl --help shows the options)\n", message.c_str());
    return kUsage;
}

// A whole decimal number that fits the records' 32-bit fields.
bool ParseNumber(const std::string& text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= INT32_MIN && value <= INT32_MAX;
}

// Parses the command line; returns -1 to go on, else the exit code to end with.
int ParseOptions(const std::vector<std::string>& args, Options& options) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageText, stdout);
            return kSuccess;
        }
        if (arg == "--raw") { options.raw = true; continue; }
        if (arg == "--hex") { options.hex = true; continue; }
        const bool takesValue = arg == "--port" || arg == "--baud" || arg == "--data-bits" ||
                                arg == "--stop-bits" || arg == "--parity";
        if (takesValue) {
            if (i + 1 >= args.size()) return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            options.lineOptions = true;
            if (arg == "--port") {
                options.port = value;
            } else if (arg == "--parity") {
                options.parity = value;
            } else {
                long number = 0;
                if (!ParseNumber(value, number)) return UsageError(arg + " needs a number, not '" + value + "'");
                (arg == "--baud" ? options.baud : arg == "--data-bits" ? options.dataBits : options.stopBits) = number;
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') return UsageError("unknown option " + arg);
        positional.push_back(arg);
    }
    if (positional.size() < 2) return UsageError("a plug-in and a command are needed");
    options.plugin = positional[0];
    options.command = positional[1];
    const bool needsArgument = options.command == "write" || options.command == "mode";
    if (options.command != "info" && options.command != "clear" && !needsArgument) {
        return UsageError("unknown command '" + options.command + "'");
    }
    if (needsArgument != (positional.size() == 3) || positional.size() > 3) {
        return UsageError(needsArgument ? options.command + " needs one argument" : options.command + " takes no argument");
    }
    if (needsArgument) options.argument = positional[2];
    if (options.port.size() > 9) return UsageError("port name '" + options.port + "' is longer than 9 characters");
    if (options.parity.size() > 19) return UsageError("parity word is longer than 19 characters");
    return -1;
}

bool ParseHex(const std::string& text, std::string& bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    for (size_t i = 0; i < digits.size(); i += 2) bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return true;
}

// Settings not given on the command line come from the plug-in's reported defaults.
PortSettings BuildSettings(const Options& options, const LEDAtt& attributes) {
    long baud = 2400, dataBits = 8, stopBits = 1;
    char parity[20] = "NONE";
    std::sscanf(attributes.commText, "%ld,%ld,%19[^,],%ld", &baud, &dataBits, parity, &stopBits);
    PortSettings settings{};
    std::string port = options.port.empty() ? "COM1" : options.port;
    port.copy(settings.portName, sizeof settings.portName - 1);
    settings.baudRate = static_cast<int32_t>(options.baud != 0 ? options.baud : baud);
    settings.dataBits = static_cast<int32_t>(options.dataBits != 0 ? options.dataBits : dataBits);
    settings.stopBits = static_cast<int32_t>(options.stopBits != 0 ? options.stopBits : stopBits);
    (options.parity.empty() ? std::string(parity) : options.parity).copy(settings.parityWord, sizeof settings.parityWord - 1);
    return settings;
}

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
    std::printf("GetLEDAtt: %d\n", result);
    std::printf("  dots:           %d\n", attributes.dots);
    std::printf("  rowChars:       %d\n", attributes.rowChars);
    std::printf("  rowWideChars:   %d\n", attributes.rowWideChars);
    std::printf("  twoRows:        %d\n", attributes.twoRows);
    std::printf("  commText:       %s\n", attributes.commText);
    std::printf("  vendor:         %s\n", vendor.c_str());
    std::printf("GetVer: %.1f\n", static_cast<double>(plugin.GetVer()));
    return kSuccess;
}

int Run(const std::vector<std::string>& args) {
    Options options;
    const int parsed = ParseOptions(args, options);
    if (parsed >= 0) return parsed;

    std::string text;
    if (options.command == "write") {
        if (options.hex) {
            if (!ParseHex(options.argument, text)) return UsageError("--hex text must be pairs of hex digits");
        } else if (options.raw) {
            text = options.argument;
        } else if (!Utf8ToGbk(options.argument, text)) {
            return UsageError("the text is not UTF-8 or has characters GBK cannot show (use --raw or --hex)");
        }
    }
    long mode = 0;
    if (options.command == "mode" && (!ParseNumber(options.argument, mode) || mode < 0 || mode > 255)) {
        return UsageError("mode needs a number 0..255");
    }

    PluginLibrary library;
    std::string error;
    if (!library.Load(options.plugin, error)) {
        std::fprintf(stderr, "ledctl: %s\n", error.c_str());
        return kLoadFailure;
    }
    const PluginExports& plugin = library.Exports();
    if (options.command == "info") return ShowInfo(plugin);

    if (options.lineOptions) {
        LEDAtt attributes{};
        plugin.GetLEDAtt(&attributes);
        const PortSettings settings = BuildSettings(options, attributes);
        std::printf("InitLed: %s %d,%d,%s,%d\n", settings.portName, settings.baudRate, settings.dataBits,
                    settings.parityWord, settings.stopBits);
        plugin.InitLed(&settings);
    } else {
        std::printf("InitLed: plug-in defaults (COM1)\n");
        plugin.InitLed(nullptr);
    }
    const int32_t opened = plugin.OpenLed();
    std::printf("OpenLed: %d (%s)\n", opened, OpenResultText(opened));
    if (opened != 1) return kSignFailure;

    int32_t result = 1;
    if (options.command == "write") {
        result = plugin.Write2Led(text.c_str());
        std::printf("Write2Led: %d (%zu bytes)\n", result, text.size());
    } else if (options.command == "clear") {
        result = plugin.ClearLed();
        std::printf("ClearLed: %d\n", result);
    } else {
        plugin.SetShowMode(static_cast<unsigned char>(mode));
        std::printf("SetShowMode: %ld\n", mode);
    }
    plugin.CloseLed();
    std::printf("CloseLed: done\n");
    return result > 0 ? kSuccess : kSignFailure;
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
