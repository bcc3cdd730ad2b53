// The test host inside the guest: loads each plug-in from /guest, drives its exports on the guest's
// real serial lines (ttyUSB0 under ftdi_sio, ttyS1 under 8250) and reports what happened as
// "LEDSIGN ..." lines on the console. Where the far side must act (record the line settings it
// sees, stop reading, unplug the adapter), it asks with a "LEDSIGN ? WHAT" line and waits for the
// host's "!" line on the console.
//   guest_host lines:ttyUSB0 | lines:ttyS1 | faults | bench
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "GuestCases.h"
#include "HostSteps.h"
#include "LineScenarios.h"
#include "Plugin.h"
#include "ProcessProbe.h"
#include "SignCases.h"
#include "TraceLines.h"
#include "serial/PosixTermios.h"
#include "tools/common/TextFormat.h"

namespace ledsign::test {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Say(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    std::printf("LEDSIGN %s\n", line);
    std::fflush(stdout);
}

// Asks the host to act and waits for its answer.
void Ask(const char* what) {
    Say("? %s", what);
    char answer[256];
    while (std::fgets(answer, sizeof answer, stdin) != nullptr) {
        if (answer[0] == '!') return;
    }
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool WaitFor(const std::string& path, bool present, int timeoutMs) {
    const auto start = Clock::now();
    while (Exists(path) != present) {
        if (MsSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The first /dev/ttyUSBn there is, or "".
std::string UsbName() {
    for (int n = 0; n < 8; ++n) {
        const std::string name = "ttyUSB" + std::to_string(n);
        if (Exists("/dev/" + name)) return name;
    }
    return "";
}

// What the driver holds now, read through a descriptor of our own: "9600,7E2,rtscts=0".
std::string Held(const std::string& line) {
    const int fd = open(("/dev/" + line).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (fd < 0 || tcgetattr(fd, &settings) != 0) {
        if (fd >= 0) close(fd);
        return "unreadable";
    }
    close(fd);
    const int bits[] = {5, 6, 7, 8};
    const int size = bits[(settings.c_cflag & CSIZE) == CS5 ? 0 : (settings.c_cflag & CSIZE) == CS6 ? 1
                                                              : (settings.c_cflag & CSIZE) == CS7 ? 2 : 3];
    const char parity = (settings.c_cflag & PARENB) == 0 ? 'N' : (settings.c_cflag & PARODD) != 0 ? 'O' : 'E';
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d%c%d,rtscts=%d", BaudOfConstant(cfgetospeed(&settings)), size, parity,
                  (settings.c_cflag & CSTOPB) != 0 ? 2 : 1, (settings.c_cflag & CRTSCTS) != 0 ? 1 : 0);
    return text;
}

// The device number of /dev/<line> while it is there, for HoldsDevice once it has gone; 0 when none.
dev_t DeviceOf(const std::string& line) {
    struct stat status {};
    return stat(("/dev/" + line).c_str(), &status) == 0 ? status.st_rdev : 0;
}

void Lines(const std::string& line) {
    for (const SignCase& c : kSignCases) {
        Plugin plugin(c.sign);
        const int32_t opened = plugin.OpenOn(line, 9600, 8, 2, "NONE");
        Say("open sign=%s line=%s asked=9600,8N2 result=%d held=%s", c.sign, line.c_str(), opened, Held(line).c_str());
        Ask("settings");
        const auto start = Clock::now();
        const int32_t written = plugin.Write2Led("AB#D");
        const double ms = MsSince(start);
        const int32_t cleared = plugin.ClearLed();
        Say("write sign=%s line=%s result=%d clear=%d ms=%.1f", c.sign, line.c_str(), written, cleared, ms);
        plugin.CloseLed();
    }
    for (const SignCase& c : kSignCases) {
        Plugin plugin(c.sign);
        for (const FramingCase& f : kFramingCases) {
            const int32_t opened = plugin.OpenOn(line, f.baud, f.dataBits, f.stopBits, f.parity);
            Say("framing sign=%s line=%s asked=%d,%d%c%d result=%d held=%s", c.sign, line.c_str(), f.baud, f.dataBits,
                f.parity[0], f.stopBits, opened, opened == 1 ? Held(line).c_str() : "-");
            if (opened == 1) Ask("settings");
            plugin.CloseLed();
        }
    }
    for (const SignCase& c : kSignCases) {
        Plugin plugin(c.sign);
        std::string results;
        for (const int32_t speed : kGuestSpeeds) {
            const int32_t opened = plugin.OpenOn(line, speed);
            const std::string held = opened == 1 ? Held(line) : "-";
            if (opened == 1 && &c == &kSignCases[0]) Ask("speed");
            results += " " + std::to_string(speed) + "=" + std::to_string(opened) + ":" + held.substr(0, held.find(','));
            plugin.CloseLed();
        }
        Say("speeds sign=%s line=%s%s", c.sign, line.c_str(), results.c_str());
    }
}

// Fills the line through a descriptor of our own until its output queue stops moving: the far
// side's buffer is full and the UART holds its bytes. Room is left for a frame.
int FillUntilStuck(const std::string& line) {
    const int fd = open(("/dev/" + line).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const std::string block(256, 'z');
    int queued = 0;
    auto stuckSince = Clock::now();
    while (MsSince(stuckSince) < 300) {
        int before = 0;
        ioctl(fd, TIOCOUTQ, &before);
        if (before < 2048 && write(fd, block.data(), block.size()) > 0) stuckSince = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(before < 2048 ? 1 : 20));
        ioctl(fd, TIOCOUTQ, &queued);
        if (queued < before) stuckSince = Clock::now();
    }
    close(fd);
    return queued;
}

// The adapter's name once it is back (within 5 s), or "".
std::string AdapterBack() {
    std::string back;
    for (const auto start = Clock::now(); back.empty() && MsSince(start) < 5000; back = UsbName()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return back;
}

// Write2Led a quarter second apart until one works, as the hosts' write-until step does: its tries.
std::string WriteUntilItWorks(Plugin& plugin) {
    std::string result;
    const StepHost host{plugin, [&result](const std::string& line) { result = line; }, nullptr};
    RunSteps(host, {"write-until", "AB#D"});
    return result.substr(result.find("tries=") + 6);
}

// What the guest does around a scenario's question to the far side: it fills the UART once the far
// side stops reading (until its output queue stops moving), and sees the adapter gone once unplugged
// and back once plugged in again, having let the lost device go by then.
void AskAround(const std::string& what, const std::string& line, dev_t& device) {
    if (what == "unplug") device = DeviceOf(line);
    if (what == "replug") Say("replugging holds=%d", HoldsDevice(device) ? 1 : 0);
    Ask(what.c_str());
    if (what == "stall") Say("stalled filled=%d", FillUntilStuck(line));
    if (what == "unplug") Say("unplugged gone=%d", WaitFor("/dev/" + line, false, 5000) ? 1 : 0);
    if (what == "replug") Say("replugged back=%s", AdapterBack().c_str());
}

// Each line scenario with each plug-in, in the hosts' step words: those that stall on the UART,
// those that unplug on the USB adapter. Traced to the console, so that the far side sees why a line
// went and how it came back.
void Scenarios() {
    for (const LineScenario& scenario : kLineScenarios) {
        for (const SignCase& c : kSignCases) {
            const std::string line = Asks(scenario, "unplug") ? UsbName() : "ttyS1";
            setenv("LEDSIGN_TRACE", "1", 1);
            Plugin plugin(c.sign);
            unsetenv("LEDSIGN_TRACE");
            dev_t device = 0;
            const StepHost host{plugin, [](const std::string& result) { Say("step %s", result.c_str()); },
                                [&line, &device](const std::string& what) { AskAround(what, line, device); }};
            Say("run sign=%s scenario=%s line=%s", c.sign, scenario.name, line.c_str());
            if (!RunSteps(host, ScenarioWords(scenario, line))) Say("error the steps of %s did not run", scenario.name);
        }
    }
}

// The adapter pulled while a drain waits on it: ftdi_sio's status request for it (and every drain
// behind it) then waits for its 5 s USB time-out. Four descriptors ask the status in a loop while an
// ESC-line plug-in (nearly all drains) writes, until a call is seen to wait out a deadline.
void UnplugInDrain() {
    const SignCase* escLine[] = {FindSignCase("cresto"), FindSignCase("elvane")};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const SignCase& c = *escLine[attempt % 2];
        const std::string line = UsbName();
        Plugin plugin(c.sign);
        plugin.OpenOn(line, 9600);
        const dev_t device = DeviceOf(line);
        const auto ask = [&line] {
            const int fd = open(("/dev/" + line).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            while (fd >= 0 && tcdrain(fd) == 0) {}
            if (fd >= 0) close(fd);
        };
        std::thread askers[] = {std::thread(ask), std::thread(ask), std::thread(ask), std::thread(ask)};
        Ask("unplug soon");
        int32_t result = 1;
        double ms = 0;
        for (auto call = Clock::now(); result == 1 && ms < 3000; call = Clock::now()) {
            result = plugin.Write2Led("AB#D");
            ms = MsSince(call);
        }
        WaitFor("/dev/" + line, false, 10000);
        for (std::thread& asker : askers) asker.join();
        const int32_t lost = plugin.Write2Led("AB#D");
        const bool holds = HoldsDevice(device);
        Ask("replug");
        const std::string back = AdapterBack();
        const std::string writes = WriteUntilItWorks(plugin);
        Ask("replugged");
        Say("drain sign=%s result=%d ms=%.0f lost=%d holds=%d back=%s writes=%s", c.sign, result, ms, lost, holds,
            back.c_str(), writes.c_str());
        plugin.CloseLed();
        WaitFor("/dev/" + back, true, 1000);
        if (ms >= 1000) return;
    }
}

// One Write2Led as the plug-in's trace shows it: each write's bytes, and each pause (empty bytes).
struct TracedStep {
    std::string bytes;
    int pauseMs;
};

std::vector<TracedStep> TracedSteps(const SignCase& c, const std::string& line, int32_t baud) {
    setenv("LEDSIGN_TRACE", "1", 1);
    std::vector<TracedStep> steps;
    {
        Plugin plugin(c.sign);
        unsetenv("LEDSIGN_TRACE");
        plugin.OpenOn(line, baud);
        const int saved = dup(2);
        const int trace = open("/tmp/trace", O_RDWR | O_CREAT | O_TRUNC, 0600);
        dup2(trace, 2);
        plugin.Write2Led("AB#D");
        dup2(saved, 2);
        close(saved);
        plugin.CloseLed();
        lseek(trace, 0, SEEK_SET);
        FILE* text = fdopen(trace, "r");
        char traced[512];
        for (std::string event; std::fgets(traced, sizeof traced, text) != nullptr;) {
            if (!TraceEvent(traced, c.dll, event)) continue;
            TracedStep step{"", event.rfind("pause ", 0) == 0 ? std::atoi(event.c_str() + 6) : 0};
            if (event.rfind("write ", 0) == 0) tools::ParseHexBytes(event.substr(6, event.rfind(" = ") - 6), step.bytes);
            if (!step.bytes.empty() || step.pauseMs > 0) steps.push_back(step);
        }
        std::fclose(text);
    }
    return steps;
}

void SetRaw(int fd, int32_t baud) {
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = baud == 2400 ? B2400 : B9600;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    tcsetattr(fd, TCSANOW, &settings);
}

// Each plug-in's Write2Led beside the same writes and pauses done the common way: write, then
// tcdrain, on a blocking descriptor; batches alternate and each side's fastest counts.
void Bench() {
    constexpr int kRounds = 5;
    for (const char* line : kGuestLines) {
        for (const SignCase& c : kSignCases) {
            const int kCalls = c.escLine ? 20 : 4;  // a batch
            const int32_t baud = c.fixedLine ? 2400 : 9600;
            const std::vector<TracedStep> steps = TracedSteps(c, line, baud);
            int pausesMs = 0, writes = 0;
            size_t bytes = 0;
            for (const TracedStep& step : steps) {
                pausesMs += step.pauseMs;
                bytes += step.bytes.size();
                writes += step.bytes.empty() ? 0 : 1;
            }
            Plugin plugin(c.sign);
            plugin.OpenOn(line, baud);
            const int fd = open((std::string("/dev/") + line).c_str(), O_RDWR | O_NOCTTY);
            SetRaw(fd, baud);
            double pluginMs = 1e9, patternMs = 1e9, drainMs = 0;
            for (int round = 0; round < kRounds; ++round) {
                auto start = Clock::now();
                for (int call = 0; call < kCalls; ++call) plugin.Write2Led("AB#D");
                pluginMs = std::min(pluginMs, MsSince(start) / kCalls);
                start = Clock::now();
                for (int call = 0; call < kCalls; ++call) {
                    for (const TracedStep& step : steps) {
                        if (step.bytes.empty()) {
                            std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
                            continue;
                        }
                        if (write(fd, step.bytes.data(), step.bytes.size()) < 0) Say("bench write failed");
                        const auto drained = Clock::now();
                        tcdrain(fd);
                        drainMs += MsSince(drained);
                    }
                }
                patternMs = std::min(patternMs, MsSince(start) / kCalls);
            }
            close(fd);
            plugin.CloseLed();
            Say("bench line=%s sign=%s baud=%d calls=%d writes=%d bytes=%zu pauses_ms=%d line_ms=%.2f plugin_ms=%.3f "
                "pattern_ms=%.3f drain_ms=%.3f",
                line, c.sign, baud, kCalls * kRounds, writes, bytes, pausesMs, bytes * 10000.0 / baud, pluginMs,
                patternMs, writes > 0 ? drainMs / (kCalls * kRounds) / writes : 0.0);
        }
    }
}

}  // namespace
}  // namespace ledsign::test

int main(int argc, char** argv) {
    using namespace ledsign::test;
    termios console{};
    if (tcgetattr(0, &console) == 0) {
        console.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(0, TCSANOW, &console);
    }
    const std::string run = argc > 1 ? argv[1] : "";
    if (!WaitFor("/dev/ttyUSB0", true, 10000)) Say("no ttyUSB0");
    Say("ready %s", run.c_str());
    try {
        if (run.rfind("lines:", 0) == 0) Lines(run.substr(6));
        if (run == "faults") {
            Scenarios();
            UnplugInDrain();
        }
        if (run == "bench") Bench();
    } catch (const std::exception& error) {
        Say("error %s", error.what());
        return 1;
    }
    return 0;
}
