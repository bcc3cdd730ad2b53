// signemu: a virtual sign. It creates a pseudo-terminal (or opens a serial device), decodes what
// a plug-in sends in the sign's protocol, and shows the sign's rows as they change: as text, as
// a dot-matrix picture in the terminal and, on request, as a PNG file, or as JSON lines.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "serial/PosixLine.h"
#include "signs/AllModels.h"
#include "tools/CommandLine.h"
#include "tools/DotMatrix.h"
#include "tools/JsonLine.h"
#include "tools/PngWriter.h"
#include "tools/SignDecoder.h"
#include "tools/TextCodec.h"
#include "tools/TextFormat.h"

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
    "since the previous frame against what the sign needs (100 ms between a two-row sign's rows,\n"
    "200 ms between a one-row header-framed sign's texts; an ESC-line sign's 1 ms is below what a\n"
    "pty's arrival times show, so it is not checked). Either is reported when it is wrong.\n"
    "\n"
    "Example:\n"
    "  signemu --model brava --link /tmp/sign &\n"
    "  ledctl ./libbrava.so write '欢迎光临#Welcome' --port /tmp/sign\n"
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

struct Options {
    const SignModel* model = nullptr;
    std::string link;
    std::string device;
    std::string png;
    std::string font;
    std::vector<std::string> rowFonts;
    int dotPixels = 4;
    long gapMs = 300;
    long idleExitMs = 0;
    bool json = false;
    bool picture = true;
    bool hex = false;
    long baud = 0, stopBits = 0, dataBits = 0;
    std::string parity;
};

void DeclareOptions(CLI::App& app, Options& options, std::string& model) {
    SetHelp(app, "usage: signemu --model MODEL [OPTIONS]\n", kDescription, Footer());
    app.add_option("--model", model, SignModelNames())
        ->type_name("MODEL")
        ->required()
        ->check([](const std::string& name) {
            return FindSignModel(name) != nullptr ? std::string() : "must be " + SignModelNames();
        });
    app.add_option("--link", options.link,
                   "also make PATH a symlink to the new pseudo-terminal (removed at exit); only a symlink is ever "
                   "replaced there")
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

volatile sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

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

std::string WallClock() {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long>(now.tv_usec / 1000));
    return text;
}

// What the line must run at for this sign: the model's reported settings, or the options.
struct ListenAt {
    long baud;
    long stopBits;
};

ListenAt ExpectedLine(const Options& options) {
    long baud = 0, dataBits = 0, stopBits = 0;
    char parity[20] = {};
    std::sscanf(options.model->identity.commText, "%ld,%ld,%19[^,],%ld", &baud, &dataBits, parity, &stopBits);
    return {options.baud != 0 ? options.baud : baud, options.stopBits != 0 ? options.stopBits : stopBits};
}

// Control bytes shown as \xNN, never sent raw to the terminal.
std::string Printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

