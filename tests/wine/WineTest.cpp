// The Windows DLLs run the way a host runs them, on Wine: the test host loads each DLL by path
// and calls its exports through cdecl pointers, and the test reads the far end of the COM port,
// a pseudo-terminal, with a timestamp for every chunk.
#include <sys/inotify.h>

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Pty.h"
#include "RecordingLine.h"
#include "ScenarioChecks.h"
#include "SignCases.h"
#include "SkipOrFail.h"
#include "TraceLines.h"
#include "WineHost.h"

namespace ledsign::test {
namespace {

using std::chrono::milliseconds;

// "中文#OK" in GBK, as the host passes it.
const char kChineseText[] = "D6D0CEC4234F4B";

// The host's result lines without the " ms=N" timings, and the timings on their own.
std::vector<std::string> Results(const std::vector<std::string>& output) {
    std::vector<std::string> results;
    for (const std::string& line : output) results.push_back(line.substr(0, line.find(" ms=")));
    return results;
}

std::vector<long> Timings(const std::vector<std::string>& output, const std::string& step) {
    std::vector<long> timings;
    for (const std::string& line : output) {
        const size_t at = line.find(" ms=");
        if (line.rfind(step + " ", 0) == 0 && at != std::string::npos) timings.push_back(std::stol(line.substr(at + 4)));
    }
    return timings;
}

std::vector<std::string> LoadAndUnloadTraces(const SignCase& c) {
    return {std::string(c.dll) + " Initializing!\n", std::string(c.dll) + " Terminating!\n"};
}

// The steps that init `port` at 9600,8,NONE,1 and open it.
std::string OpenAt(const std::string& port) { return "init " + port + " 9600 8 1 NONE open "; }

// Where "AB#D" and the frame after it, received as `chunks`, showed a pause shorter than the protocol asks.
std::vector<size_t> ShortPauses(const std::vector<Chunk>& chunks, const SignCase& c) {
    std::vector<size_t> shortPauses;
    for (const LinePause& pause : c.pauses) {
        if (pause.askedMs > 0 && GapBefore(chunks, pause.atByte) < milliseconds(pause.askedMs)) shortPauses.push_back(pause.atByte);
    }
    return shortPauses;
}

// ledctl.exe with the DLL `dll` of the Windows build and the words of `arguments`.
WineHost::Program Ledctl(const std::string& dll, const std::string& arguments, bool console = false) {
    std::vector<std::string> words = StepWords(arguments);
    words.insert(words.begin(), WineSetup::WindowsBuildPath(dll));
    return {"tools/ledctl.exe", words, console};
}

// Whether any of `lines` holds `text`.
bool AnyHolds(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// Ends the test (skipped or failed) unless Wine, the Windows build of the model and the prefix are there.
void ExpectWineRuns(const SignCase& c) {
    LEDSIGN_REQUIRE_WINE("the Windows DLLs are");
    ASSERT_EQ(access(WineSetup::HostExe().c_str(), R_OK), 0)
        << "no " << WineSetup::HostExe() << ": build the windows preset first";
    const std::string dll = WineSetup::WindowsBuildDir() + "/" + c.dll;
    ASSERT_EQ(access(dll.c_str(), R_OK), 0) << "no " << dll << ": build the windows preset first";
    ASSERT_EQ(access((WineSetup::Prefix() + "/drive_c/windows/system32/kernel32.dll").c_str(), R_OK), 0)
        << "no Wine prefix at " << WineSetup::Prefix() << ": ctest's wine_prefix_setup makes it";
}

class WineDll : public ::testing::TestWithParam<SignCase> {
protected:
    void SetUp() override { ExpectWineRuns(GetParam()); }
};

TEST_P(WineDll, DrivesTheLineLikeAHost) {
    const SignCase& c = GetParam();
    HeldPty pty;
    ComPort port(pty);
    ASSERT_TRUE(port.Mapped());
    WineHost host(c.dll, StepWords("isopen init " + port.Name() + " 9600 7 2 EVEN open isopen open ask settings " +
                                   "write-hex 41422344 mode 7 write-hex " + c.oneRowText + " write-hex " + kChineseText +
                                   " clear close isopen close isopen unload"));
    ASSERT_TRUE(host.WaitForOutput("ask settings"));
    // Speed and stop bits as the plug-in set them on the open port; a pty keeps no data bits or parity.
    const termios applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), c.fixedLine ? static_cast<speed_t>(B2400) : static_cast<speed_t>(B9600));
    EXPECT_EQ((applied.c_cflag & CSTOPB) != 0, !c.fixedLine);
    host.Continue();
    EXPECT_EQ(host.Finish(), 0);

