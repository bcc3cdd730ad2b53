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

#include "serial/SerialPort.h"
#include "signs/AllModels.h"
#include "tools/CommandLine.h"
#include "tools/JsonLine.h"
#include "tools/PluginLibrary.h"
#include "tools/PortCheck.h"
#include "tools/TextCodec.h"
#include "tools/TextFormat.h"
#include "tools/TraceRelay.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ledsign::tools {
namespace {

enum ExitCode {
    kSuccess = 0,
    kSignFailure = 1,
    kUsage = 2,
    kLoadFailure = 3,
    // OpenLed failed, and looking at the port told why.
    kNoDevice = 4,
    kPermission = 5,
    kInUse = 6,
    kNotSerial = 7,
    kSettingsRefused = 8,
};

const char kUsageLines[] =
    "usage: ledctl PLUGIN COMMAND [ARGUMENT] [OPTIONS]\n"
    "       ledctl ports [--json] [--probe]\n";

const char kDescription[] =
    "Loads the LED-sign plug-in PLUGIN (./libbrava.so, BRAVAX.DLL, ...) and calls it as a host does.\n"
    "\n"
    "Commands:\n"
    "  info           show the sign's attributes and the driver version (opens no port)\n"
    "  write TEXT     show TEXT; '#' separates row 1 from row 2 (a one-row ESC-line sign shows\n"
    "                 each row in turn, so the part after '#' stays; dorun shows '#' as text);\n"
    "                 TEXT '-' reads the text from standard input; '--' before a TEXT that\n"
    "                 starts with '-'\n"
    "  clear          blank the sign\n"
    "  mode N         set display mode N (0..255); the signs accept and ignore it\n"
    "  ports          list this machine's serial ports: the name to give the plug-in, what the\n"
    "                 device is, whether it is in use and whether this user may open it; no port\n"
    "                 is opened (on Windows only --probe tells free from in use)\n"
    "\n"
    "When OpenLed fails, ledctl looks at the port and says why (no such device, permission denied,\n"
    "in use and by whom, not a serial device, settings refused); when Write2Led fails, whether the\n"
    "port went away or the line stalled.\n"
    "\n"
    "Line options: without any of them the plug-in uses its built-in defaults on COM1. Values given\n"
    "are passed to the plug-in as they are; missing ones come from the settings the sign reports.";

const char kFooter[] =
    "Examples:\n"
    "  ledctl ports\n"
    "  ledctl ./libbrava.so info\n"
    "  ledctl ./libbrava.so write '欢迎光临#OK' --port pts/3\n"
    "  ledctl ./libbrava.so write -- '-5 °C' --port=ttyUSB0 --trace\n"
    "  ledctl BRAVAX.DLL clear --port COM12 --baud 9600\n"
    "\n"
    "Exit status: 0 done; 1 the plug-in reported a failure (result printed; with --repeat, any call\n"
    "did); 2 usage error;\n"
    "3 the plug-in could not be loaded or lacks an export; OpenLed failed: 4 no such device,\n"
    "5 permission denied, 6 in use, 7 not a serial device, 8 settings refused.";

struct Options {
    std::string plugin;
    std::string command;
    std::string argument;
    std::string port;
    int32_t baud = 0, dataBits = 0, stopBits = 0;
    std::string parity;
    bool hasPort = false, hasBaud = false, hasDataBits = false, hasStopBits = false, hasParity = false;
    bool lineOptions = false;
    bool raw = false;
    bool hex = false;
    bool trace = false;
    bool json = false;
    bool probe = false;
    long repeat = 1;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "ledctl: %s\n(ledctl --help shows the options)\n", message.c_str());
    return kUsage;
}

// The option table, which the help is made from.
struct OptionTable {
    CLI::Option *port, *baud, *dataBits, *stopBits, *parity;
};