// Columns of the terminal on standard output, or 0 when it is not a terminal.
int TerminalColumns() {
    winsize size{};
    if (isatty(STDOUT_FILENO) == 0 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

// Milliseconds to a tenth.
double Tenths(double ms) { return std::round(ms * 10) / 10; }

const char* EventName(SignEvent::Kind kind) {
    switch (kind) {
        case SignEvent::kRow: return "row";
        case SignEvent::kClear: return "clear";
        case SignEvent::kMalformed: break;
    }
    return "malformed";
}

// An event for scripts, with the frame's bytes.
nlohmann::ordered_json EventJson(const SignEvent& event, const std::string& clock, double elapsedMs) {
    nlohmann::ordered_json json{
        {"event", EventName(event.kind)}, {"time", clock}, {"elapsed_ms", Tenths(elapsedMs)}, {"offset", event.offset}};
    if (event.kind == SignEvent::kRow) {
        json["row"] = event.row;
        json["text"] = GbkToUtf8Lenient(event.text);
        json["gbk"] = HexBytes(event.text);
    }
    if (event.kind == SignEvent::kMalformed) {
        json["reason"] = event.reason;
        json["bytes"] = HexBytes(event.bytes);
    } else {
        json["frame"] = HexBytes(event.bytes);
    }
    return json;
}

class VirtualSign {
public:
    VirtualSign(const Options& options, const SignFonts* fonts, int lineFd)
        : options_(options),
          geometry_(options.model->geometry),
          fonts_(fonts),
          rows_(static_cast<size_t>(geometry_.rows)),
          lineFd_(lineFd),
          expected_(ExpectedLine(options)) {
        switch (options.model->protocol) {
            case SignProtocol::kHeaderFramedTwoRows: neededGapMs_ = kTwoRowPauseMs; break;
            case SignProtocol::kHeaderFramedOneRow: neededGapMs_ = kOneRowPauseMs; break;
            case SignProtocol::kEscLine: neededGapMs_ = 0; break;
        }
    }

    void Show(const SignEvent& event, double elapsedMs) {
        const std::string clock = WallClock();
        if (event.kind != SignEvent::kMalformed) {
            CheckLine(clock);
            CheckTiming(clock, elapsedMs);
        }
        if (event.kind == SignEvent::kRow) {
            rows_[static_cast<size_t>(event.row - 1)] = event.text;
        } else if (event.kind == SignEvent::kClear) {
            for (std::string& row : rows_) row.clear();
        }
        const std::string text = GbkToUtf8Lenient(event.text);
        if (options_.json) {
            std::fputs(JsonLine(EventJson(event, clock, elapsedMs)).c_str(), stdout);
        } else if (event.kind == SignEvent::kRow) {
            std::printf("[%s] row %d: \"%s\"\n", clock.c_str(), event.row, Printable(text).c_str());
        } else if (event.kind == SignEvent::kClear) {
            std::printf("[%s] cleared\n", clock.c_str());
        } else {
            std::printf("[%s] MALFORMED at byte %llu: %s: %s\n", clock.c_str(),
                        static_cast<unsigned long long>(event.offset), event.reason.c_str(),
                        HexBytes(event.bytes).c_str());
        }
        if (event.kind != SignEvent::kMalformed && fonts_ != nullptr) Draw();
        std::fflush(stdout);
    }

private:
    void Draw() {
        std::vector<std::u32string> rows;
        for (const std::string& row : rows_) rows.push_back(GbkToUtf32Lenient(row));
        const SignIdentity& identity = options_.model->identity;
        const DotBitmap bitmap = RenderSign(geometry_, rows, *fonts_, {identity.rowChars, identity.rowWideChars});
        if (options_.picture) std::fputs(DrawForTerminal(bitmap, TerminalColumns()).c_str(), stdout);
        if (!options_.png.empty()) {
            uint32_t width = 0, height = 0;
            const std::vector<uint8_t> rgb = PaintLeds(bitmap, options_.dotPixels, width, height);
            std::string error;
            if (!WriteFileAtomically(options_.png, EncodePng(width, height, rgb), error)) {
                std::fprintf(stderr, "signemu: %s\n", error.c_str());
            }
        }
    }

    // The speed and stop bits the port runs at, against what the sign listens at; reported when
    // they change to something wrong.
    void CheckLine(const std::string& clock) {
        termios line{};
        if (tcgetattr(lineFd_, &line) != 0) return;
        const long baud = BaudOfConstant(cfgetospeed(&line));
        const long stopBits = (line.c_cflag & CSTOPB) != 0 ? 2 : 1;
        const bool wrong = baud != expected_.baud || stopBits != expected_.stopBits;
        const long seen = baud * 10 + stopBits;
        if (!wrong || seen == lastReportedLine_) {
            if (!wrong) lastReportedLine_ = 0;
            return;
        }
        lastReportedLine_ = seen;
        if (options_.json) {
            std::fputs(JsonLine({{"event", "line"},
                                 {"time", clock},
                                 {"speed", baud},
                                 {"stop_bits", stopBits},
                                 {"expected_speed", expected_.baud},
                                 {"expected_stop_bits", expected_.stopBits}})
                           .c_str(),
                       stdout);
        } else {
            std::printf(
                "[%s] LINE: the port runs at %ld baud, %ld stop bit%s; this sign listens at %ld baud, %ld stop "
                "bit%s: a real sign would show garbage\n",
                clock.c_str(), baud, stopBits, stopBits == 1 ? "" : "s", expected_.baud, expected_.stopBits,
                expected_.stopBits == 1 ? "" : "s");
        }
    }

    // A frame sooner after the previous one than the sign needs may be dropped by a real sign.
    void CheckTiming(const std::string& clock, double elapsedMs) {
        const double gap = elapsedMs - lastFrameMs_;
        const bool first = lastFrameMs_ < 0;
        lastFrameMs_ = elapsedMs;
        // Arrival times on a pty wander by a few milliseconds with the machine's load: only a gap
        // short by more than that is a frame sent too soon.
        constexpr double kArrivalJitterMs = 20;
        if (first || neededGapMs_ == 0 || gap + kArrivalJitterMs >= static_cast<double>(neededGapMs_)) return;
        if (options_.json) {
            std::fputs(
                JsonLine(
                    {{"event", "timing"}, {"time", clock}, {"gap_ms", std::lround(gap)}, {"needed_ms", neededGapMs_}})
                    .c_str(),
                stdout);
        } else {
            std::printf(
                "[%s] TOO SOON: this frame came %.0f ms after the previous one; the sign needs %u ms and may "
                "drop it\n",
                clock.c_str(), gap, neededGapMs_);
        }
    }

    const Options& options_;
    SignGeometry geometry_;
    const SignFonts* fonts_;         // null: no picture
    std::vector<std::string> rows_;  // what each row shows, GBK
    int lineFd_;
    ListenAt expected_;
    long lastReportedLine_ = 0;
    uint32_t neededGapMs_ = 0;
    double lastFrameMs_ = -1;
};

int Run(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;

    HexFont font;
    const bool wantFont = options.picture || !options.png.empty();
    if (wantFont) {
        std::string error;
        if (!font.Load(options.font.empty() ? DefaultFontPath() : options.font, error)) {
            if (!options.font.empty()) return Fail(error);
            std::fprintf(stderr, "signemu: %s; rows are shown as text only (install Debian's unifont package)\n",
                         error.c_str());
        }
    }
    SignFonts fonts;
    std::deque<FreeTypeFont> rowFonts;
    if (font.Size() > 0) {
        fonts.scaled = &font;
        const SignGeometry& geometry = options.model->geometry;
        const int rowHeight = geometry.height / geometry.rows;
        const bool given = !options.rowFonts.empty();
        for (const std::string& path : given ? options.rowFonts : DefaultRowFontPaths()) {
            // Debian's WenQuanYi is only ever drawn on 12-dot rows.
            if (path == kWenQuanYi12Path && rowHeight != 12) continue;
            std::string error;
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
    }

    if (!options.png.empty()) {
        // Refused at start, not after the first frame: the picture could never be written.
        const std::string probe = options.png + ".part";
        FILE* file = std::fopen(probe.c_str(), "wb");
        if (file == nullptr) return Fail("cannot write --png " + options.png + ": " + std::strerror(errno));
        std::fclose(file);
        std::remove(probe.c_str());
    }
    int fd = -1;
    int keepOpen = -1;
    std::string port;
    if (!options.device.empty()) {
        fd = open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return Fail("cannot open " + options.device + ": " + std::strerror(errno));
        // Raw input, so that a carriage return in a frame is not turned into a line feed.
        // The settings this sign listens at, applied to the device.
        const ListenAt listen = ExpectedLine(options);
        const LineSettings wanted{
            static_cast<int32_t>(listen.baud), static_cast<int32_t>(options.dataBits != 0 ? options.dataBits : 8),
            static_cast<int32_t>(listen.stopBits), ParityFromWord(options.parity.empty() ? "NONE" : options.parity)};
        termios current{};
        termios raw{};
        if (tcgetattr(fd, &current) != 0 || !BuildTermios(current, wanted, &raw) || tcsetattr(fd, TCSANOW, &raw) != 0) {
            return Fail("cannot set " + options.device + " to the sign's settings");
        }
        port = options.device;
    } else {
        fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) return Fail("cannot create a pseudo-terminal");
        const std::string slave = ptsname(fd);
        // Holding the slave keeps the line up between the plug-in's opens and closes.
        keepOpen = open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        if (keepOpen >= 0 && tcgetattr(keepOpen, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(keepOpen, TCSANOW, &raw);
        }
        port = slave.substr(5);
        if (!options.link.empty()) {
            // Only a symlink is replaced: a file or directory there is never removed.
            struct stat existing {};
            if (lstat(options.link.c_str(), &existing) == 0) {
                if (!S_ISLNK(existing.st_mode)) {
                    return Fail("--link " + options.link + " exists and is not a symlink: it is left as it is");
                }
                unlink(options.link.c_str());
            }
            if (options.link.size() > 9) {
                std::fprintf(stderr,
                             "signemu: warning: --link %s is longer than the 9 characters a plug-in takes; "
                             "give the plug-in %s\n",
                             options.link.c_str(), slave.substr(5).c_str());
            }
            if (symlink(slave.c_str(), options.link.c_str()) != 0) {
                return Fail("cannot link " + options.link + ": " + std::strerror(errno));
            }
        }
        if (options.json) {
            std::fputs(
                JsonLine({{"event", "port"}, {"port", port}, {"path", slave}, {"model", options.model->name}}).c_str(),
                stdout);
        } else {
            std::printf("port: %s\n", port.c_str());
            if (!options.link.empty()) std::printf("link: %s -> %s\n", options.link.c_str(), slave.c_str());
        }
    }
    if (!options.json) {
        const SignGeometry geometry = options.model->geometry;
        std::printf("sign: %s, %dx%d dots, %d row%s\n", options.model->name, geometry.width, geometry.height,
                    geometry.rows, geometry.rows == 1 ? "" : "s");
        const ListenAt expected = ExpectedLine(options);
        std::printf("line check: %ld baud, %ld stop bit%s (%s); data bits and parity cannot be seen on a pty\n",
                    expected.baud, expected.stopBits, expected.stopBits == 1 ? "" : "s",
                    options.baud != 0 || options.stopBits != 0 ? "as given" : "the sign's reported settings");
        if (options.model->protocol == SignProtocol::kEscLine) {
            std::printf(
                "frame timing: an ESC-line sign's 1 ms pause is below what a pty's arrival times show; "
                "not checked\n");
        }
    }
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SignDecoder decoder(*options.model);
    VirtualSign sign(options, fonts.scaled != nullptr ? &fonts : nullptr, fd);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastByte = start;
    auto lastBurst = start;
    bool anyBytes = false;
    std::vector<SignEvent> events;
    uint8_t buffer[4096];
    int status = 0;
    while (!stopRequested) {
        pollfd request{fd, POLLIN, 0};
        const int ready = poll(&request, 1, 20);
        const auto now = Clock::now();
        if (ready > 0) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                if (options.hex) {
                    const double sinceMs = std::chrono::duration<double, std::milli>(now - lastBurst).count();
                    const std::string bytes(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
                    if (options.json) {
                        std::fputs(JsonLine({{"event", "bytes"},
                                             {"time", WallClock()},
                                             {"gap_ms", Tenths(anyBytes ? sinceMs : 0.0)},
                                             {"bytes", HexBytes(bytes)}})
                                       .c_str(),
                                   stdout);
                    } else {
                        std::printf("[%s] +%.1f ms  %s\n", WallClock().c_str(), anyBytes ? sinceMs : 0.0,
                                    HexBytes(bytes).c_str());
                    }
                    std::fflush(stdout);
                }
                lastBurst = now;
                anyBytes = true;
                lastByte = now;
                decoder.Feed(buffer, static_cast<size_t>(got), events);
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                std::fprintf(stderr, "signemu: the line closed (%s)\n",
                             got == 0 ? "end of file" : std::strerror(errno));
                status = 1;
                break;
            }
        }
        const auto quiet = now - lastByte;
        if (decoder.InFrame() && quiet > std::chrono::milliseconds(options.gapMs)) decoder.Flush(events);
        const double elapsed = std::chrono::duration<double, std::milli>(now - start).count();
        for (const SignEvent& event : events) sign.Show(event, elapsed);
        events.clear();
        if (options.idleExitMs > 0 && anyBytes && quiet > std::chrono::milliseconds(options.idleExitMs)) break;
    }
    decoder.Flush(events);
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (const SignEvent& event : events) sign.Show(event, elapsed);
    if (!options.link.empty()) unlink(options.link.c_str());
    if (keepOpen >= 0) close(keepOpen);
    close(fd);
    return status;
}

}  // namespace
}  // namespace ledsign::tools

int main(int argc, char** argv) { return ledsign::tools::Run(argc, argv); }
