#include "WineHost.h"

#include "ProcessProbe.h"
#include "SkipOrFail.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>

namespace ledsign::test {

namespace {
bool SixtyFourBit() {
    const char* arch = getenv("LEDSIGN_WINE_ARCH");
    return arch != nullptr && std::string(arch) == "x64";
}
// Debian's 64-bit loader. The `wine` command starts the 32-bit one first, which a machine that
// cannot run 32-bit programs refuses; the 64-bit prefix runs its programs with this one.
const char kWine64Loader[] = "/usr/lib/wine/wine64";

// A COM port's device link in the prefix.
std::string DosDevice(int number) { return WineSetup::Prefix() + "/dosdevices/com" + std::to_string(number); }
}  // namespace

std::string WineSetup::WinePath() {
    if (SixtyFourBit() && access(kWine64Loader, X_OK) == 0) return kWine64Loader;
    const char* path = getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');) {
        if (access((directory + "/wine").c_str(), X_OK) == 0) return directory + "/wine";
    }
    return {};
}

bool WineSetup::MachineRunsBuild() {
    // The 32-bit prefix needs Wine's 32-bit loader, which a kernel without 32-bit support cannot run.
    static const bool runs32Bit = access("/usr/lib/wine/wine", X_OK) != 0 ||
                                  std::system("/usr/lib/wine/wine --version >/dev/null 2>&1") == 0;
    return SixtyFourBit() || runs32Bit;
}

std::string WineSetup::Missing() {
    if (WinePath().empty()) return "wine is not installed (install wine and wine32)";
    return MachineRunsBuild() ? "" : "this machine's kernel runs no 32-bit programs (Wine's 32-bit loader does not start)";
}

bool WineSetup::WineInstalled() { return Missing().empty(); }

std::string WineSetup::WindowsBuildDir() { return SixtyFourBit() ? LEDSIGN_WINDOWS64_BUILD_DIR : LEDSIGN_WINDOWS_BUILD_DIR; }
std::string WineSetup::Prefix() { return SixtyFourBit() ? LEDSIGN_WINE64_PREFIX : LEDSIGN_WINE_PREFIX; }
std::string WineSetup::HostExe() { return WindowsBuildDir() + "/tests/wine/host/winhost.exe"; }

std::string WineSetup::WindowsBuildPath(const std::string& file) {
    std::string path = "Z:" + WindowsBuildDir() + "/" + file;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

ComPort::ComPort(const Pty& pty, int number) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    const int first = number != 0 ? number : 2, last = number != 0 ? number : 9;
    for (int candidate = first;; candidate = candidate < last ? candidate + 1 : first) {
        const std::string lockPath = WineSetup::Prefix() + "/com" + std::to_string(candidate) + ".lock";
        const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock < 0) return;  // no prefix
        if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
            lock_ = lock;
            number_ = candidate;
            PointAt(pty);
            return;
        }
        close(lock);
        if (candidate < last) continue;
        if (Clock::now() > deadline) return;  // every port stayed taken
        usleep(20000);
    }
}

void ComPort::Remove() { unlink(DosDevice(number_).c_str()); }

void ComPort::PointAt(const Pty& pty) {
    Remove();
    if (symlink(pty.SlavePath().c_str(), DosDevice(number_).c_str()) != 0) number_ = 0;
}

ComPort::~ComPort() {
    if (number_ > 0) Remove();
    if (lock_ >= 0) close(lock_);
}

WineHost::WineHost(const std::string& dllName, const std::vector<std::string>& steps,
                   const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> args = {"wine", WineSetup::HostExe(), WineSetup::WindowsBuildPath(dllName)};
    args.insert(args.end(), steps.begin(), steps.end());
    Start(args, extraEnvironment);
}

WineHost::WineHost(const Program& program) {
    std::vector<std::string> args = {"wine", WineSetup::WindowsBuildDir() + "/" + program.path};
    args.insert(args.end(), program.arguments.begin(), program.arguments.end());
    Start(args, {}, program.console);
}

