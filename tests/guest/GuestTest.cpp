// The plug-ins on the kernel's own serial drivers: a QEMU guest (Debian's kernel, a busybox
// initramfs made by guest-image.sh) runs guest_host, which drives each plug-in on ttyUSB0
// (QEMU's FT232 under ftdi_sio) and ttyS1 (a 16550 under 8250). This side is the far end of both
// lines: a socket for the USB adapter, a pty for the UART, QEMU's traces of the line settings the
// guest programs, and its monitor for unplugging the adapter. One boot serves many cases.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "GuestCases.h"
#include "ScenarioChecks.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "RecordingLine.h"
#include "SignCases.h"
#include "TraceLines.h"

namespace ledsign::test {
namespace {

using std::chrono::milliseconds;

bool MustRun() {
    const char* ci = getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

std::string GuestDir() { return LEDSIGN_GUEST_DIR; }

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// "key=value" out of a report line; "" when absent.
std::string Field(const std::string& line, const std::string& key) {
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (word.rfind(key + "=", 0) == 0) return word.substr(key.size() + 1);
    }
    return "";
}

int Listen(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
        throw std::runtime_error("cannot listen on " + path);
    }
    return fd;
}

int Accept(int listener, int timeoutMs) {
    pollfd request{listener, POLLIN, 0};
    if (poll(&request, 1, timeoutMs) != 1) return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// One guest boot: QEMU started with the run named on the kernel command line, the far sides of
// its lines, its console and traces.
class Guest {
public:
    explicit Guest(const std::string& run) {
        char folder[] = "/tmp/ledsign-guest-XXXXXX";
        if (mkdtemp(folder) == nullptr) throw std::runtime_error("no temporary folder");
        dir_ = folder;
        const int consoleListener = Listen(dir_ + "/console.sock");
        const int usbListener = Listen(dir_ + "/usb.sock");
        // KVM where guest-image.sh saw a guest boot under it, else software emulation.
        const char* accel = getenv("LEDSIGN_GUEST_ACCEL");
        std::ifstream chosen(GuestDir() + "/accel");
        if (accel != nullptr && *accel != '\0') {
            accel_ = accel;
        } else if (!(chosen >> accel_)) {
            accel_ = "tcg";
        }
        const std::vector<std::string> arguments = {
            "qemu-system-x86_64", "-accel", accel_, "-m", "256", "-smp", "1", "-nodefaults", "-no-user-config",
            "-no-reboot", "-display", "none", "-kernel", GuestDir() + "/kernel/vmlinux", "-initrd",
            GuestDir() + "/initramfs.cpio", "-append",
            "console=ttyS0 loglevel=1 panic=-1 ledsign.run=" + run,
            "-chardev", "socket,id=con,path=" + dir_ + "/console.sock", "-serial", "chardev:con",
            "-chardev", "serial,id=s1,path=" + uart.SlavePath(), "-serial", "chardev:s1",
            "-device", "qemu-xhci,id=xhci", "-chardev", "socket,id=u0,path=" + dir_ + "/usb.sock",
            "-device", "usb-serial,id=usb0,bus=xhci.0,chardev=u0",
            "-monitor", "unix:" + dir_ + "/monitor.sock,server=on,wait=off",
            "-trace", "usb_serial_set_baud", "-trace", "usb_serial_set_data", "-trace", "serial_update_parameters"};
        int errors[2];
        if (pipe2(errors, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
        start_ = Clock::now();
        const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        pid_ = StartProgram(arguments, StandardStreams{null, null, errors[1]});
        close(null);
        close(errors[1]);
        errors_ = errors[0];
        fcntl(errors_, F_SETFL, O_NONBLOCK);
        console_ = Accept(consoleListener, 10000);
        usb_ = Accept(usbListener, 10000);
        close(consoleListener);
        close(usbListener);
        if (console_ < 0 || usb_ < 0) throw std::runtime_error("QEMU did not connect: " + ReadErrors());
        usbReader_ = std::thread([this] { ReadUsb(); });
    }

    ~Guest() {
        // Stopped by its PID, whatever state it is in.
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        stop_ = true;
        if (usbReader_.joinable()) usbReader_.join();
        for (const int fd : {console_, usb_, errors_}) {
            if (fd >= 0) close(fd);
        }
        for (const char* name : {"/console.sock", "/usb.sock", "/monitor.sock"}) unlink((dir_ + name).c_str());
        rmdir(dir_.c_str());
    }

    // Runs the guest until it reports its end, answering each question after `onAsk` has acted.
    // Returns false on a time-out.
    bool Run(const std::function<void(const std::string&)>& onAsk, int timeoutSeconds) {
        std::string pending;
        while (SecondsSince(start_) < timeoutSeconds) {
            pollfd request{console_, POLLIN, 0};
            if (poll(&request, 1, 200) <= 0) continue;
            char buffer[4096];
            const ssize_t got = read(console_, buffer, sizeof buffer);
            if (got <= 0) return false;
            pending.append(buffer, static_cast<size_t>(got));
            for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
                std::string line = pending.substr(0, end);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                console += line + "\n";
                const size_t at = line.find("LEDSIGN ");
                if (at == std::string::npos) continue;
                line.erase(0, at + 8);
                if (line.rfind("up ", 0) == 0) upSeconds = SecondsSince(start_);
                if (line.rfind("end ", 0) == 0) {
                    runSeconds = SecondsSince(start_);
                    return true;
                }
                if (line.rfind("? ", 0) == 0) {
                    ReadErrors();  // QEMU traced what the guest did before it asked
                    onAsk(line.substr(2));
                    if (write(console_, "!\n", 2) != 2) return false;
                    continue;
                }
                reports.push_back(line);
            }
        }
        return false;
    }

    // The report lines of one kind ("open", "write", ...), in order.
    std::vector<std::string> Reports(const std::string& kind) const {
        std::vector<std::string> found;
        for (const std::string& line : reports) {
            if (line.rfind(kind + " ", 0) == 0) found.push_back(line);
        }
        return found;
    }

    // The last trace line of an event QEMU printed so far.
    std::string LastTrace(const std::string& event) {
        ReadErrors();
        const size_t at = errors.rfind(event);
        return at == std::string::npos ? "" : errors.substr(at, errors.find('\n', at) - at);
    }

    // A command on QEMU's human monitor; returns its answer.
    std::string Monitor(const std::string& command) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        (dir_ + "/monitor.sock").copy(address.sun_path, sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return "no monitor";
        }
        std::string answer = ReadPrompt(fd);
        const std::string line = command + "\n";
        if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) answer += "write failed";
        answer = ReadPrompt(fd);
        close(fd);
        // Only what it said, not the echo of the command line.
        const size_t error = answer.find("Error");
        return error == std::string::npos ? "" : answer.substr(error, answer.find('\n', error) - error) + "\n";
    }

    std::string UsbReceived() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string all;
        for (const Chunk& chunk : usbChunks_) all += chunk.bytes;
        return all;
    }
    std::vector<Chunk> UsbChunks() {
        std::lock_guard<std::mutex> lock(mutex_);
        return usbChunks_;
    }
    const std::string& Accel() const { return accel_; }

