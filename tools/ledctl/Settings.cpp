#include "tools/ledctl/Settings.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "serial/LineSettings.h"
#include "signs/AllModels.h"
#include "tools/ledctl/Console.h"

namespace ledsign::tools {

void Warn(const std::string& message) { Say(stderr, "ledctl: warning: %s\n", message.c_str()); }

namespace {

// The parity words the plug-ins take, and what they read each as; any other word is NONE.
const char* ParityAsRead(const std::string& word) {
    uint8_t code = kParityNone;
    if (!LookUpParityWord(word, &code)) return nullptr;
    return ParityWordOf(code);
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

}  // namespace

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

void InitWithSettings(const PluginExports& plugin, const Options& options, const PortSettings& settings,
                      const LEDAtt& attributes, const SignModel* model) {
    char used[64];
    std::snprintf(used, sizeof used, "%d,%d,%s,%d", settings.baudRate, settings.dataBits, settings.parityWord,
                  settings.stopBits);
    if (options.lineOptions) {
        WarnAboutSettings(options);
        Say(stdout, "InitLed: %s %s\n", settings.portName, used);
        plugin.InitLed(&settings);
    } else {
        Say(stdout, "InitLed: plug-in defaults (COM1)\n");
        plugin.InitLed(nullptr);
    }
    // COM1 is the console on many stations: the port is named whenever the user did not choose it.
    if (!options.hasPort) {
#if defined(_WIN32)
        const char* port = "COM1";
#else
        const char* port = "COM1 (/dev/ttyS0)";
#endif
        Say(stderr,
            "ledctl: no --port given: the plug-in opens %s, its built-in port; --port chooses another "
            "(`ledctl ports` lists them)\n",
            port);
    }
    // What the line really runs at: a sign with fixed settings ignores the record; without a record
    // the plug-in's built-in defaults apply, which need not be what the sign reports.
    std::string line = options.lineOptions ? SettingsAsRead(settings) : "";
    if (model != nullptr && (model->identity.fixedLineSettings || !options.lineOptions)) {
        std::snprintf(used, sizeof used, "%d,8,NONE,1", model->identity.defaultBaudRate);
        line = used;
        Say(stdout, "  the plug-in %s: %s\n",
            model->identity.fixedLineSettings ? "always uses" : "uses its built-in defaults", used);
    }
    if (!line.empty() && line != attributes.commText) {
        Warn("the line runs at " + line + " but the sign reports " + attributes.commText +
             ": a sign that listens there shows nothing or garbage");
    }
}

}  // namespace ledsign::tools