OptionTable DeclareOptions(CLI::App& app, Options& options, std::vector<std::string>& words) {
    SetHelp(app, kUsageLines, kDescription, kFooter);
    const CLI::Validator anyNumber = WholeNumber(INT32_MIN, INT32_MAX);
    OptionTable table{};
    table.port = app.add_option("--port", options.port,
                                "port: COM1 (on Linux the first serial port), ttyUSB0, pts/3 or /dev/sign; at most "
                                "9 characters")
                     ->type_name("NAME")
                     ->group("Line options");
    table.baud = app.add_option("--baud", options.baud, "baud rate (default: the sign's reported settings)")
                     ->type_name("N")
                     ->check(anyNumber)
                     ->group("Line options");
    table.dataBits = app.add_option("--data-bits", options.dataBits, "data bits, 5..8")
                         ->type_name("N")
                         ->check(anyNumber)
                         ->group("Line options");
    table.stopBits = app.add_option("--stop-bits", options.stopBits, "1 or 2")
                         ->type_name("N")
                         ->check(anyNumber)
                         ->group("Line options");
    table.parity =
        app.add_option("--parity", options.parity, "NONE, EVEN or ODD")->type_name("WORD")->group("Line options");
    app.add_flag("--raw", options.raw, "pass TEXT's bytes unchanged instead of converting UTF-8 to GBK");
    app.add_flag("--hex", options.hex, "TEXT is hex bytes, e.g. \"D6 D0 23 41\" (no 00: the text would end there)");
    app.add_flag("--trace", options.trace,
                 "the plug-in traces every write and pause, and why the line failed and how it came back (sets "
                 "LEDSIGN_TRACE=1); ledctl shows the lines as they come");
    app.add_option("--repeat", options.repeat,
                   "make the call N times, one second apart: a line that drops out and comes back shows (with "
                   "--trace: \"the line was lost and came back\")")
        ->type_name("N")
        ->check(WholeNumber(1, 100000));
    app.add_flag("--json", options.json, "ports: one JSON object per port");
    app.add_flag("--probe", options.probe,
                 "ports, Windows: also open every COM1..COM256 to find ports the system does not list and to tell "
                 "free from in use. Probing opens each port, which raises DTR and RTS on many drivers: equipment "
                 "on it may reset");
    app.add_option("words", words)->group("");
    return table;
}

// The plug-in, the command and its argument; returns -1 to go on, else the exit code.
int TakeCommand(const std::vector<std::string>& words, Options& options) {
    if (words.size() == 1 && words[0] == "ports") {
        options.command = "ports";
        return -1;
    }
    if (words.size() < 2) return UsageError("a plug-in and a command are needed");
    options.plugin = words[0];
    options.command = words[1];
    const bool needsArgument = options.command == "write" || options.command == "mode";
    if (options.command != "info" && options.command != "clear" && !needsArgument) {
        return UsageError("unknown command '" + options.command + "'");
    }
    if (needsArgument != (words.size() == 3) || words.size() > 3) {
        return UsageError(needsArgument ? options.command + " needs one argument"
                                        : options.command + " takes no argument");
    }
    if (needsArgument) options.argument = words[2];
    return -1;
}

// Parses the command line; returns -1 to go on, else the exit code to end with.
int ParseOptions(const std::vector<std::string>& args, Options& options) {
    CLI::App app("", "ledctl");
    std::vector<std::string> words;
    const OptionTable table = DeclareOptions(app, options, words);
    const int parsed = ParseCommandLine(app, args);
    if (parsed >= 0) return parsed;
    options.hasPort = table.port->count() > 0;
    options.hasBaud = table.baud->count() > 0;
    options.hasDataBits = table.dataBits->count() > 0;
    options.hasStopBits = table.stopBits->count() > 0;
    options.hasParity = table.parity->count() > 0;
    options.lineOptions =
        options.hasPort || options.hasBaud || options.hasDataBits || options.hasStopBits || options.hasParity;
    if (options.hasPort && options.port.empty())
        return UsageError("--port needs a port name (an empty one is never COM1 by default)");
    const int command = TakeCommand(words, options);
    if (command >= 0) return command;
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
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return true;
}