    Pty uart;  // the far side of ttyS1
    std::vector<std::string> reports;
    std::string console;
    std::string errors;
    double upSeconds = 0;   // QEMU started to the guest's init running the test host
    double runSeconds = 0;  // QEMU started to the test host's end

private:
    std::string ReadErrors() {
        char buffer[4096];
        ssize_t got;
        while ((got = read(errors_, buffer, sizeof buffer)) > 0) errors.append(buffer, static_cast<size_t>(got));
        return errors;
    }

    static std::string ReadPrompt(int fd) {
        std::string answer;
        char buffer[1024];
        while (answer.find("(qemu) ") == std::string::npos) {
            pollfd request{fd, POLLIN, 0};
            if (poll(&request, 1, 5000) != 1) break;
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) break;
            answer.append(buffer, static_cast<size_t>(got));
        }
        return answer;
    }

    // The adapter's far side always reads: QEMU writes it blocking, and would freeze the guest.
    void ReadUsb() {
        char buffer[4096];
        while (!stop_) {
            pollfd request{usb_, POLLIN, 0};
            if (poll(&request, 1, 20) <= 0) continue;
            const ssize_t got = read(usb_, buffer, sizeof buffer);
            if (got <= 0) break;
            std::lock_guard<std::mutex> lock(mutex_);
            usbChunks_.push_back({Clock::now(), std::string(buffer, static_cast<size_t>(got))});
        }
    }

    std::string dir_;
    std::string accel_;
    Clock::time_point start_;
    pid_t pid_ = -1;
    int console_ = -1, usb_ = -1, errors_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Chunk> usbChunks_;
    std::thread usbReader_;
};