void WineHost::Start(std::vector<std::string> args, const std::vector<std::string>& extraEnvironment, bool console) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipes");
    }
    // A small standard-error pipe fills quickly when a test wants the host's next trace to block.
    fcntl(err[1], F_SETPIPE_SZ, 4096);
    errorFiller_ = open(("/proc/self/fd/" + std::to_string(err[1])).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);

    // The environment is made before the fork: the child of a threaded process only execs.
    // On a console Wine's own debug lines would land between the program's: none there.
    std::vector<std::string> environment = {"WINEPREFIX=" + WineSetup::Prefix(),
                                            console ? "WINEDEBUG=-all" : "WINEDEBUG=-all,+debugstr",
                                            "WINEDLLOVERRIDES=mscoree,mshtml="};
    if (SixtyFourBit()) environment.push_back("WINELOADER=" + WineSetup::WinePath());
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    const std::set<std::string> replaced = {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "WINELOADER", "DISPLAY", "WAYLAND_DISPLAY"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        if (replaced.count(entry.substr(0, entry.find('='))) == 0) environment.push_back(entry);
    }
    args[0] = WineSetup::WinePath();
    int terminal = -1;  // the console's far side, read as the output
    if (console) {
        std::string slavePath;
        terminal = OpenPtyMaster(slavePath);
        const int slave = terminal >= 0 ? open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        if (slave < 0) throw std::runtime_error("no pseudo-terminal for the console");
        child_ = StartProgram(args, StandardStreams{slave, slave, slave}, environment, true);
        close(slave);
    } else {
        child_ = StartProgram(args, StandardStreams{in[0], out[1], err[1]}, environment, true);
    }
    for (int fd : {in[0], out[1], err[1]}) close(fd);
    input_ = in[1];
    errors_ = err[0];
    output_ = terminal >= 0 ? terminal : out[0];
    if (terminal >= 0) close(out[0]);
    fcntl(output_, F_SETFL, O_NONBLOCK);
    fcntl(errors_, F_SETFL, O_NONBLOCK);
    reader_ = std::thread([this] { ReadLoop(); });
}

WineHost::~WineHost() {
    if (child_ > 0) Finish(0);
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    for (int fd : {input_, output_, errors_, errorFiller_})
        if (fd >= 0) close(fd);
}

void WineHost::Drain(int fd, std::string& pending, std::vector<std::string>& lines) {
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
        std::lock_guard<std::mutex> lock(mutex_);
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string text = pending.substr(0, end);
            if (!text.empty() && text.back() == '\r') text.pop_back();
            lines.push_back(text);
            pending.erase(0, end + 1);
        }
    }
}

// Helper processes of Wine may keep the pipes open after the host ends, so the loop never
// waits for end-of-file: it reads whatever is there until told to stop.
void WineHost::ReadLoop() {
    while (!stop_) {
        pollfd requests[2] = {{output_, POLLIN, 0}, {errorsPaused_ ? -1 : errors_, POLLIN, 0}};
        ++pollRounds_;
        if (poll(requests, 2, 10) <= 0) continue;
        if (requests[0].revents != 0) Drain(output_, pendingOut_, outLines_);
        if (requests[1].revents != 0) Drain(errors_, pendingErr_, errLines_);
        if ((requests[0].revents | requests[1].revents) & POLLHUP) usleep(5000);
    }
}

::testing::AssertionResult WineHost::WaitForOutput(const std::string& prefix, int count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::vector<std::string> output = Output();
        const auto seen = std::count_if(output.begin(), output.end(),
                                        [&](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; });
        if (seen >= count) return ::testing::AssertionSuccess() << ::testing::PrintToString(output);
        if (Clock::now() >= deadline) return ::testing::AssertionFailure() << ::testing::PrintToString(output);
        usleep(2000);
    }
}

void WineHost::Continue() { (void)!write(input_, "\n", 1); }

void WineHost::BlockErrors() {
    errorsPaused_ = true;
    // Two more poll rounds make sure the reader has let go of the pipe.
    const int round = pollRounds_;
    while (pollRounds_ < round + 2) usleep(1000);
    FillPipe(errorFiller_);
}

void WineHost::ResumeErrors() { errorsPaused_ = false; }

int WineHost::Finish(int timeoutMs) {
    if (child_ <= 0) return -1;
    ResumeErrors();
    close(input_);
    input_ = -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(child_, &status, WNOHANG)) == 0 && Clock::now() < deadline) usleep(5000);
    if (done == 0) {
        kill(-child_, SIGKILL);
        kill(child_, SIGKILL);
        waitpid(child_, &status, 0);
        status = -1;
    }
    child_ = -1;
    // Whatever the host wrote is in the pipes by now.
    stop_ = true;
    reader_.join();
    Drain(output_, pendingOut_, outLines_);
    Drain(errors_, pendingErr_, errLines_);
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> WineHost::Output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outLines_;
}

std::vector<std::string> WineHost::Errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    std::copy_if(errLines_.begin(), errLines_.end(), std::back_inserter(lines), [](const std::string& line) { return !line.empty(); });
    return lines;
}

// Wine prints each trace as  0024:warn:debugstr:OutputDebugStringA "BRAVAX.DLL Initializing!\n"
std::vector<std::string> WineHost::TraceLines() const {
    static const std::string kMarker = "OutputDebugStringA \"";
    std::vector<std::string> traces;
    for (const std::string& line : Errors()) {
        const size_t start = line.find(kMarker);
        const size_t end = line.rfind('"');
        if (start == std::string::npos || end < start + kMarker.size()) continue;
        std::string text = line.substr(start + kMarker.size(), end - start - kMarker.size());
        for (size_t at = 0; (at = text.find("\\n", at)) != std::string::npos; ++at) text.replace(at, 2, "\n");
        traces.push_back(text);
    }
    return traces;
}

}  // namespace ledsign::test
