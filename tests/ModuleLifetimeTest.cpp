// Loading and unloading a plug-in in a child process: the trace lines, their order around
// the driver object's life, and a port still held at unload being closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Plugin.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "RecordingLine.h"
#include "SignCases.h"
#include "TraceLines.h"

namespace ledsign::test {
namespace {

class ModuleLifetime : public ::testing::TestWithParam<SignCase> {};

TEST_P(ModuleLifetime, LoadAndUnloadLeaveTwoTraceLinesAndOpenNothing) {
    const ChildRun run = RunInChild([this] {
        const int before = OpenDescriptors();
        Plugin plugin(GetParam().sign);
        const int loaded = OpenDescriptors();
        plugin.Unload();
        return loaded == before ? 0 : 1;
    });
    EXPECT_EQ(run.status, 0);
    const std::string module = GetParam().dll;
    EXPECT_EQ(run.errors, module + " Initializing!\n" + module + " Terminating!\n");
}

// With LEDSIGN_TRACE=1 at load, every write (its bytes and result) and every pause is traced
// between the load and unload lines, each line naming the module and a time since load.
TEST_P(ModuleLifetime, TheFrameTraceShowsEveryWriteAndPauseWhenAskedFor) {
    const SignCase& c = GetParam();
    HeldPty pty;
    const ChildRun run = RunInChild([&] {
        setenv("LEDSIGN_TRACE", "1", 1);
        Plugin plugin(c.sign);
        if (plugin.OpenOn(pty.PortName(), 9600) != 1) return 3;
        return plugin.Write2Led("AB#D") == 1 ? 0 : 4;
    });
    EXPECT_EQ(run.status, 0);
    const std::string module = c.dll;
    const std::vector<std::string> lines = SplitLines(run.errors);
    ASSERT_GE(lines.size(), 2u) << run.errors;
    EXPECT_EQ(lines.front(), module + " Initializing!");
    EXPECT_EQ(lines.back(), module + " Terminating!");
    // Every line between those two is a trace line of the module.
    const FrameTrace trace = ReadFrameTrace(lines, module);
    EXPECT_EQ(trace.others, (std::vector<std::string>{lines.front(), lines.back()})) << run.errors;
    EXPECT_TRUE(trace.events.empty()) << run.errors;
    EXPECT_EQ(trace.written, c.twoRowBytes);
    EXPECT_EQ(trace.failedWrites, 0);
    EXPECT_EQ(trace.paused, c.twoRowPauses);
    EXPECT_EQ(Hex(pty.WaitForBytes(Bytes(c.twoRowBytes).size())), c.twoRowBytes);
}

// The "Terminating" line is written before the port is closed. The child's standard error is a
// full pipe, so the child blocks inside that trace line until the test drains it: the device must
// still be open while it blocks, and close once the line is through.
TEST_P(ModuleLifetime, UnloadWithThePortOpenClosesItAfterTheTerminatingLine) {
    Pty pty;
    int errorPipe[2];
    int readyPipe[2];
    ASSERT_EQ(pipe(errorPipe), 0);
    ASSERT_EQ(pipe(readyPipe), 0);
    fcntl(errorPipe[1], F_SETPIPE_SZ, 4096);
    const pid_t child = fork();
    if (child == 0) {
        dup2(errorPipe[1], STDERR_FILENO);
        close(errorPipe[0]);
        close(readyPipe[0]);
        Plugin plugin(GetParam().sign);
        if (plugin.OpenOn(pty.PortName(), 9600) != 1) _exit(3);
        FillPipe(STDERR_FILENO);  // so that the next trace line blocks
        (void)!write(readyPipe[1], "r", 1);
        plugin.Unload();
        _exit(0);
    }
    close(errorPipe[1]);
    close(readyPipe[1]);
    char ready = 0;
    ASSERT_EQ(read(readyPipe[0], &ready, 1), 1);
    // The child now blocks writing "Terminating": the port must stay open meanwhile.
    EXPECT_FALSE(pty.WaitForHangup(300));
    const std::string trace = ReadToEnd(errorPipe[0]);
    EXPECT_TRUE(pty.WaitForHangup(2000));
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_NE(trace.find(std::string(GetParam().dll) + " Terminating!\n"), std::string::npos);
    close(errorPipe[0]);
    close(readyPipe[0]);
}

// A host whose standard error is closed, or a pipe whose reader has gone: the port never takes
// descriptor 2, so no trace line reaches the sign, and a trace line never kills the host.
TEST_P(ModuleLifetime, AHostileStandardErrorNeitherReachesTheSignNorKillsTheHost) {
    enum class StandardError { kClosed, kBrokenPipe };
    for (const StandardError setup : {StandardError::kClosed, StandardError::kBrokenPipe}) {
        SCOPED_TRACE(setup == StandardError::kClosed ? "closed" : "broken pipe");
        HeldPty pty;
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGPIPE, SIG_DFL);
            if (setup == StandardError::kClosed) {
                close(STDERR_FILENO);
            } else {
                int errorPipe[2];
                if (pipe(errorPipe) != 0) _exit(2);
                dup2(errorPipe[1], STDERR_FILENO);
                close(errorPipe[0]);
                close(errorPipe[1]);
            }
            Plugin plugin(GetParam().sign);
            if (plugin.OpenOn(pty.PortName(), 9600) != 1) _exit(4);
            if (fcntl(STDERR_FILENO, F_GETFD) != -1 && setup == StandardError::kClosed) _exit(5);
            if (plugin.Write2Led("AB") != 1) _exit(6);
            plugin.Unload();
            _exit(0);
        }
        EXPECT_EQ(WaitChild(child), 0);
        const std::string line = pty.Settle(100);
        EXPECT_EQ(line.find("Terminating"), std::string::npos) << line;
        EXPECT_NE(line.find("AB"), std::string::npos) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, ModuleLifetime, ::testing::ValuesIn(kSignCases),
                         SignCaseName<::testing::TestParamInfo<SignCase>>);

}  // namespace
}  // namespace ledsign::test