class GuestTest : public ::testing::Test {
protected:
    void SetUp() override {
        const bool ready = access((GuestDir() + "/kernel/vmlinux").c_str(), R_OK) == 0 &&
                           access((GuestDir() + "/initramfs.cpio").c_str(), R_OK) == 0 &&
                           system("command -v qemu-system-x86_64 >/dev/null") == 0;
        if (!ready) {
            if (MustRun()) FAIL() << "no guest in " << GuestDir() << " (QEMU or the kernel package missing); CI runs it";
            GTEST_SKIP() << "no guest in " << GuestDir()
                         << ": QEMU or Debian's kernel package is missing (scripts/install-deps.sh installs them)";
        }
    }

    // Boots, runs, and records the boot times as test properties.
    void Boot(Guest& guest, const std::function<void(const std::string&)>& onAsk, int timeoutSeconds = 200) {
        const bool ended = guest.Run(onAsk, timeoutSeconds);
        RecordProperty("accel", guest.Accel());
        RecordProperty("up_ms", static_cast<int>(guest.upSeconds * 1000));
        RecordProperty("run_ms", static_cast<int>(guest.runSeconds * 1000));
        std::printf("guest (%s): test host running %.1f s after start, done at %.1f s\n", guest.Accel().c_str(),
                    guest.upSeconds, guest.runSeconds);
        ASSERT_TRUE(ended) << "the guest did not finish; console:\n" << guest.console << "\nQEMU:\n" << guest.errors;
        for (const std::string& line : guest.Reports("error")) ADD_FAILURE() << line;
    }
};

// Where each model's bytes begin in a stream holding every model's "AB#D" then ClearLed, in turn.
std::vector<size_t> Offsets() {
    std::vector<size_t> offsets;
    size_t at = 0;
    for (const SignCase& c : kSignCases) {
        offsets.push_back(at);
        at += Bytes(c.twoRowBytes).size() + Bytes(c.clearBytes).size();
    }
    return offsets;
}

// "7E2" of a held "9600,7E2,rtscts=0".
std::string Framing(const std::string& held) {
    const size_t comma = held.find(',');
    return comma == std::string::npos ? held : held.substr(comma + 1, 3);
}

// Whether the console shows a trace line of the module ("BRAVAX.DLL +123 ms ...") with the text as its event.
bool Traced(const std::string& console, const std::string& module, const std::string& text) {
    const std::vector<std::string> events = ReadFrameTrace(SplitLines(console), module).events;
    return std::find(events.begin(), events.end(), text) != events.end();
}