// Settings not given on the command line come from the plug-in's reported settings; a value given
// is passed on as it is, for the plug-in to judge.
PortSettings BuildSettings(const Options& options, const LEDAtt& attributes) {
    long baud = 2400, dataBits = 8, stopBits = 1;
    char parity[20] = "NONE";
    std::sscanf(attributes.commText, "%ld,%ld,%19[^,],%ld", &baud, &dataBits, parity, &stopBits);
    PortSettings settings{};
    std::string port = options.hasPort ? options.port : "COM1";
    port.copy(settings.portName, sizeof settings.portName - 1);
    settings.baudRate = static_cast<int32_t>(options.hasBaud ? options.baud : baud);
    settings.dataBits = static_cast<int32_t>(options.hasDataBits ? options.dataBits : dataBits);
    settings.stopBits = static_cast<int32_t>(options.hasStopBits ? options.stopBits : stopBits);
    (options.hasParity ? options.parity : std::string(parity))
        .copy(settings.parityWord, sizeof settings.parityWord - 1);
    return settings;
}

void Warn(const std::string& message) { std::fprintf(stderr, "ledctl: warning: %s\n", message.c_str()); }

// The parity words the plug-ins take, and what they read each as; any other word is NONE.
const char* ParityAsRead(const std::string& word) {
    uint8_t code = kParityNone;
    if (!LookUpParityWord(word, &code)) return nullptr;
    return code == kParityOdd ? "ODD" : code == kParityEven ? "EVEN" : "NONE";
}

// The settings as the line will run at them: the low byte of the data bits, the parity word as
// the plug-ins read it, 2 stop bits or 1.
std::string SettingsAsRead(const PortSettings& settings) {
    const char* parity = ParityAsRead(settings.parityWord);
    return std::to_string(settings.baudRate) + "," + std::to_string(static_cast<uint8_t>(settings.dataBits)) + "," +
           (parity != nullptr ? parity : "NONE") + "," + (settings.stopBits == 2 ? "2" : "1");
}

// Values the plug-ins read as something else than they look.
void WarnAboutSettings(const Options& options) {
    const bool known = ParityAsRead(options.parity) != nullptr;
    if (options.hasParity && !known) {
        Warn("the plug-ins read parity '" + options.parity +
             "' as NONE (they take NONE, EVEN or ODD, "
             "all capitals or all small letters; None too)");
    }
    if (options.hasStopBits && options.stopBits != 1 && options.stopBits != 2) {
        Warn("the plug-ins read " + std::to_string(options.stopBits) + " stop bits as 1 (only 2 means two)");
    }
}

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The sign model of a plug-in file, known by its file name, or null for a renamed one.
const SignModel* ModelOfPlugin(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string file = UpperCase(path.substr(slash == std::string::npos ? 0 : slash + 1));
    for (const BuiltModel& built : kBuiltModels) {
        if (file == UpperCase(std::string("lib") + built.model->name + ".so") ||
            file == UpperCase(built.windowsFileName)) {
            return built.model;
        }
    }
    return nullptr;
}