    const std::vector<std::string> expected = {
        "loaded exports=9 ordinals=same", "isopen 0", "init", "open 1", "isopen 1", "open 1", "ask settings", "write 1",
        "mode", "write 1", "write 1", "clear 1", "close", "isopen 0", "close", "isopen 0", "unload 1"};
    EXPECT_EQ(Results(host.Output()), expected);
    for (long ms : Timings(host.Output(), "write")) EXPECT_GE(ms, c.minWriteMs);
    for (long ms : Timings(host.Output(), "clear")) EXPECT_LT(ms, 100);

    // Every frame, in order, and nothing from SetShowMode.
    const std::string line = Bytes(c.twoRowBytes) + Bytes(c.oneRowBytes) + Bytes(c.chineseBytes) + Bytes(c.clearBytes);
    EXPECT_EQ(Hex(pty.SettleAfter(line.size())), Hex(line));
    // Every pause lasts at least what the protocol asks, on the line: the DLL checks each against the
    // performance counter (Windows' Sleep can end a tick early). A reader woken late on a busy machine
    // sees a 1 ms pause shorter than the line had it, or not at all: a pause counts as short only
    // when it is short in three runs.
    std::vector<size_t> shortPauses = ShortPauses(pty.Chunks(), c);
    for (int rerun = 0; rerun < 2 && !shortPauses.empty(); ++rerun) {
        HeldPty again;
        ComPort other(again);
        WineHost write(c.dll, StepWords(OpenAt(other.Name()) + "write-hex 41422344 write-hex 41422344 close"));
        EXPECT_EQ(write.Finish(), 0);
        again.SettleAfter(2 * Bytes(c.twoRowBytes).size());
        shortPauses = ShortPauses(again.Chunks(), c);
    }
    EXPECT_EQ(shortPauses, std::vector<size_t>{}) << "the bytes after a pause shorter than asked, in three runs";
    EXPECT_EQ(host.TraceLines(), LoadAndUnloadTraces(c));
}

TEST_P(WineDll, AnswersWithoutAPort) {
    const SignCase& c = GetParam();
    // The second write-hex, two spaces before "att", has an empty text.
    WineHost host(c.dll, StepWords("isopen close isopen write-hex 41422344 clear write-null write-hex  att att-null ver "
                                   "version-info cdecl-check 10000 unload"));
    EXPECT_EQ(host.Finish(), 0);
    // An ESC-line sign has nothing to send for an empty text, so nothing fails.
    const std::string att = "att 1 dots=" + std::to_string(c.dots) + " rowChars=" + std::to_string(c.rowChars) +
                            " rowWideChars=" + std::to_string(c.rowWideChars) + " twoRows=" + std::to_string(c.twoRows) +
                            " commText=" + tools::HexBytes(c.commText, "") + " vendor=" + tools::HexBytes(c.vendor, "") +
                            " vendorCopy=" + tools::HexBytes(c.vendor, "") + " touched-outside=0";
    const std::vector<std::string> expected = {
        "loaded exports=9 ordinals=same", "isopen 0", "close", "isopen 0", "write -1", "clear -1", "write-null -1",
        c.escLine ? "write 1" : "write -1", att, "att-null -1", "ver 3",
        std::string("version-info language=0804 codepage=04B0 file=") + c.fileVersion,
        "cdecl-check calls=90000 stack-moved=0 first=none", "unload 1"};
    EXPECT_EQ(Results(host.Output()), expected);
    // brava fails only after the pause that follows its untested row 1.
    const std::vector<long> writes = Timings(host.Output(), "write");
    ASSERT_FALSE(writes.empty());
    if (c.closedPortPauseMs > 0) EXPECT_GE(writes[0], c.closedPortPauseMs);
    if (c.closedPortPauseMs == 0) EXPECT_LT(writes[0], 100);
    EXPECT_EQ(host.TraceLines(), LoadAndUnloadTraces(c));
}

// Ports that do not exist and settings the line refuses: clear results, and no call that hangs.
// (A sign side that vanishes while the port is open is a lost-line scenario.)
TEST_P(WineDll, OpenResults) {
    const SignCase& c = GetParam();
    Pty pty;
    ComPort port(pty);
    ASSERT_TRUE(port.Mapped());
    WineHost host(c.dll, StepWords(OpenAt("NOPORT") + "isopen " + OpenAt("\\\\.\\COM99") + "isopen init " + port.Name() +
                                   " 9600 9 1 NONE open isopen close"));
    EXPECT_EQ(host.Finish(10000), 0);
    // dorun always opens at 8 data bits, so nine bits do not concern it.
    const std::vector<std::string> expected = {
        "loaded exports=9 ordinals=same", "init", "open -1", "isopen 0", "init", "open -1", "isopen 0", "init",
        c.fixedLine ? "open 1" : "open -2", c.fixedLine ? "isopen 1" : "isopen 0", "close"};
    EXPECT_EQ(Results(host.Output()), expected);
}

// InitLed without a record means COM1 with the plug-in's default settings.
TEST_P(WineDll, DefaultsOpenCom1) {
    const SignCase& c = GetParam();
    HeldPty pty;
    ComPort port(pty, 1);
    ASSERT_TRUE(port.Mapped());
    WineHost host(c.dll, StepWords("init-null open ask settings write-hex 41422344 close"));
    ASSERT_TRUE(host.WaitForOutput("ask settings"));
    const termios applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), SpeedOf(c.defaultBaud));
    EXPECT_EQ(applied.c_cflag & CSTOPB, 0u);
    host.Continue();
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(Results(host.Output()), (std::vector<std::string>{"loaded exports=9 ordinals=same", "init-null", "open 1",
                                                                "ask settings", "write 1", "close"}));
    EXPECT_EQ(Hex(pty.SettleAfter(Bytes(c.twoRowBytes).size())), Hex(Bytes(c.twoRowBytes)));
}

