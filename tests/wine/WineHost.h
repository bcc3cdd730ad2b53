// Runs the Windows test host (winhost.exe) under Wine in the suite's private prefix, feeding
// its standard input and collecting its standard output and error as lines.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Pty.h"
#include "SkipOrFail.h"

namespace ledsign::test {

// Where Wine is, where the Windows build and the prefix are, and whether a missing Wine
// is a failure (CI) or a reason to skip (a developer's machine without it). With
// LEDSIGN_WINE_ARCH=x64 the tests run the 64-bit build in a 64-bit prefix.
struct WineSetup {
    static std::string WinePath();  // empty without Wine
    // Why Wine cannot run the programs of this architecture here, or "" when it can.
    static std::string Missing();
    // False where no package can help: a kernel that runs no 32-bit programs cannot run the
    // 32-bit build under Wine.
    static bool MachineRunsBuild();
    static bool WineInstalled();
    static std::string WindowsBuildDir();
    static std::string Prefix();
    static std::string HostExe();
    // The Windows path of a file of the Windows build (drive Z: of every prefix is the Unix root).
    static std::string WindowsBuildPath(const std::string& file);
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
    void Remove();

private:
    int number_ = 0;
    int lock_ = -1;
};

// Ends the test unless Wine can run the build here: a skip where the machine cannot (under CI too,
// since no package changes it), else a skip or, under CI, a failure when Wine is missing.
#define LEDSIGN_REQUIRE_WINE(what)                                                            \
    do {                                                                                      \
        if (!::ledsign::test::WineSetup::MachineRunsBuild()) {                                \
            GTEST_SKIP() << ::ledsign::test::WineSetup::Missing() << ": " what " not run";    \
        }                                                                                     \
        if (!::ledsign::test::WineSetup::WineInstalled()) {                                   \
            LEDSIGN_SKIP_OR_FAIL(::ledsign::test::WineSetup::Missing() << ": " what " not run"); \
        }                                                                                     \
    } while (false)

class WineHost {
public:
    // Starts `wine winhost.exe DLL STEP...`, with `environment` ("NAME=value") added to its own.
    WineHost(const std::string& dllName, const std::vector<std::string>& steps,
             const std::vector<std::string>& environment = {});
    // Starts `wine PROGRAM ARGUMENT...` for another program of the Windows build, e.g. tools/ledctl.exe.
    struct Program {
        std::string path;  // under the Windows build directory
        std::vector<std::string> arguments;
        // On a console: a terminal as standard input, output and error, which Wine writes as a
        // Windows console; Output() is what it shows (Errors() stays empty).
        bool console = false;
    };
    explicit WineHost(const Program& program);
    ~WineHost();
    WineHost(const WineHost&) = delete;
    WineHost& operator=(const WineHost&) = delete;

    // Waits for the count-th standard-output line that starts with `prefix`; says the output.
    ::testing::AssertionResult WaitForOutput(const std::string& prefix, int count = 1, int timeoutMs = 20000);
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
    std::vector<std::string> Errors() const;
    // The trace lines that the DLL left through OutputDebugStringA, in order.
    std::vector<std::string> TraceLines() const;

private:
    void Start(std::vector<std::string> args, const std::vector<std::string>& extraEnvironment, bool console = false);
    void ReadLoop();
    void Drain(int fd, std::string& pending, std::vector<std::string>& lines);

    pid_t child_ = -1;
    int input_ = -1, output_ = -1, errors_ = -1;
    int errorFiller_ = -1;  // a second, non-blocking way into the standard-error pipe
    std::atomic<bool> stop_{false};
    std::atomic<bool> errorsPaused_{false};
    std::atomic<int> pollRounds_{0};
    mutable std::mutex mutex_;
    std::string pendingOut_, pendingErr_;
    std::vector<std::string> outLines_, errLines_;
    std::thread reader_;
};

}  // namespace ledsign::test
