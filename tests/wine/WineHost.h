// Runs the Windows test host (winhost.exe) under Wine in the suite's private prefix, feeding
// its standard input and collecting its standard output and error as timestamped lines.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Pty.h"

namespace ledsign::test {

struct Line {
    Clock::time_point at;
    std::string text;
};

// Where Wine is, where the Windows build and the prefix are, and whether a missing Wine
// is a failure (CI) or a reason to skip (a developer's machine without it). With
// LEDSIGN_WINE_ARCH=x64 the tests run the 64-bit build in a 64-bit prefix.
struct WineSetup {
    static std::string WinePath();  // empty without Wine
    static bool WineInstalled();
    static bool MustRun();  // CI=true
    static std::string WindowsBuildDir();
    static std::string Prefix();
    static std::string HostExe();
    // wine, or for the 64-bit build Wine's 64-bit loader, which runs where 32-bit programs cannot.
    static std::string Loader();
    // Drive Z: of every prefix is the Unix root.
    static std::string WindowsPath(const std::string& unixPath);
};

// A COM port of the prefix mapped to a pseudo-terminal for as long as the lease lives. Ports
// 2..9 go to whichever test takes them first (tests run two at a time); COM1 only to the
// tests that ask for it.
class ComPort {
public:
    ComPort(const Pty& pty, int number = 0);
    ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    std::string Name() const { return "COM" + std::to_string(number_); }
    bool Mapped() const { return number_ > 0; }
    // The port now leads to another pty: a USB adapter plugged back in under the same COM name.
    void PointAt(const Pty& pty);
    // The port leads nowhere: the adapter is unplugged and its COM name gone.
    void Unplug();

private:
    int number_ = 0;
    int lock_ = -1;
};

class WineHost {
public:
    // Starts `wine winhost.exe DLL STEP...`, with `environment` ("NAME=value") added to its own.
    WineHost(const std::string& dllName, const std::vector<std::string>& steps,
             const std::vector<std::string>& environment = {});
    // Starts `wine PROGRAM ARGUMENT...` for another program of the Windows build, e.g. tools/ledctl.exe.
    struct Program {
        std::string path;  // under the Windows build directory
        std::vector<std::string> arguments;
    };
    explicit WineHost(const Program& program);
    ~WineHost();
    WineHost(const WineHost&) = delete;
    WineHost& operator=(const WineHost&) = delete;

    // Waits for the count-th standard-output line that starts with `prefix`.
    bool WaitForOutput(const std::string& prefix, int count = 1, int timeoutMs = 20000);
    // Answers a "wait" step.
    void Continue();
    // Stops reading standard error and fills its pipe, so that the host's next trace line
    // blocks inside the write until ResumeErrors.
    void BlockErrors();
    void ResumeErrors();
    // Waits for the host to end; returns its exit status, or -1 after killing it at the time-out.
    int Finish(int timeoutMs = 60000);

    std::vector<std::string> Output() const;
    // Standard error's lines, without the filler that BlockErrors put there.
    std::vector<Line> Errors() const;
    // The trace lines that the DLL left through OutputDebugStringA, in order.
    std::vector<std::string> TraceLines() const;

private:
    void Start(std::vector<std::string> args, const std::vector<std::string>& extraEnvironment);
    void ReadLoop();
    void Drain(int fd, std::string& pending, std::vector<Line>& lines);

    pid_t child_ = -1;
    int input_ = -1, output_ = -1, errors_ = -1;
    int errorFiller_ = -1;  // a second, non-blocking way into the standard-error pipe
    std::atomic<bool> stop_{false};
    std::atomic<bool> errorsPaused_{false};
    std::atomic<int> pollRounds_{0};
    mutable std::mutex mutex_;
    std::string pendingOut_, pendingErr_;
    std::vector<Line> outLines_, errLines_;
    std::thread reader_;
};

}  // namespace ledsign::test
