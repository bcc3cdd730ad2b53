#include "tools/ledctl/Options.h"

#include <cstdio>

#include "tools/common/CommandLine.h"
#include "tools/ledctl/Console.h"
#include "tools/ledctl/PluginLookup.h"

namespace ledsign::tools {

int UsageError(const std::string& message) {
    Say(stderr, "ledctl: %s\n(ledctl --help shows the options)\n", message.c_str());
    return kUsage;
}

namespace {

const char kUsageLines[] =
    "Usage: ledctl PLUGIN COMMAND [ARGUMENT] [OPTIONS]\n"
    "  or:  ledctl ports [--json] [--probe]\n";

const char kDescription[] =
    "Loads the LED-sign plug-in PLUGIN (./libbrava.so, BRAVAX.DLL, ...) and calls it as a host does.\n"
    "\n"
    "Commands:\n"
    "  info           show the sign's attributes and the driver version (opens no port)\n"
    "  write TEXT     show TEXT; '#' separates row 1 from row 2 (a one-row ESC-line sign shows\n"
    "                 each row in turn, so the part after '#' stays; dorun shows '#' as text);\n"
    "                 TEXT '-' reads the text from standard input; '--' before a TEXT that\n"
    "                 starts with '-'\n"
    "  clear          blank the sign; no pause follows (the protocol has none after a clear), so\n"
    "                 a text may follow at once\n"
    "  mode N         set display mode N (0..255); the signs accept and ignore it\n"
    "  ports          list this machine's serial ports: the name to give the plug-in, what the\n"
    "                 device is, whether it is in use and whether this user may open it; no port\n"
    "                 is opened (on Windows only --probe tells free from in use)\n"
    "\n"
    "When OpenLed fails, ledctl looks at the port and says why (no such device, permission denied,\n"
    "in use and by whom, not a serial device, settings refused); when Write2Led fails, whether the\n"
    "port went away or the line stalled.\n"
    "\n"
    "PLUGIN may also be a sign model (%s) or a plug-in's file name: ledctl\n"
    "looks in the current directory, then in the plug-in folder (Linux: lib/ledsign beside ledctl's\n"
    "bin/, /usr/lib/ledsign from the package; Windows: the folder of ledctl.exe).\n"
    "\n"
    "Line options: without any of them the plug-in uses its built-in defaults on COM1, and ledctl\n"
    "says so. Values given are passed to the plug-in as they are; missing ones come from the\n"
    "settings the sign reports.";

const char kFooter[] =
    "Examples:\n"
    "  ledctl ports                      the serial ports of this machine\n"
    "  ledctl brava info                 what the brava plug-in reports\n"
    "  ledctl brava write '欢迎光临#OK' --port pts/3\n"
    "                                    two rows on a sign behind pts/3\n"
    "  ledctl ./libbrava.so write -- '-5 °C' --port=ttyUSB0 --trace\n"
    "                                    a text that starts with '-', traced\n"
    "  ledctl BRAVAX.DLL clear --port COM12 --baud 9600\n"
    "                                    (Windows) blank the sign on COM12\n"
    "\n"
    "Exit status: 0 done; 1 the plug-in reported a failure (result printed; with --repeat, any call\n"
    "did); 2 usage error;\n"
    "3 the plug-in could not be loaded or lacks an export; OpenLed failed: 4 no such device,\n"
    "5 permission denied, 6 in use, 7 not a serial device, 8 settings refused.";

// The option table, which the help is made from.
struct OptionTable {
    CLI::Option *port, *baud, *dataBits, *stopBits, *parity;
};

OptionTable DeclareOptions(CLI::App& app, Options& options, std::vector<std::string>& words) {
    std::string description(sizeof kDescription + 64, '\0');
    description.resize(
        static_cast<size_t>(std::snprintf(description.data(), description.size(), kDescription, ModelNames().c_str())));
    SetHelp(app, kUsageLines, description, kFooter);
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

}  // namespace

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

}  // namespace ledsign::tools