// The "Terminating" line is written before the port closes. With standard error's pipe full, the
// host blocks inside that trace line: the port must still be open then, and close once it is through,
// while the host still runs.
TEST_P(WineDll, UnloadWithThePortOpenClosesItAfterTheTerminatingLine) {
    const SignCase& c = GetParam();
    Pty pty;
    ComPort port(pty);
    ASSERT_TRUE(port.Mapped());
    WineHost host(c.dll, StepWords(OpenAt(port.Name()) + "ask unload unload ask end"));
    ASSERT_TRUE(host.WaitForOutput("ask unload"));
    ASSERT_TRUE(host.WaitForOutput("open 1", 1, 0));
    EXPECT_FALSE(pty.SlaveClosed());
    host.BlockErrors();
    host.Continue();
    EXPECT_FALSE(pty.WaitForHangup(300));
    EXPECT_FALSE(host.WaitForOutput("unload", 1, 0));
    host.ResumeErrors();
    EXPECT_TRUE(pty.WaitForHangup(5000));
    EXPECT_TRUE(host.WaitForOutput("ask end"));
    EXPECT_TRUE(host.WaitForOutput("unload 1", 1, 0));
    host.Continue();
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(host.TraceLines(), LoadAndUnloadTraces(c));
}

// The far side of a COM port: a pty behind the port's name.
using ComFarSide = PtyBehindName<ComPort>;

class WineScenario : public ::testing::TestWithParam<ScenarioCase> {
protected:
    void SetUp() override { ExpectWineRuns(*GetParam().sign); }
};