class GuestLines : public GuestTest, public ::testing::WithParamInterface<const char*> {
protected:
    // The same frames as on a pty, each model in turn, and its pauses.
    void CheckFramesAndPauses(Guest& guest, bool usb) {
        std::string expected;
        for (const SignCase& c : kSignCases) expected += Bytes(c.twoRowBytes) + Bytes(c.clearBytes);
        const std::string received = usb ? guest.UsbReceived() : guest.uart.Settle(100);
        EXPECT_EQ(Hex(received), Hex(expected));
        const std::vector<Chunk> chunks = usb ? guest.UsbChunks() : guest.uart.Chunks();
        const std::vector<size_t> offsets = Offsets();
        const std::vector<std::string> opens = guest.Reports("open");
        const std::vector<std::string> writes = guest.Reports("write");
        ASSERT_EQ(opens.size(), std::size(kSignCases));
        ASSERT_EQ(writes.size(), std::size(kSignCases));
        for (size_t index = 0; index < std::size(kSignCases); ++index) {
            const SignCase& c = kSignCases[index];
            SCOPED_TRACE(c.sign);
            EXPECT_EQ(Field(opens[index], "result"), "1");
            EXPECT_EQ(Field(opens[index], "held"), c.fixedLine ? "2400,8N1,rtscts=0" : "9600,8N2,rtscts=0");
            EXPECT_EQ(Field(writes[index], "result"), "1");
            EXPECT_EQ(Field(writes[index], "clear"), "1");
            EXPECT_GE(std::atof(Field(writes[index], "ms").c_str()), c.minWriteMs);
            for (const LinePause& pause : c.pauses) {
                if (pause.minMs == 0) continue;
                EXPECT_GE(GapBefore(chunks, offsets[index] + pause.atByte), milliseconds(pause.minMs)) << "byte " << pause.atByte;
            }
        }
    }

    // Framing: what the driver kept, read back in the guest and as QEMU programs its device.
    void CheckFraming(Guest& guest, bool usb, const std::vector<std::string>& farSide) {
        const std::vector<std::string> framings = guest.Reports("framing");
        ASSERT_EQ(framings.size(), std::size(kSignCases) * std::size(kFramingCases));
        size_t asked = std::size(kSignCases);  // the far side's views: first the plain opens
        ASSERT_GE(farSide.size(), asked);
        for (size_t index = 0; index < std::size(kSignCases); ++index) {
            const bool fixed = kSignCases[index].fixedLine;
            EXPECT_EQ(farSide[index], usb ? (fixed ? "2400|parity N, data bits 8, stop bits 1" : "9600|parity N, data bits 8, stop bits 2")
                                          : (fixed ? std::to_string(B2400) + ",1|baudrate=2400 parity='N' data=8 stop=1"
                                                   : std::to_string(B9600) + ",2|baudrate=9600 parity='N' data=8 stop=2"))
                << kSignCases[index].sign;
        }
        for (size_t index = 0; index < framings.size(); ++index) {
            const SignCase& c = kSignCases[index / std::size(kFramingCases)];
            const FramingCase& f = kFramingCases[index % std::size(kFramingCases)];
            // The guest asked the far side only after an open that succeeded.
            const std::string seen = Field(framings[index], "result") == "1" && asked < farSide.size() ? farSide[asked++] : "";
            std::printf("%s | far side: %s\n", framings[index].c_str(), seen.c_str());
            SCOPED_TRACE(framings[index] + " | far side: " + seen);
            const std::string want = c.fixedLine ? "8N1" : usb ? f.onUsb : f.onUart;
            const std::string device = c.fixedLine ? "8N1" : usb ? f.usbChip : f.onUart;
            EXPECT_EQ(Field(framings[index], "result"), want == "-" ? "-2" : "1");
            if (want == "-") continue;
            const std::string held = Field(framings[index], "held");
            EXPECT_EQ(Framing(held), want);
            ASSERT_FALSE(seen.empty());
            const std::string data(1, device[0]), parity(1, device[1]), stop(1, device[2]);
            if (usb) {
                EXPECT_EQ(seen.substr(seen.find('|') + 1), "parity " + parity + ", data bits " + data + ", stop bits " + stop);
            } else {
                EXPECT_NE(seen.find("parity='" + parity + "' data=" + data + " stop=" + stop), std::string::npos) << seen;
                EXPECT_EQ(seen.substr(seen.find(',') + 1, 1), stop);  // the pty keeps the stop bits
            }
        }
    }

