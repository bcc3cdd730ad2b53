// signemu: a virtual sign. It creates a pseudo-terminal (or opens a serial device), decodes what
// a plug-in sends in the sign's protocol, and shows the sign's rows as they change: as text, as
// a dot-matrix picture in the terminal and, on request, as a PNG file, or as JSON lines.
#include <errno.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "signs/AllModels.h"
#include "tools/common/CommandLine.h"
#include "tools/signemu/EventLoop.h"
#include "tools/signemu/Line.h"
#include "tools/signemu/Options.h"
#include "tools/signview/DotMatrix.h"
#include "tools/signview/SignDecoder.h"

namespace ledsign::tools {
namespace {

const char kDescription[] =
    "A virtual LED sign. It listens on a new pseudo-terminal (or a serial device), decodes the\n"
    "sign protocol of MODEL and shows the sign's rows each time they change, with a timestamp.";

const char kFooter[] =
    "It first prints the port to give the plug-in (\"port: pts/N\"; with --json an object with\n"
    "\"event\":\"port\"), then one entry per event: a row set, the sign cleared, or malformed bytes\n"
    "with the reason. Sign geometry:%s.\n"
    "\n"
    "At each frame it checks the line: the speed and stop bits the port runs at (a pty keeps those;\n"
    "data bits and parity cannot be seen on a pty) against what this sign listens at, and the time\n"
    "since the previous row frame against the pause the sign needs after a row (100 ms on a two-row\n"
    "header-framed sign, 200 ms on a one-row one; an ESC-line sign's 1 ms is below what a pty's\n"
    "arrival times show, so it is not checked). A clear needs no pause after it (the protocol has\n"
    "none): a text may follow it at once. Either is reported when it is wrong.\n"
    "\n"
    "Example:\n"
    "  signemu --model brava --link /tmp/sign &\n"
    "                                    a brava sign behind /tmp/sign\n"
    "  ledctl brava write '欢迎光临#Welcome' --port /tmp/sign\n"
    "                                    two rows on it\n"
    "\n"
    "Exit status: 0 done; 1 the line closed under it (a device went away); 2 usage error or the\n"
    "port could not be set up.";

// The help's footer with the models the build knows filled in.
std::string Footer() {
    std::string geometries;
    for (const BuiltModel& built : kBuiltModels) {
        const SignModel& model = *built.model;
        geometries += std::string(geometries.empty() ? " " : ", ") + model.name + " " +
                      std::to_string(model.geometry.width) + "x" + std::to_string(model.geometry.height) + " dots in " +
                      (model.geometry.rows == 1 ? "one row" : std::to_string(model.geometry.rows) + " rows");
    }
    std::string footer(sizeof kFooter + geometries.size(), '\0');
    footer.resize(static_cast<size_t>(std::snprintf(footer.data(), footer.size(), kFooter, geometries.c_str())));
    return footer;
}

void DeclareOptions(CLI::App& app, Options& options, std::string& model) {
    SetHelp(app, "Usage: signemu --model MODEL [OPTIONS]\n", kDescription, Footer());
    app.add_option("--model", model, SignModelNames())
        ->type_name("MODEL")
        ->required()
        ->check([](const std::string& name) {
            return FindSignModel(name) != nullptr ? std::string() : "must be " + SignModelNames();
        });
    app.add_option("--link", options.link,
                   "also make PATH a symlink to the new pseudo-terminal, removed at exit (also when the terminal is "
                   "closed); only a symlink that leads nowhere is replaced: one to a live port (another signemu's) "
                   "is left alone")
        ->type_name("PATH");
    app.add_option("--device", options.device, "listen on an existing serial device instead of a new pseudo-terminal")
        ->type_name("PATH")
        ->excludes("--link");
    // The settings this sign listens at.
    const char* line = "Line settings (default: the model's reported ones; with --device also applied to it)";
    const CLI::Validator aboveZero = WholeNumber(1, INT32_MAX);
    app.add_option("--baud", options.baud, "baud rate")->type_name("N")->check(aboveZero)->group(line);
    app.add_option("--stop-bits", options.stopBits, "stop bits")->type_name("N")->check(aboveZero)->group(line);
    app.add_option("--data-bits", options.dataBits, "data bits")->type_name("N")->check(aboveZero)->group(line);
    app.add_option("--parity", options.parity, "NONE, EVEN or ODD")->type_name("WORD")->group(line);
    app.add_flag("--hex", options.hex,
                 "print every burst of bytes in hex with the time since the previous one, before decoding");
    app.add_flag("--json", options.json, "print one JSON object per line for each event, and no pictures");
    app.add_option("--png", options.png, "after each change, write the sign's picture to PATH as a PNG image")
        ->type_name("PATH");
    app.add_option("--dot-pixels", options.dotPixels, "size of one LED in the PNG, in pixels (default 4)")
        ->type_name("N")
        ->check(WholeNumber(1, 32));
    app.add_flag("!--no-picture", options.picture, "do not draw the sign in the terminal");
    app.add_option("--font", options.font,
                   "GNU Unifont .hex font, scaled to rows of any height (default $LEDSIGN_UNIFONT or "
                   "/usr/share/unifont/unifont.hex from Debian's unifont package)")
        ->type_name("PATH");
    app.add_option("--row-font", options.rowFonts,
                   "a bitmap font (PCF, .pcf.gz, BDF, or a font's bitmap strike), drawn dot for dot on rows of its "
                   "own height, Unifont standing in for the characters it lacks; may be given more than once "
                   "(default: the paths in $LEDSIGN_ROW_FONTS, separated by ':', else the 12-dot WenQuanYi song "
                   "/usr/share/fonts/X11/misc/wenquanyi_9pt.pcf from Debian's xfonts-wqy package, for 12-dot rows)")
        ->type_name("PATH")
        ->allow_extra_args(false);
    app.add_option("--gap", options.gapMs,
                   "a frame still incomplete after MS quiet milliseconds is reported as truncated (default 300)")
        ->type_name("MS")
        ->check(WholeNumber(0, INT32_MAX));
    app.add_option("--idle-exit", options.idleExitMs,
                   "end after MS milliseconds without bytes (once some have arrived)")
        ->type_name("MS")
        ->check(WholeNumber(0, INT32_MAX));
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "signemu: %s\n", message.c_str());
    return 2;
}

// Returns -1 to go on, else the exit code to end with.
int ParseOptions(int argc, char** argv, Options& options) {
    CLI::App app("", "signemu");
    std::string model;
    DeclareOptions(app, options, model);
    const int parsed = ParseCommandLine(app, std::vector<std::string>(argv + 1, argv + argc));
    if (parsed >= 0) return parsed;
    options.model = FindSignModel(model);
    if (options.json) options.picture = false;
    return -1;
}

// Unifont, scaled to any row, and the fonts drawn dot for dot on rows of their own height; the
// exit status when a font the user named cannot be read, else -1.
int LoadFonts(const Options& options, HexFont& font, std::deque<FreeTypeFont>& rowFonts, SignFonts& fonts) {
    if (!options.picture && options.png.empty()) return -1;
    std::string error;
    if (!font.Load(options.font.empty() ? DefaultFontPath() : options.font, error)) {
        if (!options.font.empty()) return Fail(error);
        std::fprintf(stderr, "signemu: %s; rows are shown as text only (install Debian's unifont package)\n",
                     error.c_str());
        return -1;
    }
    fonts.scaled = &font;
    const SignGeometry& geometry = options.model->geometry;
    const int rowHeight = geometry.height / geometry.rows;
    const bool given = !options.rowFonts.empty();
    for (const std::string& path : given ? options.rowFonts : DefaultRowFontPaths()) {
        // Debian's WenQuanYi is only ever drawn on 12-dot rows.
        if (path == kWenQuanYi12Path && rowHeight != 12) continue;
        FreeTypeFont& rowFont = rowFonts.emplace_back();
        if (!rowFont.Load(path, error, rowHeight)) {
            if (given) return Fail(error);
            std::fprintf(stderr, "signemu: %s; %s\n", error.c_str(),
                         path == kWenQuanYi12Path ? "12-dot rows are scaled from Unifont (install Debian's "
                                                    "xfonts-wqy package for its 12-dot Chinese font)"
                                                  : "rows are drawn without it");
            continue;
        }
        if (rowFont.Height() != rowHeight) {
            std::fprintf(stderr, "signemu: %s is %d dots high and this sign's rows are %d: it is not used\n",
                         path.c_str(), rowFont.Height(), rowHeight);
        }
        fonts.native.push_back(&rowFont);
    }
    return -1;
}

// Refused at start, not after the first frame: the picture could never be written.
bool PngWritable(const std::string& png, std::string& error) {
    const std::string probe = png + ".part";
    FILE* file = std::fopen(probe.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write --png " + png + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return true;
}

int Run(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;
    HexFont font;
    std::deque<FreeTypeFont> rowFonts;
    SignFonts fonts;
    const int fontsLoaded = LoadFonts(options, font, rowFonts, fonts);
    if (fontsLoaded >= 0) return fontsLoaded;
    std::string error;
    if (!options.png.empty() && !PngWritable(options.png, error)) return Fail(error);
    CatchStopSignals();
    SignLine line;
    if (!SetUpLine(options, line, error)) {
        CloseLine(line);
        return Fail(error);
    }
    const int status = RunEventLoop(options, fonts.scaled != nullptr ? &fonts : nullptr, line.fd);
    CloseLine(line);
    return status;
}

}  // namespace
}  // namespace ledsign::tools

int main(int argc, char** argv) { return ledsign::tools::Run(argc, argv); }