// Each line scenario with each model on a COM port, and the trace says why a lost line went and how
// it came back, with Wine's own error.
TEST_P(WineScenario, RunsOnAComPort) {
    const SignCase& c = *GetParam().sign;
    const LineScenario& scenario = *GetParam().scenario;
    ComFarSide farSide;
    ASSERT_TRUE(farSide.Port().Mapped());
    ScenarioPlayer player(farSide);
    WineHost host(c.dll, ScenarioWords(scenario, farSide.Port().Name()), {"LEDSIGN_TRACE=1"});
    int asked = 0;
    for (const ScenarioStep& step : scenario.steps) {
        if (std::strncmp(step.step, "ask ", 4) != 0) continue;
        ASSERT_TRUE(host.WaitForOutput("ask ", ++asked));
        player.OnAsk(step.step + 4);
        host.Continue();
    }
    EXPECT_EQ(host.Finish(), 0);
    std::vector<std::string> results = host.Output();
    ASSERT_FALSE(results.empty());
    results.erase(results.begin());  // "loaded exports=9 ordinals=same"
    ExpectScenarioRun(scenario, c, results, player);
    if (!Asks(scenario, "unplug")) return;
    const std::vector<std::string> events = ReadFrameTrace(host.TraceLines(), c.dll).events;
    ASSERT_FALSE(events.empty());
    // Wine answers a write on a hung-up pty with ERROR_NOT_READY.
    EXPECT_EQ(events[0].rfind(farSide.Port().Name() + " lost: WriteFile: ", 0), 0u) << events[0];
    EXPECT_EQ(events[0].substr(events[0].size() - 5), " (21)") << events[0];
    if (Asks(scenario, "frames")) EXPECT_EQ(events.back(), farSide.Port().Name() + ReopenedAt(c, 9600));
}

INSTANTIATE_TEST_SUITE_P(Dlls, WineScenario, ::testing::ValuesIn(EveryScenarioCase()), ScenarioCaseName);

// With LEDSIGN_TRACE=1 the DLL traces every write and pause through OutputDebugStringA.
TEST_P(WineDll, TheFrameTraceShowsEveryWriteWhenAskedFor) {
    const SignCase& c = GetParam();
    HeldPty pty;
    ComPort port(pty);
    ASSERT_TRUE(port.Mapped());
    WineHost host(c.dll, StepWords(OpenAt(port.Name()) + "write-hex 41422344 close unload"), {"LEDSIGN_TRACE=1"});
    EXPECT_EQ(host.Finish(), 0);
    const std::vector<std::string> lines = host.TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ((std::vector<std::string>{lines.front(), lines.back()}), LoadAndUnloadTraces(c));
    const FrameTrace trace = ReadFrameTrace(lines, c.dll);
    EXPECT_EQ(trace.others, LoadAndUnloadTraces(c));  // every line between them is a trace line of the DLL
    EXPECT_EQ(trace.written, c.twoRowBytes);
    EXPECT_EQ(trace.failedWrites, 0);
}

// COM10 and above exist only in the device namespace: a plain name reaches them through it, and a
// name given in that form is used as it stands.
TEST_P(WineDll, OpensComPortsAboveNineByPlainAndDeviceNames) {
    const SignCase& c = GetParam();
    HeldPty pty10;
    HeldPty pty12;
    ComPort port10(pty10, 10);
    ComPort port12(pty12, 12);
    ASSERT_TRUE(port10.Mapped() && port12.Mapped());
    WineHost host(c.dll, StepWords(OpenAt("COM10") + "write-hex 41422344 close " + OpenAt("\\\\.\\COM12") +
                                   "write-hex 41422344 close"));
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(Results(host.Output()), (std::vector<std::string>{"loaded exports=9 ordinals=same", "init", "open 1",
                                                                "write 1", "close", "init", "open 1", "write 1", "close"}));
    const std::string expected = Bytes(c.twoRowBytes);
    for (Pty* pty : {&pty10, &pty12}) EXPECT_EQ(Hex(pty->SettleAfter(expected.size())), Hex(expected));
}

// Opens of files seen through inotify, from the moment of the watch.
class OpenWatch {
public:
    explicit OpenWatch(const std::vector<std::string>& paths) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& path : paths) inotify_add_watch(fd_, path.c_str(), IN_OPEN);
    }
    ~OpenWatch() { close(fd_); }
    // Whether any was opened since the last call.
    bool Opened() {
        bool opened = false;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = read(fd_, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
                opened |= (reinterpret_cast<inotify_event*>(at)->mask & IN_OPEN) != 0;
        return opened;
    }

private:
    int fd_;
};

