#include "tools/signemu/EventLoop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "serial/PosixTermios.h"
#include "tools/common/JsonLine.h"
#include "tools/common/TextCodec.h"
#include "tools/common/TextFormat.h"
#include "tools/signview/PngWriter.h"
#include "tools/signview/SignDecoder.h"

namespace ledsign::tools {
namespace {

volatile sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

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

// printf into a string, for a report's text line.
template <class... Arguments>
std::string Format(const char* format, Arguments... arguments) {
    char text[1024];
    std::snprintf(text, sizeof text, format, arguments...);
    return text;
}

// Every report goes out one way, rendered once for each reader: a JSON object with --json, else
// its line of text.
void Emit(const Options& options, const nlohmann::ordered_json& json, const std::string& text) {
    std::fputs(options.json ? JsonLine(json).c_str() : (text + "\n").c_str(), stdout);
}

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
            CheckTiming(clock, elapsedMs, event.kind == SignEvent::kRow);
        }
        if (event.kind == SignEvent::kRow) {
            rows_[static_cast<size_t>(event.row - 1)] = event.text;
        } else if (event.kind == SignEvent::kClear) {
            for (std::string& row : rows_) row.clear();
        }
        const std::string text = GbkToUtf8Lenient(event.text);
        std::string line;
        if (event.kind == SignEvent::kRow) {
            line = Format("[%s] row %d: \"%s\"", clock.c_str(), event.row, Printable(text).c_str());
        } else if (event.kind == SignEvent::kClear) {
            line = Format("[%s] cleared", clock.c_str());
        } else {
            line = Format("[%s] MALFORMED at byte %llu: %s: %s", clock.c_str(),
                          static_cast<unsigned long long>(event.offset), event.reason.c_str(),
                          HexBytes(event.bytes).c_str());
        }
        Emit(options_, EventJson(event, clock, elapsedMs), line);
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
        Emit(options_,
             {{"event", "line"},
              {"time", clock},
              {"speed", baud},
              {"stop_bits", stopBits},
              {"expected_speed", expected_.baud},
              {"expected_stop_bits", expected_.stopBits}},
             Format("[%s] LINE: the port runs at %ld baud, %ld stop bit%s; this sign listens at %ld baud, %ld stop "
                    "bit%s: a real sign would show garbage",
                    clock.c_str(), baud, stopBits, stopBits == 1 ? "" : "s", expected_.baud, expected_.stopBits,
                    expected_.stopBits == 1 ? "" : "s"));
    }

    // The sign needs its pause after a row frame (the protocol's pauses follow rows): a frame sooner
    // after a row than that may be dropped by a real sign. A clear asks for no pause, so the next
    // frame may follow it at once.
    void CheckTiming(const std::string& clock, double elapsedMs, bool row) {
        const double gap = elapsedMs - lastFrameMs_;
        const bool afterRow = lastFrameWasRow_;
        lastFrameMs_ = elapsedMs;
        lastFrameWasRow_ = row;
        // Arrival times on a pty wander by a few milliseconds with the machine's load: only a gap
        // short by more than that is a frame sent too soon.
        constexpr double kArrivalJitterMs = 20;
        if (!afterRow || neededGapMs_ == 0 || gap + kArrivalJitterMs >= static_cast<double>(neededGapMs_)) return;
        Emit(options_,
             {{"event", "timing"}, {"time", clock}, {"gap_ms", std::lround(gap)}, {"needed_ms", neededGapMs_}},
             Format("[%s] TOO SOON: this frame came %.0f ms after the previous row; the sign needs %u ms after a row "
                    "and may drop it",
                    clock.c_str(), gap, neededGapMs_));
    }

    const Options& options_;
    SignGeometry geometry_;
    const SignFonts* fonts_;         // null: no picture
    std::vector<std::string> rows_;  // what each row shows, GBK
    int lineFd_;
    ListenAt expected_;
    long lastReportedLine_ = 0;
    uint32_t neededGapMs_ = 0;
    double lastFrameMs_ = 0;
    bool lastFrameWasRow_ = false;
};

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// --hex: a burst of bytes as it arrived, with the time since the previous one.
void ShowBurst(const Options& options, const std::string& bytes, double sinceMs) {
    const std::string clock = WallClock();
    Emit(options, {{"event", "bytes"}, {"time", clock}, {"gap_ms", Tenths(sinceMs)}, {"bytes", HexBytes(bytes)}},
         Format("[%s] +%.1f ms  %s", clock.c_str(), sinceMs, HexBytes(bytes).c_str()));
    std::fflush(stdout);
}

// The line's bytes through the decoder, with the times that --gap and --idle-exit go by.
class LineReader {
public:
    LineReader(const Options& options, int fd) : options_(options), fd_(fd), decoder_(*options.model) {}

    // Waits up to 20 ms for bytes and decodes them into `events`; false when the line closed.
    bool Poll(std::vector<SignEvent>& events) {
        pollfd request{fd_, POLLIN, 0};
        const int ready = poll(&request, 1, 20);
        now_ = Clock::now();
        if (ready > 0 && !Read(events)) return false;
        if (decoder_.InFrame() && Quiet() > std::chrono::milliseconds(options_.gapMs)) decoder_.Flush(events);
        return true;
    }
    void Flush(std::vector<SignEvent>& events) {
        now_ = Clock::now();
        decoder_.Flush(events);
    }
    double ElapsedMs() const { return MsBetween(start_, now_); }
    bool IdleLongEnough() const {
        return options_.idleExitMs > 0 && anyBytes_ && Quiet() > std::chrono::milliseconds(options_.idleExitMs);
    }

private:
    bool Read(std::vector<SignEvent>& events) {
        uint8_t buffer[4096];
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            std::fprintf(stderr, "signemu: the line closed (%s)\n", got == 0 ? "end of file" : std::strerror(errno));
            return false;
        }
        if (got < 0) return true;
        const std::string bytes(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
        if (options_.hex) ShowBurst(options_, bytes, anyBytes_ ? MsBetween(lastByte_, now_) : 0.0);
        anyBytes_ = true;
        lastByte_ = now_;
        decoder_.Feed(bytes, events);
        return true;
    }
    Clock::duration Quiet() const { return now_ - lastByte_; }

    const Options& options_;
    int fd_;
    SignDecoder decoder_;
    Clock::time_point start_ = Clock::now(), now_ = start_, lastByte_ = start_;
    bool anyBytes_ = false;
};

}  // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    // SIGHUP: the terminal signemu runs in was closed.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) sigaction(stop, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int RunEventLoop(const Options& options, const SignFonts* fonts, int fd) {
    VirtualSign sign(options, fonts, fd);
    LineReader reader(options, fd);
    std::vector<SignEvent> events;
    int status = 0;
    while (!stopRequested && status == 0) {
        if (!reader.Poll(events)) status = 1;
        for (const SignEvent& event : events) sign.Show(event, reader.ElapsedMs());
        events.clear();
        if (reader.IdleLongEnough()) break;
    }
    reader.Flush(events);
    for (const SignEvent& event : events) sign.Show(event, reader.ElapsedMs());
    return status;
}

}  // namespace ledsign::tools