// Rows longer than the sign shows, and a one-row sign that keeps only the part after '#'.
void WarnAboutText(const std::string& text, const LEDAtt& attributes, const SignModel* model) {
    const bool splits = model == nullptr || model->protocol != SignProtocol::kHeaderFramedOneRow;
    std::vector<std::string> rows;
    const size_t hash = text.find('#');
    if (splits && hash != std::string::npos) {
        rows = {text.substr(0, hash), text.substr(hash + 1)};
    } else {
        rows = {text};
    }
    for (size_t index = 0; index < rows.size(); ++index) {
        size_t single = 0, wide = 0;
        for (size_t at = 0; at < rows[index].size(); ++at) {
            const auto byte = static_cast<unsigned char>(rows[index][at]);
            if (byte >= 0x81 && byte <= 0xFE && at + 1 < rows[index].size()) {
                ++wide;
                ++at;
            } else {
                ++single;
            }
        }
        // The row's width in sign columns: a double-byte character takes as many as rowChars/rowWideChars.
        const double used = attributes.rowChars > 0 && attributes.rowWideChars > 0
                                ? static_cast<double>(single) / attributes.rowChars +
                                      static_cast<double>(wide) / attributes.rowWideChars
                                : 0;
        if (used > 1.0) {
            Warn("row " + std::to_string(index + 1) + " (" + std::to_string(single) + " single-byte, " +
                 std::to_string(wide) +
                 " double-byte characters) is longer than the sign shows: " + std::to_string(attributes.rowChars) +
                 " single-byte or " + std::to_string(attributes.rowWideChars) + " double-byte characters a row");
        }
    }
    if (attributes.twoRows == 0 && splits && hash != std::string::npos) {
        Warn("this is a one-row sign: it shows the rows one after the other, so only the part after '#' stays");
    }
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

int ShowPorts(bool json, bool probe) {
#if defined(_WIN32)
    if (probe) {
        std::fprintf(json ? stderr : stdout,
                     "probing: each of COM1..COM256 is opened once (this raises DTR and RTS on many drivers)\n");
    }
#endif
    const std::vector<PortEntry> ports = ListPorts(probe);
    for (const PortEntry& port : ports) {
        if (json) {
            std::fputs(JsonLine({{"port", port.pluginName},
                                 {"path", port.path},
                                 {"description", port.description},
                                 {"state", port.state},
                                 {"fits", port.nameFits}})
                           .c_str(),
                       stdout);
        } else {
            std::printf("%-9s  %-14s  %s; %s%s\n", port.pluginName.c_str(), port.path.c_str(), port.description.c_str(),
                        port.state.c_str(),
                        port.nameFits ? "" : "; the name is longer than the plug-in's 9 characters");
        }
    }
    if (ports.empty() && !json) std::printf("no serial ports found\n");
    return kSuccess;
}

// The library to load: a bare file name is taken from the current directory when it is there.
std::string PluginToLoad(const std::string& plugin) {
    if (plugin.find_first_of("/\\") != std::string::npos) return plugin;
    FILE* file = std::fopen(plugin.c_str(), "rb");
    if (file == nullptr) return plugin;
    std::fclose(file);
#if defined(_WIN32)
    return ".\\" + plugin;
#else
    return "./" + plugin;
#endif
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    for (size_t index = 0; index < end.size(); ++index) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + index])) != end[index])
            return false;
    }
    return true;
}

std::string LoadFailureText(const std::string& plugin, const std::string& error) {
#if defined(_WIN32)
    if (EndsWithNoCase(plugin, ".so")) return plugin + " is a Linux library: on Windows load the DLL (BRAVAX.DLL, ...)";
#else
    if (EndsWithNoCase(plugin, ".dll")) {
        return plugin + " is a Windows DLL: run ledctl.exe under Windows (or Wine) for it; on Linux load libNAME.so";
    }
#endif
    if (plugin.find_first_of("/\\") == std::string::npos) {
        return error + "\n(no " + plugin + " in the current directory either: give the plug-in's path, e.g. ./" +
               plugin + ")";
    }
    return error;
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
    // Kept in step with the trace lines, which come on standard error as the call runs.
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
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
    std::fflush(stdout);
    if (result <= 0) std::fprintf(stderr, "ledctl: %s\n", ExplainWriteFailure(settings, ElapsedMs(start)).c_str());
    return result > 0;
}