// ledctl.exe lists the ports the system lists and opens none of them; with --probe it opens
// each, says so, and finds a COM port that only answers an open (Wine lists a pty-mapped port
// nowhere). It says why an open failed. Probing opens COM1 too, which Wine maps to the machine's
// console: COM1 is leased to a pty first, so the test holds the COM1 lock.
TEST(WineTools, LedctlListsWithoutOpeningProbesCom1AndCom12OnRequestExplainsAFailedOpenAndNamesCom1WithoutPort) {
    LEDSIGN_REQUIRE_WINE("the Windows tools are");
    const SignCase& c = kSignCases[0];
    HeldPty consoleStandIn;
    HeldPty pty;
    ComPort com1(consoleStandIn, 1);
    ComPort port(pty, 12);
    ASSERT_TRUE(com1.Mapped() && port.Mapped());
    OpenWatch opens({consoleStandIn.SlavePath(), pty.SlavePath()});
    struct Case {
        std::vector<std::string> arguments;
        bool probes;  // opens either pty, and says so
        int listedFree;
    };
    const Case cases[] = {{{"ports"}, false, 0}, {{"ports", "--probe"}, true, 2}};
    for (const Case& run : cases) {
        SCOPED_TRACE(::testing::PrintToString(run.arguments));
        WineHost ports(WineHost::Program{"tools/ledctl.exe", run.arguments});
        EXPECT_EQ(ports.Finish(), 0);
        const std::vector<std::string> output = ports.Output();
        const long listed = std::count_if(output.begin(), output.end(), [](const std::string& line) {
            return line.find("; free") != std::string::npos && (line.rfind("COM1 ", 0) == 0 || line.rfind("COM12 ", 0) == 0);
        });
        EXPECT_EQ(listed, run.listedFree) << ::testing::PrintToString(output);
        EXPECT_EQ(AnyHolds(output, "is opened once"), run.probes) << ::testing::PrintToString(output);
        EXPECT_EQ(opens.Opened(), run.probes);
    }
    WineHost missing(Ledctl(c.dll, "clear --port COM98"));
    EXPECT_EQ(missing.Finish(), 4);
    EXPECT_TRUE(AnyHolds(missing.Errors(), "no such device: COM98"));
    // Without --port the DLL opens COM1 (on many stations the console): ledctl names it.
    WineHost unnamed(Ledctl(c.dll, "write Hi"));
    EXPECT_EQ(unnamed.Finish(), 0);
    EXPECT_TRUE(AnyHolds(unnamed.Errors(), "no --port given: the plug-in opens COM1")) << ::testing::PrintToString(unnamed.Output());
    EXPECT_FALSE(consoleStandIn.WaitForBytes(1).empty());
}

// ledctl.exe --trace shows the DLL's trace itself, read from the debug output as it comes: no
// debug-output viewer is needed.
TEST(WineTools, LedctlTraceShowsTheDllsTraceLines) {
    LEDSIGN_REQUIRE_WINE("the Windows tools are");
    const SignCase& c = kSignCases[0];
    HeldPty pty;
    ComPort port(pty);
    ASSERT_TRUE(port.Mapped());
    WineHost ledctl(Ledctl(c.dll, "write AB#D --port " + port.Name() + " --trace"));
    EXPECT_EQ(ledctl.Finish(), 0);
    // Wine also prints each debug string itself (warn:debugstr:...); ledctl's lines stand alone.
    EXPECT_EQ(ReadFrameTrace(ledctl.Errors(), c.dll).written, c.twoRowBytes) << ::testing::PrintToString(ledctl.Errors());
    EXPECT_EQ(Hex(pty.WaitForBytes(Bytes(c.twoRowBytes).size())), c.twoRowBytes);
}

