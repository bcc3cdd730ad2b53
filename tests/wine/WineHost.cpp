#include "WineHost.h"

#include "ProcessProbe.h"
#include "SkipOrFail.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace ledsign::test {

std::string WineSetup::WinePath() {
    const char* path = getenv("PATH");
    const std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string candidate = directories.substr(start, end - start) + "/wine";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

bool WineSetup::WineInstalled() { return !WinePath().empty(); }

bool WineSetup::MustRun() { return UnderCi(); }

namespace {
bool SixtyFourBit() {
    const char* arch = getenv("LEDSIGN_WINE_ARCH");
    return arch != nullptr && std::string(arch) == "x64";
}
}  // namespace

std::string WineSetup::WindowsBuildDir() { return SixtyFourBit() ? LEDSIGN_WINDOWS64_BUILD_DIR : LEDSIGN_WINDOWS_BUILD_DIR; }
std::string WineSetup::Prefix() { return SixtyFourBit() ? LEDSIGN_WINE64_PREFIX : LEDSIGN_WINE_PREFIX; }
std::string WineSetup::HostExe() { return WindowsBuildDir() + "/tests/wine/host/winhost.exe"; }
std::string WineSetup::Loader() {
    return SixtyFourBit() && access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : WinePath();
}

std::string WineSetup::WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

ComPort::ComPort(const Pty& pty, int number) {
    const std::string prefix = WineSetup::Prefix();
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (number_ == 0) {
        for (int candidate = number != 0 ? number : 2; candidate <= (number != 0 ? number : 9); ++candidate) {
            const std::string lockPath = prefix + "/com" + std::to_string(candidate) + ".lock";
            const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (lock < 0) return;  // no prefix
            if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
                lock_ = lock;
                number_ = candidate;
                break;
            }
            close(lock);
        }
        if (number_ == 0) {
            if (Clock::now() > deadline) return;
            usleep(20000);
        }
    }
    PointAt(pty);
}

void ComPort::Unplug() { unlink((WineSetup::Prefix() + "/dosdevices/com" + std::to_string(number_)).c_str()); }

void ComPort::PointAt(const Pty& pty) {
    const std::string link = WineSetup::Prefix() + "/dosdevices/com" + std::to_string(number_);
    unlink(link.c_str());
    if (symlink(pty.SlavePath().c_str(), link.c_str()) != 0) number_ = 0;
}

ComPort::~ComPort() {
    if (number_ > 0) unlink((WineSetup::Prefix() + "/dosdevices/com" + std::to_string(number_)).c_str());
    if (lock_ >= 0) close(lock_);
}

WineHost::WineHost(const std::string& dllName, const std::vector<std::string>& steps,
                   const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> args = {"wine", WineSetup::HostExe(),
                                     WineSetup::WindowsPath(WineSetup::WindowsBuildDir() + "/" + dllName)};
    args.insert(args.end(), steps.begin(), steps.end());
    Start(args, extraEnvironment);
}

WineHost::WineHost(const Program& program) {
    std::vector<std::string> args = {"wine", WineSetup::WindowsBuildDir() + "/" + program.path};
    args.insert(args.end(), program.arguments.begin(), program.arguments.end());
    Start(args, {});
}

void WineHost::Start(std::vector<std::string> args, const std::vector<std::string>& extraEnvironment) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipes");
    }
    // A small standard-error pipe fills quickly when a test wants the host's next trace to block.
    fcntl(err[1], F_SETPIPE_SZ, 4096);
    errorFiller_ = open(("/proc/self/fd/" + std::to_string(err[1])).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);

    // The environment is made before the fork: the child of a threaded process only execs.
    std::vector<std::string> environment = {"WINEPREFIX=" + WineSetup::Prefix(), "WINEDEBUG=-all,+debugstr",
                                            "WINEDLLOVERRIDES=mscoree,mshtml="};
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "WINEPREFIX" && name != "WINEDEBUG" && name != "WINEDLLOVERRIDES" && name != "DISPLAY" &&
            name != "WAYLAND_DISPLAY") {
            environment.push_back(entry);
        }
    }
    args[0] = WineSetup::Loader();
    child_ = StartProgram(args, StandardStreams{in[0], out[1], err[1]}, environment, true);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input_ = in[1];
    output_ = out[0];
    errors_ = err[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
    fcntl(errors_, F_SETFL, O_NONBLOCK);
    reader_ = std::thread([this] { ReadLoop(); });
}

WineHost::~WineHost() {
    if (child_ > 0) Finish(0);
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    for (int fd : {input_, output_, errors_, errorFiller_}) {
        if (fd >= 0) close(fd);
    }
}

void WineHost::Drain(int fd, std::string& pending, std::vector<Line>& lines) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string text = pending.substr(0, end);
            if (!text.empty() && text.back() == '\r') text.pop_back();
            lines.push_back({now, text});
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

bool WineHost::WaitForOutput(const std::string& prefix, int count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int seen = 0;
        for (const std::string& line : Output()) seen += line.compare(0, prefix.size(), prefix) == 0;
        if (seen >= count) return true;
        if (Clock::now() >= deadline) return false;
        usleep(2000);
    }
}

void WineHost::Continue() { (void)!write(input_, "\n", 1); }

void WineHost::BlockErrors() {
    errorsPaused_ = true;
    // Two more poll rounds make sure the reader has let go of the pipe.
    const int round = pollRounds_;
    while (pollRounds_ < round + 2) usleep(1000);
    const std::string newlines(256, '\n');
    while (write(errorFiller_, newlines.data(), newlines.size()) > 0) {
    }
    while (write(errorFiller_, "\n", 1) > 0) {
    }
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
    std::vector<std::string> lines;
    for (const Line& line : outLines_) lines.push_back(line.text);
    return lines;
}

std::vector<Line> WineHost::Errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Line> lines;
    for (const Line& line : errLines_) {
        if (!line.text.empty()) lines.push_back(line);
    }
    return lines;
}

// Wine prints each trace as  0024:warn:debugstr:OutputDebugStringA "BRAVAX.DLL Initializing!\n"
std::vector<std::string> WineHost::TraceLines() const {
    static const std::string kMarker = "OutputDebugStringA \"";
    std::vector<std::string> traces;
    for (const Line& line : Errors()) {
        const size_t start = line.text.find(kMarker);
        const size_t end = line.text.rfind('"');
        if (start == std::string::npos || end < start + kMarker.size()) continue;
        const std::string quoted = line.text.substr(start + kMarker.size(), end - start - kMarker.size());
        std::string text;
        for (size_t i = 0; i < quoted.size(); ++i) {
            if (quoted[i] == '\\' && i + 1 < quoted.size() && quoted[i + 1] == 'n') {
                text += '\n';
                ++i;
            } else {
                text += quoted[i];
            }
        }
        traces.push_back(text);
    }
    return traces;
}

}  // namespace ledsign::test