int Run(const std::vector<std::string>& args) {
    Options options;
    const int parsed = ParseOptions(args, options);
    if (parsed >= 0) return parsed;
    if (options.command == "ports") return ShowPorts(options.json, options.probe);

    std::string text;
    if (options.command == "write") {
        std::string argument = options.argument;
        if (argument == "-") {
            argument.clear();
            if (!ReadStandardInput(argument)) return UsageError("cannot read the text from standard input");
        }
        if (options.hex) {
            if (!ParseHex(argument, text)) return UsageError("--hex text must be pairs of hex digits");
            if (text.find('\0') != std::string::npos)
                return UsageError("--hex bytes hold 00: the text would end there");
        } else if (options.raw) {
            text = argument;
        } else if (!Utf8ToGbk(argument, text)) {
            return UsageError("the text is not UTF-8 or has characters GBK cannot show (use --raw or --hex)");
        }
    }
    long mode = 0;
    if (options.command == "mode") {
        std::string number = options.argument;
        if (!WholeNumber(0, 255)(number).empty()) return UsageError("mode needs a number 0..255");
        mode = std::stol(number);
    }

    TraceRelay relay;
    if (options.trace) {
#if defined(_WIN32)
        SetEnvironmentVariableA("LEDSIGN_TRACE", "1");
#else
        setenv("LEDSIGN_TRACE", "1", 1);
#endif
        std::string why;
        if (!relay.Start(why)) Warn("the trace lines are not shown here: " + why);
    }
    PluginLibrary library;
    std::string error;
    if (!library.Load(PluginToLoad(options.plugin), error)) {
        std::fprintf(stderr, "ledctl: %s\n", LoadFailureText(options.plugin, error).c_str());
        return kLoadFailure;
    }
    const PluginExports& plugin = library.Exports();
    if (options.command == "info") return ShowInfo(plugin);

    LEDAtt attributes{};
    plugin.GetLEDAtt(&attributes);
    const SignModel* model = ModelOfPlugin(options.plugin);
    const PortSettings settings = BuildSettings(options, attributes);
    char used[64];
    std::snprintf(used, sizeof used, "%d,%d,%s,%d", settings.baudRate, settings.dataBits, settings.parityWord,
                  settings.stopBits);
    if (options.lineOptions) {
        WarnAboutSettings(options);
        std::printf("InitLed: %s %s\n", settings.portName, used);
        plugin.InitLed(&settings);
    } else {
        std::printf("InitLed: plug-in defaults (COM1)\n");
        plugin.InitLed(nullptr);
    }
    // What the line really runs at: a sign with fixed settings ignores the record; without a record
    // the plug-in's built-in defaults apply, which need not be what the sign reports.
    std::string line = options.lineOptions ? SettingsAsRead(settings) : "";
    if (model != nullptr && (model->identity.fixedLineSettings || !options.lineOptions)) {
        std::snprintf(used, sizeof used, "%d,8,NONE,1", model->identity.defaultBaudRate);
        line = used;
        std::printf("  the plug-in %s: %s\n",
                    model->identity.fixedLineSettings ? "always uses" : "uses its built-in defaults", used);
    }
    if (!line.empty() && line != attributes.commText) {
        Warn("the line runs at " + line + " but the sign reports " + attributes.commText +
             ": a sign that listens there shows nothing or garbage");
    }
    if (options.command == "write") WarnAboutText(text, attributes, model);

    const int32_t opened = plugin.OpenLed();
    std::printf("OpenLed: %d (%s)\n", opened, OpenResultText(opened));
    if (opened != 1) {
        PortSettings tried = settings;
        if (!options.lineOptions) std::strcpy(tried.portName, "COM1");
        const OpenDiagnosis why = ExplainOpenFailure(tried, opened);
        std::fprintf(stderr, "ledctl: %s\n", why.text.c_str());
        return OpenFailureExit(why.reason);
    }

    bool allDone = true;
    for (long call = 0; call < options.repeat; ++call) {
        if (call > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
        allDone &= CallOnce(plugin, options, text, mode, settings);
        if (relay.TakeComeBack()) {
            std::printf("ledctl: the line was lost and came back\n");
            std::fflush(stdout);
        }
    }
    plugin.CloseLed();
    std::printf("CloseLed: done\n");
    return allDone ? kSuccess : kSignFailure;
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