// What a console shows of the lines Wine drew on it, each without its cursor and erase sequences
// (Wine moves over a space with "erase to the end, one column right"), and no empty line.
std::vector<std::string> ConsoleText(const std::vector<std::string>& lines) {
    std::vector<std::string> shown;
    for (std::string line : lines) {
        for (size_t at; (at = line.find("\x1B[K\x1B[1C")) != std::string::npos;) line.replace(at, 7, " ");
        for (size_t at; (at = line.find('\x1B')) != std::string::npos;) {
            const size_t end = line.find_first_of("ABCDEFGHJKlhm", at + 2);
            line.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
        }
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        // Milliseconds since load vary from run to run.
        const size_t plus = line.find(" +");
        const size_t ms = line.find(" ms ", plus);
        if (plus != std::string::npos && ms != std::string::npos) line.replace(plus + 2, ms - plus - 2, "N");
        if (!line.empty()) shown.push_back(line);
    }
    return shown;
}

// On a console, where the DLL's trace (shown by ledctl's reader thread) and ledctl's own lines meet,
// each line comes whole and in the order it was made: the load's trace first, the unload's last.
TEST(WineTools, LedctlTraceAndOwnLinesStayWholeAndInOrderOnAConsole) {
    LEDSIGN_REQUIRE_WINE("the Windows tools are");
    HeldPty pty;
    ComPort port(pty);
    ASSERT_TRUE(port.Mapped());
    WineHost ledctl(Ledctl("BRAVAX.DLL", "write AB#D --port " + port.Name() + " --trace", true));
    EXPECT_EQ(ledctl.Finish(), 0);
    const std::vector<std::string> expected = {
        "BRAVAX.DLL Initializing!",
        "InitLed: " + port.Name() + " 2400,8,NONE,1",
        "OpenLed: 1 (open)",
        "BRAVAX.DLL +N ms write 05 01 03 01 00 58 20 02 = 1",
        "BRAVAX.DLL +N ms write 41 42 = 1",
        "BRAVAX.DLL +N ms pause 100",
        "BRAVAX.DLL +N ms write 05 01 03 02 00 58 20 01 = 1",
        "BRAVAX.DLL +N ms write 44 = 1",
        "BRAVAX.DLL +N ms pause 100",
        "Write2Led: 1 (4 bytes)",
        "CloseLed: done",
        "BRAVAX.DLL Terminating!",
    };
    EXPECT_EQ(ConsoleText(ledctl.Output()), expected);
}

// ledsign.dll, as a Windows host links it, drives two signs on two COM ports at once.
TEST(WineLibrary, DrivesTwoSignsOnTwoComPorts) {
    LEDSIGN_REQUIRE_WINE("the Windows library is");
    HeldPty first;
    HeldPty second;
    ComPort firstPort(first);
    ComPort secondPort(second);
    ASSERT_TRUE(firstPort.Mapped() && secondPort.Mapped());
    WineHost host(WineHost::Program{"tests/wine/host/libhost.exe", {"brava", firstPort.Name(), "elvane", secondPort.Name()}});
    EXPECT_EQ(host.Finish(), 0);
    const std::vector<std::string> expected = {"open1 = 1 ", "open2 = 1 ", "write1 = 1", "write2 = 1",
                                               "utf8 = -3 character U+1F600 at byte 0 has no GBK code", "clear1 = 1", "clear2 = 1"};
    EXPECT_EQ(host.Output(), expected);
    const std::string brava = "05 01 03 01 00 58 20 02 41 42 05 01 03 02 00 58 20 01 44 2A 30 31 44 0D";
    const std::string elvane = "1B 01 04 D6 D0 CE C4 0D 1B 01 05 4F 4B 0D 1B 01 04 0D 1B 01 05 0D";
    EXPECT_EQ(Hex(first.WaitForBytes(Bytes(brava.c_str()).size())), brava);
    EXPECT_EQ(Hex(second.WaitForBytes(Bytes(elvane.c_str()).size())), elvane);
}

INSTANTIATE_TEST_SUITE_P(Dlls, WineDll, ::testing::ValuesIn(kSignCases), SignCaseName<::testing::TestParamInfo<SignCase>>);

}  // namespace
}  // namespace ledsign::test