    // Speeds: what the plug-in gives and the driver holds, and the rate the device was set to
    // (the first model's opens: one for each speed it opened at).
    void CheckSpeeds(Guest& guest, const std::string& line, const std::vector<std::string>& speedsSeen) {
        const std::vector<std::string> speeds = guest.Reports("speeds");
        ASSERT_EQ(speeds.size(), std::size(kSignCases));
        std::map<int32_t, std::string> deviceRates;
        size_t seen = 0;
        for (const int32_t baud : kGuestSpeeds) {
            if (Field(speeds[0], std::to_string(baud)).rfind("1:", 0) == 0 && seen < speedsSeen.size()) {
                deviceRates[baud] = speedsSeen[seen++];
            }
        }
        for (size_t index = 0; index < speeds.size(); ++index) {
            const bool fixed = kSignCases[index].fixedLine;
            std::printf("%s\n", speeds[index].c_str());
            for (const SpeedCase& s : kSpeedCases) {
                if (s.line != line) continue;
                const std::string want = fixed ? "1:2400" : s.result == 1 ? "1:" + std::to_string(s.baud) : "-2:-";
                EXPECT_EQ(Field(speeds[index], std::to_string(s.baud)), want) << kSignCases[index].sign << " at " << s.baud;
                if (index == 0 && s.result == 1) EXPECT_EQ(deviceRates[s.baud], std::to_string(s.deviceBaud)) << s.baud;
            }
        }
    }
};

// Each plug-in's bytes and pauses arrive on the far side; the settings it asked for are the ones
// the driver holds (read back in the guest and seen by QEMU); 5 to 7 data bits and parity are
// kept or refused as the driver does; a speed the driver cannot run gives -2.
TEST_P(GuestLines, BytesPausesFramingAndSpeedsOnTheRealDriver) {
    const std::string line = GetParam();
    const bool usb = line == "ttyUSB0";
    Guest guest("lines:" + line);
    std::vector<std::string> farSide;  // what QEMU passed on at each "settings"
    std::vector<std::string> speedsSeen;  // the rate QEMU's device was set to, for the first model's speeds
    Boot(guest, [&](const std::string& what) {
        if (what == "speed") {
            const std::string rate = guest.LastTrace(usb ? "usb_serial_set_baud" : "serial_update_parameters");
            speedsSeen.push_back(usb ? rate.substr(rate.rfind(' ') + 1) : Field(rate, "baudrate"));
        }
        if (what != "settings") return;
        if (usb) {
            const std::string baud = guest.LastTrace("usb_serial_set_baud");
            const std::string data = guest.LastTrace("usb_serial_set_data");
            farSide.push_back(baud.substr(baud.rfind(' ') + 1) + "|" + data.substr(data.find("parity")));
        } else {
            const termios seen = guest.uart.SlaveSettings();
            const std::string update = guest.LastTrace("serial_update_parameters");
            farSide.push_back(std::to_string(cfgetospeed(&seen)) + "," + ((seen.c_cflag & CSTOPB) ? "2" : "1") + "|" +
                              update.substr(update.find("baudrate")));
        }
    });
    CheckFramesAndPauses(guest, usb);
    CheckFraming(guest, usb, farSide);
    CheckSpeeds(guest, line, speedsSeen);
}

