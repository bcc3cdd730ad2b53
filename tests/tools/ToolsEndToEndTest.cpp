// ledctl drives each built plug-in into signemu over a pseudo-terminal, as an installer would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "DotPictures.h"
#include "Plugin.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "RecordingLine.h"
#include "SignCases.h"

namespace ledsign::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    int status;  // the exit status, or -1 when the program had to be stopped
    std::string output;
};

// A child process with its standard output (and, when asked, its errors) on a pipe.
class Child {
public:
    Child(const std::vector<std::string>& args, bool withErrors) {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
        pid_ = StartProgram(args, StandardStreams{-1, pipeFds[1], withErrors ? pipeFds[1] : -1});
        close(pipeFds[1]);
        out_ = pipeFds[0];
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    void Signal(int number) { kill(pid_, number); }

    // The next line of output, or "" when none came in time.
    std::string ReadLine(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                const std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (!ReadSome(deadline)) return "";
        }
    }

    // Everything until the child ends, and how it ended.
    Result Finish(int timeoutMs = 20000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (ReadSome(deadline)) {
        }
        Result result{-1, buffer_};
        buffer_.clear();
        int status = 0;
        for (;;) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) break;
            if (Clock::now() > deadline) return result;
            usleep(10000);
        }
        reaped_ = true;
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
        return result;
    }

private:
    bool ReadSome(Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || out_ < 0) return false;
        pollfd request{out_, POLLIN, 0};
        if (poll(&request, 1, static_cast<int>(left)) <= 0) return false;
        char chunk[4096];
        const ssize_t got = read(out_, chunk, sizeof chunk);
        if (got <= 0) return false;
        buffer_.append(chunk, static_cast<size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string buffer_;
};

// Runs ledctl with the arguments; a first argument "--as-nobody" runs it as user and group nobody,
// "--holding PATH" with PATH open on its descriptor 3, as a shell's `3<>PATH` leaves it.
Result RunLedctl(std::vector<std::string> args) {
    const bool asNobody = !args.empty() && args[0] == "--as-nobody";
    if (asNobody) args.erase(args.begin());
    std::string holding;
    if (args.size() > 1 && args[0] == "--holding") {
        holding = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    args.insert(args.begin(), LEDCTL_PATH);
    if (asNobody) args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    if (!holding.empty()) args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 3<>" + holding});
    return Child(args, true).Finish();
}

// One of the tools' JSON lines, or null for a line that is not JSON.
nlohmann::json Json(const std::string& line) { return nlohmann::json::parse(line, nullptr, false); }

// The value of a string field in one of signemu's JSON lines.
std::string Field(const std::string& line, const std::string& name) {
    const nlohmann::json object = Json(line);
    return object.is_object() && object.contains(name) && object[name].is_string() ? object[name].get<std::string>()
                                                                                     : "<none>";
}

// "row1=<text>|<gbk hex>", "line <speed>,<stop bits> for <expected speed>,<expected stop bits>",
// "timing <ms needed>", "clear" or "malformed" for each event line.
std::vector<std::string> Events(const std::string& output) {
    std::vector<std::string> events;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::string kind = Field(line, "event");
        nlohmann::json event = Json(line);
        if (kind == "row") {
            events.push_back("row" + std::to_string(event["row"].get<int>()) + "=" + Field(line, "text") + "|" +
                             Field(line, "gbk"));
        } else if (kind == "line") {
            events.push_back("line " + event["speed"].dump() + "," + event["stop_bits"].dump() + " for " +
                             event["expected_speed"].dump() + "," + event["expected_stop_bits"].dump());
        } else if (kind == "timing") {
            events.push_back("timing " + event["needed_ms"].dump());
        } else if (kind != "<none>") {
            events.push_back(kind);
        }
    }
    return events;
}