INSTANTIATE_TEST_SUITE_P(Guest, GuestLines, ::testing::ValuesIn(kGuestLines),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// The far sides of the guest's lines: the UART's pty, which stops reading; the USB adapter, pulled
// and plugged back through QEMU's monitor, at once or (UnplugSoon) a random moment later while the
// guest writes.
class GuestFarSide : public FarSide {
public:
    explicit GuestFarSide(Guest& guest) : guest_(guest) {}
    ~GuestFarSide() override {
        if (unplug_.joinable()) unplug_.join();
    }

    void Stall() override {
        usb_ = false;
        guest_.uart.StopReading();
    }
    void Resume() override { guest_.uart.Resume(); }
    void Unplug() override {
        usb_ = true;
        monitor += guest_.Monitor("device_del usb0");
    }
    void UnplugSoon() {
        usb_ = true;
        unplug_ = std::thread([this, delay = milliseconds(std::uniform_int_distribution<int>(5, 150)(random_))] {
            std::this_thread::sleep_for(delay);
            guest_.Monitor("device_del usb0");
        });
    }
    void Replug() override {
        if (unplug_.joinable()) unplug_.join();
        // The unplug completes a moment later: until then the chardev is still in use.
        const auto start = Clock::now();
        std::string answer;
        do {
            if (!answer.empty()) std::this_thread::sleep_for(milliseconds(100));
            answer = guest_.Monitor("device_add usb-serial,id=usb0,bus=xhci.0,chardev=u0");
        } while (answer.find("Error") != std::string::npos && Clock::now() - start < std::chrono::seconds(5));
        monitor += answer;
    }
    std::string Received() override {
        if (!usb_) return guest_.uart.Settle(100);
        std::this_thread::sleep_for(milliseconds(100));
        return guest_.UsbReceived();
    }

    std::string monitor;  // what QEMU's monitor answered, when it said anything

private:
    Guest& guest_;
    bool usb_ = false;
    std::mt19937 random_{std::random_device{}()};
    std::thread unplug_;
};

// One plug-in's run of a scenario in the guest: its "run" report and its steps' result lines.
struct GuestRun {
    const SignCase* sign = nullptr;
    const LineScenario* scenario = nullptr;
    std::vector<std::string> results;
};

std::vector<GuestRun> GuestRuns(const std::vector<std::string>& reports) {
    std::vector<GuestRun> runs;
    for (const std::string& report : reports) {
        if (report.rfind("run ", 0) == 0) {
            runs.push_back({FindSignCase(Field(report, "sign")), nullptr, {}});
            for (const LineScenario& scenario : kLineScenarios) {
                if (Field(report, "scenario") == scenario.name) runs.back().scenario = &scenario;
            }
        } else if (report.rfind("step ", 0) == 0 && !runs.empty()) {
            runs.back().results.push_back(report.substr(5));
        }
    }
    return runs;
}

// Each line scenario with each plug-in: those that stall on a UART whose far side stops reading,
// those that unplug on the USB adapter, which comes back as ttyUSB0 with the lost device let go
// before. Then the adapter unplugged while a drain waits on it: the write fails within its deadline
// and a later one works without CloseLed/OpenLed.
TEST_F(GuestTest, StalledUartAndUnpluggedAdapter) {
    Guest guest("faults");
    GuestFarSide farSide(guest);
    ScenarioPlayer player(farSide);
    std::vector<std::string> afterDrainReplug;
    Boot(guest, [&](const std::string& what) {
        if (what == "unplug soon") {
            farSide.UnplugSoon();
        } else if (what == "replugged") {
            afterDrainReplug.push_back(player.ArrivedSinceMoved());
        } else {
            EXPECT_TRUE(player.OnAsk(what)) << what;
        }
    });
    guest.uart.Resume();
    for (const std::string& report : guest.reports) std::printf("%s\n", report.c_str());
    if (!farSide.monitor.empty()) std::printf("QEMU monitor: %s", farSide.monitor.c_str());

    const std::vector<GuestRun> runs = GuestRuns(guest.reports);
    ASSERT_EQ(runs.size(), std::size(kLineScenarios) * std::size(kSignCases)) << farSide.monitor;
    for (const GuestRun& run : runs) {
        ASSERT_TRUE(run.sign != nullptr && run.scenario != nullptr);
        ExpectScenarioRun(*run.scenario, *run.sign, run.results, player);
        if (std::strcmp(run.scenario->name, "lost-line") != 0) continue;
        // The trace says why the line went and how it came back, in the system's words.
        EXPECT_TRUE(Traced(guest.console, run.sign->dll, "ttyUSB0 lost: write: Input/output error (5)"));
        EXPECT_TRUE(Traced(guest.console, run.sign->dll, "ttyUSB0" + ReopenedAt(*run.sign, 9600)));
    }
    for (const std::string& report : guest.Reports("unplugged")) EXPECT_EQ(Field(report, "gone"), "1");
    for (const std::string& report : guest.Reports("replugging")) EXPECT_EQ(Field(report, "holds"), "0") << "the lost device is still held";
    for (const std::string& report : guest.Reports("replugged")) EXPECT_EQ(Field(report, "back"), "ttyUSB0");

    // Tried until a call is seen to wait out a deadline (not the driver's 5 s).
    const std::vector<std::string> drains = guest.Reports("drain");
    ASSERT_FALSE(drains.empty());
    ASSERT_EQ(afterDrainReplug.size(), drains.size());
    for (size_t index = 0; index < drains.size(); ++index) {
        const std::string &drain = drains[index], &after = afterDrainReplug[index];
        const std::string writes = Field(drain, "writes");
        SCOPED_TRACE(drain);
        EXPECT_EQ(Field(drain, "result") + Field(drain, "lost") + Field(drain, "holds") + Field(drain, "back") + writes.back(),
                  "-1-10ttyUSB01");
        ExpectEndsWithTwoRowFrames(after, *FindSignCase(Field(drain, "sign")));
    }
    const double heldMs = std::atof(Field(drains.back(), "ms").c_str());
    if (heldMs < 1000) GTEST_SKIP() << "no unplug landed in a drain in " << drains.size() << " attempts";
    EXPECT_LE(heldMs, FindSignCase(Field(drains.back(), "sign"))->stalledCallMaxMs) << drains.back();
}

// Not a check: Write2Led's time on the real drivers beside write-then-tcdrain, for bench/RESULTS.md
// (scripts/bench.sh runs it; LEDSIGN_GUEST_BENCH_OUT names the file for the table).
TEST_F(GuestTest, Benchmark) {
    Guest guest("bench");
    Boot(guest, [](const std::string&) {}, 280);
    std::ostringstream table;
    table << "| line | plug-in | writes per call | pauses (ms) | bytes' line time (ms) | Write2Led (ms) | above pauses (ms)"
             " | write+tcdrain (ms) | above pauses (ms) | ratio | Write2Led above pauses per write (ms) | each bare tcdrain (ms) |\n"
             "|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const std::string& bench : guest.Reports("bench")) {
        const double pauses = std::atof(Field(bench, "pauses_ms").c_str());
        const double plugin = std::atof(Field(bench, "plugin_ms").c_str()) - pauses;
        const double pattern = std::atof(Field(bench, "pattern_ms").c_str()) - pauses;
        char row[512];
        const double writes = std::atof(Field(bench, "writes").c_str());
        std::snprintf(row, sizeof row, "| %s | %s | %s | %.0f | %s | %s | %.2f | %s | %.2f | %.2f | %.3f | %s |\n",
                      Field(bench, "line").c_str(), Field(bench, "sign").c_str(), Field(bench, "writes").c_str(), pauses,
                      Field(bench, "line_ms").c_str(), Field(bench, "plugin_ms").c_str(), plugin,
                      Field(bench, "pattern_ms").c_str(), pattern, pattern > 0 ? plugin / pattern : 0.0,
                      writes > 0 ? plugin / writes : 0.0, Field(bench, "drain_ms").c_str());
        table << row;
    }
    std::printf("%s", table.str().c_str());
    if (const char* out = getenv("LEDSIGN_GUEST_BENCH_OUT")) {
        std::ofstream file(out);
        char boot[160];
        std::snprintf(boot, sizeof boot, "Guest under %s: the test host ran %.1f s after QEMU started; the run took %.1f s.\n\n",
                      guest.Accel() == "tcg" ? "software emulation (TCG)" : guest.Accel().c_str(), guest.upSeconds,
                      guest.runSeconds);
        file << boot << table.str();
    }
    EXPECT_EQ(guest.Reports("bench").size(), 2 * std::size(kSignCases));
}

}  // namespace
}  // namespace ledsign::test