// signemu started with --json, and the port its "port" event names: its first line or, with its
// errors on the same pipe, the first such line; "<none>" when none came.
struct VirtualSign : Child {
    explicit VirtualSign(const std::vector<std::string>& args, bool withErrors = false) : Child(args, withErrors) {
        std::string line = ReadLine(10000);
        while (withErrors && !line.empty() && Field(line, "event") != "port") line = ReadLine(10000);
        if (Field(line, "event") != "port") return;
        port = Field(line, "port");
        path = Field(line, "path");
    }
    std::string port = "<none>";  // as ledctl --port takes it
    std::string path = "<none>";  // the device
};

// A new directory under /tmp, removed with all that is in it at the end of the scope.
struct ScratchDirectory {
    explicit ScratchDirectory(const std::string& prefix) : path("/tmp/" + prefix + "-XXXXXX") {
        if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp: " + path);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// A file's contents, or "<missing>" when it cannot be read.
std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return file ? text.str() : "<missing>";
}

TEST(ToolsEndToEnd, LedctlDrivesEachPluginIntoTheVirtualSign) {
    // "中文#OK" typed in UTF-8 reaches the line as GBK D6D0 CEC4.
    const std::string text = "\xE4\xB8\xAD\xE6\x96\x87#OK";
    for (const SignCase& c : kSignCases) {
        SCOPED_TRACE(c.sign);
        // Two ledctl runs in a row: under a sanitizer each start takes long, so the sign waits 2 s.
        VirtualSign signemu({SIGNEMU_PATH, "--model", c.sign, "--json", "--idle-exit", "2000"});
        ASSERT_NE(signemu.port, "<none>");
        const Result written = RunLedctl({PluginPath(c.sign), "write", text, "--port", signemu.port});
        EXPECT_EQ(written.status, 0) << written.output;
        EXPECT_NE(written.output.find("Write2Led: 1"), std::string::npos) << written.output;
        const Result cleared = RunLedctl({PluginPath(c.sign), "clear", "--port", signemu.port});
        EXPECT_EQ(cleared.status, 0) << cleared.output;
        const Result shown = signemu.Finish();
        EXPECT_EQ(shown.status, 0);
        EXPECT_EQ(Events(shown.output), c.emulatorEvents) << shown.output;
    }
}

TEST(ToolsEndToEnd, LedctlRawAndHexTextPassUnchanged) {
    VirtualSign signemu({SIGNEMU_PATH, "--model", "dorun", "--json", "--idle-exit", "700"});
    EXPECT_EQ(RunLedctl({PluginPath("dorun"), "write", "\xC9\xCF#", "--raw", "--port", signemu.port}).status, 0);
    EXPECT_EQ(RunLedctl({PluginPath("dorun"), "write", "BA A3 41", "--hex", "--port", signemu.port}).status, 0);
    const Result shown = signemu.Finish();
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(Events(shown.output), (std::vector<std::string>{"row1=\xE4\xB8\x8A#|C9 CF 23", "row1=\xE6\xB5\xB7" "A|BA A3 41"}));
}

// The virtual sign checks the line at each frame: a speed the sign does not listen at is reported
// with both values, and frames closer than the sign can take are flagged; events carry the frame.
TEST(ToolsEndToEnd, SignemuReportsAWrongSpeedAndFramesTooClose) {
    VirtualSign signemu({SIGNEMU_PATH, "--model", "dorun", "--json", "--idle-exit", "700"});
    EXPECT_EQ(RunLedctl({PluginPath("dorun"), "write", "A", "--port", signemu.port}).status, 0);
    // Two one-row frames back to back, where the sign needs 200 ms between texts, at 9600 baud.
    const int line = open(("/dev/" + signemu.port).c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    tcgetattr(line, &settings);
    cfsetospeed(&settings, B9600);
    cfsetispeed(&settings, B9600);
    tcsetattr(line, TCSANOW, &settings);
    static const char kFrames[] = "\x05\x01\x03\x01\x00\x40\x10\x01" "B" "\x05\x01\x03\x01\x00\x40\x10\x01" "C";
    const std::string frames(kFrames, sizeof kFrames - 1);
    EXPECT_EQ(write(line, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
    // The pause comes after a row, never after a clear: a row right after a clear is what the
    // protocol sends for ClearLed then Write2Led, and no fault.
    usleep(300000);
    static const char kClearThenRow[] = "*01D\r" "\x05\x01\x03\x01\x00\x40\x10\x01" "D";
    EXPECT_EQ(write(line, kClearThenRow, sizeof kClearThenRow - 1), static_cast<ssize_t>(sizeof kClearThenRow - 1));
    const Result shown = signemu.Finish();
    EXPECT_EQ(shown.status, 0);
    close(line);
    EXPECT_EQ(Events(shown.output), (std::vector<std::string>{"row1=A|41", "line 9600,1 for 2400,1", "row1=B|42",
                                                              "timing 200", "row1=C|43", "clear", "row1=D|44"}))
        << shown.output;
    EXPECT_NE(shown.output.find("\"frame\":\"05 01 03 01 00 40 10 01 41\""), std::string::npos) << shown.output;
}

// Paths signemu is given are never clobbered: --link replaces only a symlink, and a --png that
// cannot be written is refused at start.
TEST(ToolsEndToEnd, SignemuRefusesPathsItMustNotTouch) {
    const ScratchDirectory directory("signemu-test");
    const std::string file = directory / "file";
    std::ofstream(file) << "keep me";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"link onto a file", {"--link", file}, "is not a symlink"},
        {"link onto a directory", {"--link", directory.path}, "is not a symlink"},
        {"png that cannot be written", {"--png", directory / "no/such/dir/x.png"}, "cannot write --png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {SIGNEMU_PATH, "--model", kSignCases[0].sign, "--no-picture"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result refused = Child(args, true).Finish(10000);
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.output.find(c.message), std::string::npos) << refused.output;
    }
    EXPECT_EQ(FileText(file), "keep me");
}

// Where a symlink leads, or "" for none.
std::string LinkTarget(const std::string& link) {
    char target[256] = {};
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

// A second signemu never takes a live sign's --link, and each removes its own at its end, also when
// its terminal hangs up (SIGHUP); a link left by a signemu that was killed leads nowhere and is taken.
TEST(ToolsEndToEnd, SignemuKeepsAnotherSignsLinkAndRemovesItsOwnOnHangUp) {
    const ScratchDirectory directory("signemu-link");
    const std::string link = directory / "sign";
    const std::vector<std::string> args = {SIGNEMU_PATH, "--model", "dorun", "--json", "--link", link};
    VirtualSign first(args);
    ASSERT_EQ(LinkTarget(link), first.path);
    const Result second = Child(args, true).Finish(10000);
    EXPECT_EQ(second.status, 2);
    EXPECT_NE(second.output.find("leads to " + first.path + ", which is there"), std::string::npos) << second.output;
    EXPECT_EQ(LinkTarget(link), first.path);
    first.Signal(SIGHUP);
    const Result hungUp = first.Finish(10000);
    EXPECT_EQ(hungUp.status, 0) << hungUp.output;
    EXPECT_EQ(LinkTarget(link), "");

    ASSERT_EQ(symlink("/dev/pts/999999", link.c_str()), 0);
    VirtualSign third(args);
    EXPECT_EQ(LinkTarget(link), third.path);
    third.Signal(SIGTERM);
    const Result ended = third.Finish(10000);
    EXPECT_EQ(ended.status, 0) << ended.output;
    EXPECT_EQ(LinkTarget(link), "");
}

// A process of another user (daemon, uid 1) holding a device open, with the plug-ins' lock or
// exclusively, until the holder goes out of scope.
class HeldByAnotherUser {
public:
    HeldByAnotherUser(const std::string& path, bool exclusive) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            if (setgroups(0, nullptr) != 0 || setgid(1) != 0 || setuid(1) != 0) _exit(1);
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            const bool held = fd >= 0 && (exclusive ? ioctl(fd, TIOCEXCL) == 0 : flock(fd, LOCK_EX | LOCK_NB) == 0);
            if (!held || write(ready[1], "1", 1) != 1) _exit(1);
            for (;;) pause();
        }
        close(ready[1]);
        char byte = 0;
        held_ = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
    }
    ~HeldByAnotherUser() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool Held() const { return held_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

TEST(ToolsEndToEnd, LedctlReportsWhatWentWrong) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    // A pty held by this process with the lock the plug-ins take: in use; and one that is free.
    Pty pty;
    Pty free;
    const int holder = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    // Permission: one pty its group (dialout, gid 20 on Debian) may use, one no group may use.
    Pty grouped;
    ASSERT_EQ(chown(grouped.SlavePath().c_str(), static_cast<uid_t>(-1), 20), 0);
    ASSERT_EQ(chmod(grouped.SlavePath().c_str(), 0660), 0);
    ASSERT_EQ(chmod(free.SlavePath().c_str(), 0600), 0);
    // Held by another user's process, which an ordinary user cannot look into.
    Pty locked;
    Pty exclusive;
    for (Pty* shared : {&locked, &exclusive}) ASSERT_EQ(chmod(shared->SlavePath().c_str(), 0666), 0);
    const HeldByAnotherUser lockHolder(locked.SlavePath(), false);
    const HeldByAnotherUser exclusiveHolder(exclusive.SlavePath(), true);
    ASSERT_TRUE(lockHolder.Held() && exclusiveHolder.Held());
    const Case cases[] = {
        {"info", {PluginPath("elvane"), "info"}, 0, "vendor:         \xE4\xB8\x8A\xE6\xB5\xB7"},
        {"missing export", {"/lib/x86_64-linux-gnu/libm.so.6", "info"}, 3, "does not export InitLed"},
        {"not a library", {"/nonexistent/libnone.so", "info"}, 3, "libnone.so"},
        {"port that is not there", {PluginPath("brava"), "clear", "--port", "ttyNONE9"}, 4, "no such device: /dev/ttyNONE9"},
        {"not a serial device", {PluginPath("brava"), "clear", "--port", "/dev/null"}, 7, "not a serial device"},
        {"speed refused", {PluginPath("brava"), "clear", "--port", free.PortName(), "--baud", "12345"}, 8, "speed was refused"},
        {"in use", {PluginPath("brava"), "clear", "--port", pty.PortName()}, 6, "in use: " + pty.SlavePath() + " is held by " + std::to_string(getpid())},
        {"in use, ledctl handed the port too", {"--holding", pty.SlavePath(), PluginPath("brava"), "clear", "--port", pty.PortName()}, 6, "(tools_end_to_en). Next: close"},  // ledctl, the last process, not named
        {"locked by another user", {"--as-nobody", PluginPath("brava"), "clear", "--port", locked.PortName()}, 6, "in use: " + locked.SlavePath() + " is held by a process this user cannot see."},
        {"held exclusively by another user", {"--as-nobody", PluginPath("brava"), "clear", "--port", exclusive.PortName()}, 6, "in use: " + exclusive.SlavePath() + " is held exclusively by a process this user cannot see."},
        {"permission denied", {"--as-nobody", PluginPath("brava"), "clear", "--port", pty.PortName()}, 5, "permission denied: " + pty.SlavePath() + " belongs to group "},
        {"not in the device's group", {"--as-nobody", PluginPath("brava"), "clear", "--port", grouped.PortName()}, 5, "belongs to group dialout and this user is not in it. Next: sudo usermod -aG dialout"},
        {"no group may use the device", {"--as-nobody", PluginPath("brava"), "clear", "--port", free.PortName()}, 5, "(mode 0600), which gives no sign user access. Next: a udev rule"},
        {"empty port name", {PluginPath("brava"), "clear", "--port", ""}, 2, "--port needs a port name"},
        {"hex holding 00", {PluginPath("brava"), "write", "41 00 42", "--hex"}, 2, "00"},
        {"DLL on Linux", {"BRAVAX.DLL", "info"}, 3, "Windows DLL"},
        {"bare name not here", {"libbrava.so", "info"}, 3, "give the plug-in's path"},
        {"unknown command", {PluginPath("brava"), "blink"}, 2, "unknown command"},
        {"mode out of range", {PluginPath("brava"), "mode", "256"}, 2, "0..255"},
        {"text GBK cannot show", {PluginPath("brava"), "write", "\xF0\x9F\x98\x80"}, 2, "GBK"},
        {"odd hex", {PluginPath("brava"), "write", "ABC", "--hex"}, 2, "hex"},
        {"port name too long", {PluginPath("brava"), "clear", "--port", "ttyUSB0123"}, 2, "9 characters"},
        {"baud not a number", {PluginPath("brava"), "clear", "--baud", "fast"}, 2, "number"},
        {"baud beyond the record's field", {PluginPath("brava"), "clear", "--baud", "4294969696"}, 2, "number"},
        {"no calls", {PluginPath("brava"), "clear", "--repeat", "0"}, 2, "--repeat: needs a whole number"},
        {"help", {"--help"}, 0, "--stop-bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = RunLedctl(c.args);
        EXPECT_EQ(result.status, c.status) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
        // Both streams in one pipe, as in a log: a diagnosis comes after the call it explains.
        if (c.status >= 4) EXPECT_LT(result.output.find("OpenLed: "), result.output.find(c.message)) << result.output;
    }
    close(holder);
}

// Values given are passed on as they are: text that starts with '-' after '--', text from standard
// input, and settings the plug-ins read otherwise are warned about.
TEST(ToolsEndToEnd, LedctlPassesWhatItIsGivenAndWarnsWhatTheSignWillNotShow) {
    const std::string plugin = PluginPath(kSignCases[0].sign);
    HeldPty pty;
    Result result = RunLedctl({plugin, "write", "--port", pty.PortName(), "--baud", "2400", "--", "-5"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Write2Led: 1 (2 bytes)"), std::string::npos) << result.output;
    const std::string piped = "printf 'AB' | " + std::string(LEDCTL_PATH) + " " + plugin + " write - --port " +
                              pty.PortName() + " --parity Even --stop-bits 3";
    result = Child({"/bin/sh", "-c", piped}, true).Finish();
    EXPECT_EQ(result.status, 0) << result.output;
    for (const char* shown : {"Write2Led: 1 (2 bytes)", "parity 'Even' as NONE", "3 stop bits as 1"}) {
        EXPECT_NE(result.output.find(shown), std::string::npos) << result.output;
    }
    result = RunLedctl({plugin, "write", std::string(40, 'W'), "--port", pty.PortName()});
    EXPECT_NE(result.output.find("row 1 (40 single-byte"), std::string::npos) << result.output;
}

// A picture that cannot be written whole (here: past the file-size limit) is reported and leaves
// the previous picture in place; none is left half-written beside it.
TEST(ToolsEndToEnd, SignemuKeepsThePreviousPictureWhenAWriteFails) {
    const ScratchDirectory directory("signemu-png");
    const std::string png = directory / "sign.png";
    std::ofstream(png) << "previous picture";
    // 512-byte blocks; SIGXFSZ ignored, so the write fails instead of killing signemu.
    VirtualSign signemu({"/bin/sh", "-c", "ulimit -f 1; trap '' XFSZ; exec " + std::string(SIGNEMU_PATH) +
                                              " --model dorun --json --idle-exit 700 --dot-pixels 32 --png " + png},
                        true);
    ASSERT_NE(signemu.port, "<none>");
    EXPECT_EQ(RunLedctl({PluginPath("dorun"), "write", "AB", "--port", signemu.port}).status, 0);
    const Result shown = signemu.Finish();
    EXPECT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("cannot write " + png + ".part"), std::string::npos) << shown.output;
    EXPECT_EQ(FileText(png), "previous picture");
    EXPECT_FALSE(std::filesystem::exists(png + ".part"));
}

// ledctl --trace shows the plug-in's trace as it comes: with --repeat, a line pulled away after the
// first call and back behind its name for the third shows why it went, its return, and ledctl says so.
TEST(ToolsEndToEnd, LedctlTraceShowsALineThatWasLostAndCameBack) {
    Pty first;
    PortLink link(first);
    Child ledctl({LEDCTL_PATH, PluginPath("brava"), "write", "AB#D", "--port", link.Name(), "--trace", "--repeat", "3"},
                 true);
    const std::string frames = Bytes(kSignCases[0].twoRowBytes);
    ASSERT_EQ(Hex(first.WaitForBytes(frames.size())), Hex(frames));
    link.Remove();
    first.CloseMaster();
    Pty second;
    link.PointAt(second);
    const Result traced = ledctl.Finish();
    EXPECT_EQ(traced.status, 1) << traced.output;  // the second call failed
    second.WaitForBytes(frames.size());
    EXPECT_EQ(Hex(second.Received()), Hex(frames));
    const std::vector<std::string> shown = {
        "Write2Led: 1 (4 bytes)",
        "BRAVAX.DLL +",  // the trace, as it comes
        link.Name() + " lost: write: Input/output error (5)",
        "Write2Led: -1 (4 bytes)",
        link.Name() + " back: reopened at 2400,8,NONE,1",
        "Write2Led: 1 (4 bytes)",
        "ledctl: the line was lost and came back",
    };
    size_t at = 0;
    for (const std::string& line : shown) {
        at = traced.output.find(line, at);
        ASSERT_NE(at, std::string::npos) << "no '" << line << "' in its place:\n" << traced.output;
    }
}

// ledctl ports on this machine's sysfs: the same ports as text and as JSON lines, each with what
// an installer needs; listing opens no port (the console ttyS0 among them).
TEST(ToolsEndToEnd, LedctlListsThisMachinesPortsAsTextAndJson) {
    const Result text = RunLedctl({"ports"});
    const Result json = RunLedctl({"ports", "--json"});
    ASSERT_EQ(text.status, 0) << text.output;
    ASSERT_EQ(json.status, 0) << json.output;
    std::istringstream lines(json.output);
    size_t ports = 0;
    for (std::string line; std::getline(lines, line); ++ports) {
        const nlohmann::json port = Json(line);
        ASSERT_TRUE(port.is_object()) << line;
        for (const char* key : {"port", "path", "description", "state"}) EXPECT_TRUE(port[key].is_string()) << line;
        EXPECT_TRUE(port["fits"].is_boolean()) << line;
        EXPECT_EQ(port["path"].get<std::string>().rfind("/dev/tty", 0), 0u) << line;
        EXPECT_NE(text.output.find(port["port"].get<std::string>() + " "), std::string::npos) << text.output;
    }
    if (ports == 0) EXPECT_NE(text.output.find("no serial ports found"), std::string::npos) << text.output;
}

// signemu on a pty slave standing in for a device: the sign's settings are put on it, and frames
// written at the far end are decoded.
TEST(ToolsEndToEnd, SignemuListensOnADevice) {
    Pty device;
    Child signemu({SIGNEMU_PATH, "--model", "cresto", "--device", device.SlavePath(), "--json", "--idle-exit", "700"},
                  false);
    // The device is set up before the first event is printed; no port line for a device.
    termios settings = device.SlaveSettings();
    for (int waited = 0; waited < 100 && cfgetospeed(&settings) != B4800; ++waited) {
        usleep(20000);
        settings = device.SlaveSettings();
    }
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B4800));
    EXPECT_NE(settings.c_cflag & CSTOPB, 0u);  // cresto listens at 4800,8,NONE,2
    device.Send(std::string("\x1B\x01\x01" "OK\r", 6));
    const Result shown = signemu.Finish();
    EXPECT_EQ(shown.status, 0) << shown.output;
    EXPECT_EQ(Events(shown.output), std::vector<std::string>{"row1=OK|4F 4B"}) << shown.output;
}

// The fonts signemu is told of: one named on the command line must be there, one named in the
// environment falls back with a word, and a row font of Debian's gzipped PCF draws the picture.
TEST(ToolsEndToEnd, SignemuTakesItsFontsFromOptionsAndEnvironment) {
    struct Case {
        const char* name;
        const char* model;
        std::vector<std::string> args;  // after "env"
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"--font missing", "dorun", {SIGNEMU_PATH, "--font", "/nonexistent/unifont.hex"}, 2, "cannot read the font /nonexistent/unifont.hex"},
        {"LEDSIGN_UNIFONT missing", "dorun", {"LEDSIGN_UNIFONT=/nonexistent/unifont.hex", SIGNEMU_PATH}, 0, "rows are shown as text only"},
        {"--row-font missing", "dorun", {SIGNEMU_PATH, "--row-font", "/nonexistent/row.pcf"}, 2, "the font /nonexistent/row.pcf cannot be read"},
        {"LEDSIGN_ROW_FONTS missing", "dorun", {"LEDSIGN_ROW_FONTS=/nonexistent/a.pcf:/nonexistent/b.bdf", SIGNEMU_PATH}, 0, "/nonexistent/b.bdf cannot be read"},
        {"--row-font of another height", "elvane", {SIGNEMU_PATH, "--row-font", "/usr/share/fonts/X11/misc/unifont.pcf.gz"}, 0, "is 16 dots high and this sign's rows are 12: it is not used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"/usr/bin/env"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"--model", c.model, "--idle-exit", "300"});
        Child signemu(args, true);
        std::string output;
        for (std::string line; (line = signemu.ReadLine(5000)) != "";) {
            output += line + "\n";
            // Something must arrive for --idle-exit to count.
            if (line.rfind("port: ", 0) == 0) {
                EXPECT_EQ(RunLedctl({PluginPath(c.model), "write", "A", "--port", line.substr(6)}).status, 0);
                break;
            }
        }
        const Result rest = signemu.Finish();
        EXPECT_EQ(rest.status, c.status) << output << rest.output;
        output += rest.output;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
}

// The --png file, decoded by libpng, is the sign's picture dot for dot: dorun's 96x16 dots, each
// 4 pixels, lit where Unifont's "A" has ink in the first cell and dark across the rest.
TEST(ToolsEndToEnd, SignemuPngIsTheSignsPicture) {
    const ScratchDirectory directory("signemu-picture");
    const std::string png = directory / "sign.png";
    VirtualSign signemu({SIGNEMU_PATH, "--model", "dorun", "--json", "--png", png, "--idle-exit", "700"});
    EXPECT_EQ(RunLedctl({PluginPath("dorun"), "write", "A", "--port", signemu.port}).status, 0);
    const Result shown = signemu.Finish();
    EXPECT_EQ(shown.status, 0) << shown.output;
    const DecodedPng image = DecodePng(FileText(png), PNG_FORMAT_GRAY);
    ASSERT_FALSE(image.pixels.empty()) << image.image.message;
    ASSERT_EQ(image.image.width, 384u);
    ASSERT_EQ(image.image.height, 64u);
    // Each dot's top-left pixel: Unifont's A in the first 8-dot cell, and nothing lit across the rest.
    const auto lit = [&image](int x, int y) { return image.pixels[static_cast<size_t>(y * 4 * 384 + x * 4)] > 100; };
    EXPECT_EQ(DotRows(8, 16, lit), kUnifontA);
    EXPECT_EQ(DotRows(88, 16, [&lit](int x, int y) { return lit(x + 8, y); }),
              std::vector<std::string>(16, std::string(88, '.')));
}

}  // namespace
}  // namespace ledsign::test
