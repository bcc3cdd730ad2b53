// The built plug-in libraries, loaded by path and driven through their exports over ptys.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Plugin.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "DrainStandIn.h"
#include "ScenarioChecks.h"
#include "RecordingLine.h"
#include "SignCases.h"
#include "TraceLines.h"
#include "signs/AllModels.h"

namespace ledsign::test {
namespace {

using std::chrono::milliseconds;

class EverySign : public ::testing::TestWithParam<SignCase> {};

// The table names every model the build makes, under the same file names, and no other.
TEST(SignCaseTable, CoversEveryBuiltModel) {
    std::vector<std::string> built;
    for (const BuiltModel& model : kBuiltModels) built.push_back(std::string(model.model->name) + " " + model.windowsFileName);
    std::vector<std::string> tested;
    for (const SignCase& c : kSignCases) tested.push_back(std::string(c.sign) + " " + c.dll);
    EXPECT_EQ(tested, built);
}

TEST_P(EverySign, SendsTextAndClearOverAPty) {
    const SignCase& c = GetParam();
    HeldPty pty;
    Plugin plugin(c.sign);
    ASSERT_EQ(plugin.OpenOn(pty.PortName(), 4800, 8, 2, "NONE"), 1);
    EXPECT_EQ(plugin.IsLedOpened(), 1);
    EXPECT_EQ(plugin.Write2Led("AB#D"), 1);
    plugin.SetShowMode(7);
    EXPECT_EQ(plugin.ClearLed(), 1);
    const std::string expected = Bytes(c.twoRowBytes) + Bytes(c.clearBytes);
    EXPECT_EQ(Hex(pty.WaitForBytes(expected.size())), Hex(expected));
    EXPECT_EQ(Hex(pty.Settle(50)), Hex(expected));  // SetShowMode sent nothing
}

TEST_P(EverySign, AppliesTheRecordSettingsToTheLine) {
    const SignCase& c = GetParam();
    HeldPty pty;
    Plugin plugin(c.sign);
    ASSERT_EQ(plugin.OpenOn(pty.PortName(), 9600, 7, 2, "EVEN"), 1);
    const termios applied = pty.SlaveSettings();
    // dorun always uses 2400 baud and one stop bit, whatever the record says.
    const bool fixed = c.fixedLine;
    EXPECT_EQ(cfgetospeed(&applied), fixed ? static_cast<speed_t>(B2400) : static_cast<speed_t>(B9600));
    EXPECT_EQ((applied.c_cflag & CSTOPB) != 0, !fixed);
}

TEST_P(EverySign, ReportsItsAttributesAndTouchesNothingElse) {
    const SignCase& c = GetParam();
    Plugin plugin(c.sign);
    unsigned char raw[sizeof(LEDAtt)];
    std::memset(raw, 0xCC, sizeof raw);
    LEDAtt* attributes = reinterpret_cast<LEDAtt*>(raw);
    EXPECT_EQ(plugin.GetLEDAtt(attributes), 1);
    EXPECT_EQ(attributes->dots, c.dots);
    EXPECT_EQ(attributes->rowChars, c.rowChars);
    EXPECT_EQ(attributes->rowWideChars, c.rowWideChars);
    EXPECT_EQ(attributes->twoRows, c.twoRows);
    EXPECT_STREQ(attributes->commText, c.commText);
    EXPECT_STREQ(attributes->vendor, c.vendor);
    EXPECT_STREQ(attributes->vendorCopy, c.vendor);
    // Every byte after each text's NUL is as the host left it.
    const size_t written[][2] = {{offsetof(LEDAtt, commText), std::strlen(c.commText) + 1},
                                 {offsetof(LEDAtt, vendor), std::strlen(c.vendor) + 1},
                                 {offsetof(LEDAtt, vendorCopy), std::strlen(c.vendor) + 1}};
    for (size_t offset = 16; offset < sizeof raw; ++offset) {
        bool inText = false;
        for (const auto& field : written) inText |= offset >= field[0] && offset < field[0] + field[1];
        if (!inText) ASSERT_EQ(raw[offset], 0xCC) << "byte " << offset;
    }
    EXPECT_EQ(plugin.GetLEDAtt(nullptr), -1);
    EXPECT_EQ(plugin.GetVer(), 3.0f);
}

TEST_P(EverySign, ClosedPortResults) {
    const SignCase& c = GetParam();
    Plugin plugin(c.sign);
    EXPECT_EQ(plugin.IsLedOpened(), 0);
    plugin.CloseLed();
    EXPECT_EQ(plugin.IsLedOpened(), 0);
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    EXPECT_EQ(plugin.ClearLed(), -1);
    EXPECT_EQ(plugin.Write2Led(nullptr), -1);
    // An ESC-line sign has nothing to send for an empty text.
    EXPECT_EQ(plugin.Write2Led(""), c.escLine ? 1 : -1);
}

TEST_P(EverySign, OpenResults) {
    const SignCase& c = GetParam();
    Pty pty;
    Plugin plugin(c.sign);
    EXPECT_EQ(plugin.OpenOn("nosuchtty"), -1);
    EXPECT_EQ(plugin.IsLedOpened(), 0);
    if (!c.fixedLine) {
        EXPECT_EQ(plugin.OpenOn(pty.PortName(), 12345), -2);
        EXPECT_EQ(plugin.IsLedOpened(), 0);
    }
    // The device is held: another plug-in cannot open it, and a second OpenLed does not reopen.
    ASSERT_EQ(plugin.OpenOn(pty.PortName(), 4800), 1);
    Plugin other(c.sign == std::string(kSignCases[0].sign) ? kSignCases[1].sign : kSignCases[0].sign);
    EXPECT_EQ(other.OpenOn(pty.PortName()), -1);
    const PortSettings faster = MakePortSettings(pty.PortName(), 19200);
    plugin.InitLed(&faster);
    EXPECT_EQ(plugin.OpenLed(), 1);
    const termios applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), c.fixedLine ? static_cast<speed_t>(B2400) : static_cast<speed_t>(B4800));
    plugin.CloseLed();
    EXPECT_EQ(plugin.IsLedOpened(), 0);
    EXPECT_TRUE(pty.WaitForHangup());
}

INSTANTIATE_TEST_SUITE_P(Plugins, EverySign, ::testing::ValuesIn(kSignCases), SignCaseName<::testing::TestParamInfo<SignCase>>);

TEST(PluginTiming, BravaPausesBetweenRowsAndAfterRow2) {
    HeldPty pty;
    Plugin plugin("brava");
    ASSERT_EQ(plugin.OpenOn(pty.PortName()), 1);
    const auto start = Clock::now();
    EXPECT_EQ(plugin.Write2Led("AB#D"), 1);
    EXPECT_GE(Clock::now() - start, milliseconds(200));
    pty.WaitForBytes(19);
    EXPECT_GE(GapBefore(pty.Chunks(), 10), milliseconds(95));
}

TEST(PluginTiming, DorunPausesAfterItsFrameAndClearDoesNot) {
    HeldPty pty;
    Plugin plugin("dorun");
    ASSERT_EQ(plugin.OpenOn(pty.PortName()), 1);
    auto start = Clock::now();
    EXPECT_EQ(plugin.Write2Led("A"), 1);
    EXPECT_GE(Clock::now() - start, milliseconds(200));
    start = Clock::now();
    EXPECT_EQ(plugin.ClearLed(), 1);
    EXPECT_LT(Clock::now() - start, milliseconds(100));
}

TEST_P(EverySign, ClosedPortWriteFailsAfterItsPauseOnly) {
    const SignCase& c = GetParam();
    Plugin plugin(c.sign);
    const auto start = Clock::now();
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(c.closedPortPauseMs));
    EXPECT_LT(took, milliseconds(c.closedPortPauseMs + 90));
}

TEST(PluginText, ChineseTextArrivesAsItsGbkBytes) {
    HeldPty pty;
    Plugin plugin("brava");
    ASSERT_EQ(plugin.OpenOn(pty.PortName()), 1);
    EXPECT_EQ(plugin.Write2Led("\xD6\xD0\xCE\xC4#OK"), 1);
    const std::string expected = Bytes("05 01 03 01 00 58 20 04 D6 D0 CE C4 05 01 03 02 00 58 20 02 4F 4B");
    EXPECT_EQ(Hex(pty.WaitForBytes(expected.size())), Hex(expected));
}

// The sign side vanishes in the middle of a call (a cable pulled, a USB adapter unplugged): the
// call and every later one fail with -1 in bounded time, and a new device can be opened after.
TEST_P(EverySign, SignSideVanishingMidCallGivesMinusOneAndRecovers) {
    const SignCase& c = GetParam();
    Pty pty;
    // Through a name of its own: the plug-in's reopen attempts must not reach a pty that a test
    // running beside this one gets under the old number.
    PortLink link(pty);
    Plugin plugin(c.sign);
    ASSERT_EQ(plugin.OpenOn(link.Name()), 1);
    // A long text keeps the call busy; the master goes away while it runs.
    std::string text(150, 'A');
    text += "#" + std::string(150, 'B');
    std::thread vanish([&pty, &link] {
        std::this_thread::sleep_for(milliseconds(50));
        link.Remove();
        pty.CloseMaster();
    });
    const auto start = Clock::now();
    std::vector<int32_t> results;
    for (int call = 0; call < 40 && Clock::now() - start < milliseconds(500); ++call) {
        results.push_back(plugin.Write2Led(text.c_str()));
    }
    vanish.join();
    results.push_back(plugin.Write2Led(text.c_str()));
    results.push_back(plugin.ClearLed());
    EXPECT_LT(Clock::now() - start, milliseconds(1500));
    EXPECT_EQ(results.back(), -1);
    EXPECT_EQ(results[results.size() - 2], -1);
    EXPECT_EQ(plugin.IsLedOpened(), 1);  // the host opened it and has not closed it
    plugin.CloseLed();
    EXPECT_EQ(plugin.IsLedOpened(), 0);

    HeldPty fresh;
    ASSERT_EQ(plugin.OpenOn(fresh.PortName()), 1);
    EXPECT_EQ(plugin.ClearLed(), 1);
    EXPECT_EQ(Hex(fresh.WaitForBytes(Bytes(c.clearBytes).size())), c.clearBytes);
}

// The far side of a pty line behind a short name: it stops reading, or the driver holds the
// drain (as ftdi_sio does for an adapter pulled during it); it hangs up and a new pty comes
// back behind the name. A lost line must let its device go at once.
class PtyFarSide : public PtyBehindName<PortLink> {
public:
    explicit PtyFarSide(bool drainHeldByDriver) : drainHeld_(drainHeldByDriver) { adapters = drainHeld_; }
    ~PtyFarSide() override {
        heldDrain = kNoDrainHeld;
        adapters = false;
    }

    void Stall() override { drainHeld_ ? void(heldDrain = kEveryDrainHeld) : line_->Stall(); }
    void Resume() override { drainHeld_ ? void(heldDrain = kNoDrainHeld) : line_->Resume(); }
    void Unplug() override {
        struct stat device {};
        stat(line_->SlavePath().c_str(), &device);
        lostDevice_ = device.st_rdev;
        PtyBehindName::Unplug();
    }
    void Replug() override {
        EXPECT_FALSE(HoldsDevice(lostDevice_)) << "the lost device is still held";
        PtyBehindName::Replug();
    }

private:
    bool drainHeld_;
    dev_t lostDevice_ = 0;
};

class EveryScenario : public ::testing::TestWithParam<ScenarioCase> {};

// Each line scenario with each model on a pty, in-process; a stalled line both ways.
TEST_P(EveryScenario, RunsOnAPty) {
    const LineScenario& scenario = *GetParam().scenario;
    for (const bool drainHeldByDriver : {false, true}) {
        if (drainHeldByDriver && !Asks(scenario, "stall")) continue;
        SCOPED_TRACE(drainHeldByDriver ? "drain held by the driver" : "");
        PtyFarSide farSide(drainHeldByDriver);
        ScenarioPlayer player(farSide);
        Plugin plugin(GetParam().sign->sign);
        std::vector<std::string> results;
        const StepHost host{plugin, [&results](const std::string& line) { results.push_back(line); },
                            [&player](const std::string& what) { EXPECT_TRUE(player.OnAsk(what)) << what; }};
        EXPECT_TRUE(RunSteps(host, ScenarioWords(scenario, farSide.Port().Name())));
        ExpectScenarioRun(scenario, *GetParam().sign, results, player);
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, EveryScenario, ::testing::ValuesIn(EveryScenarioCase()), ScenarioCaseName);

// With nothing behind a lost line's name the plug-in tries it again at most once a second: a call
// within the second makes no attempt, nor does a host's OpenLed on the open port.
TEST_P(EverySign, ALostLineIsTriedAgainAtMostOnceASecond) {
    const SignCase& c = GetParam();
    Pty first;
    PortLink link(first);
    Plugin plugin(c.sign);
    ASSERT_EQ(plugin.OpenOn(link.Name()), 1);
    first.CloseMaster();
    link.Remove();
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    const auto attempted = Clock::now();  // the attempt was made no later than this
    Pty second;
    struct stat secondDevice {};
    ASSERT_EQ(stat(second.SlavePath().c_str(), &secondDevice), 0);
    link.PointAt(second);
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    EXPECT_FALSE(HoldsDevice(secondDevice.st_rdev)) << "reopened within the second";
    EXPECT_EQ(plugin.OpenLed(), 1);  // open already: changes nothing
    EXPECT_FALSE(HoldsDevice(secondDevice.st_rdev)) << "OpenLed reopened the lost line";
    std::this_thread::sleep_until(attempted + milliseconds(1000));
    EXPECT_EQ(plugin.Write2Led("AB#D"), 1);
    EXPECT_EQ(Hex(second.SettleAfter(Bytes(c.twoRowBytes).size())), c.twoRowBytes);
}

// While the driver still holds an abandoned write's drain (a USB adapter's), the next call queues
// nothing behind its bytes: it gives -1 at its deadline with nothing new on the line. Once the
// driver lets go, the next frames go out whole.
TEST(PluginRecovery, NothingIsQueuedBehindAWriteWhoseDrainTheDriverHolds) {
    HeldPty pty;
    adapters = true;
    Plugin plugin("cresto");
    ASSERT_EQ(plugin.OpenOn(pty.PortName(), 9600), 1);
    heldDrain = kEveryDrainHeld;
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    const std::string abandoned = pty.Settle(50);
    EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    EXPECT_EQ(Hex(pty.Settle(50)), Hex(abandoned)) << "queued behind a held drain";
    heldDrain = kNoDrainHeld;
    EXPECT_EQ(plugin.Write2Led("AB#D"), 1);
    EXPECT_EQ(Hex(pty.Settle(100).substr(abandoned.size())), "1B 01 01 41 42 0D 1B 01 01 44 0D");
    adapters = false;
}

// Settings given while the line is lost are the ones it comes back with, and the trace says why
// the line went and how it came back, in the system's words.
TEST(PluginRecovery, ALostLineComesBackWithTheSettingsGivenMeanwhileAndTheTraceSaysWhy) {
    Pty first;
    PortLink link(first);
    CapturedErrors errors;
    setenv("LEDSIGN_TRACE", "1", 1);
    Plugin plugin("cresto");
    unsetenv("LEDSIGN_TRACE");
    ASSERT_EQ(plugin.OpenOn(link.Name(), 9600), 1);
    first.CloseMaster();
    link.Remove();
    EXPECT_EQ(plugin.Write2Led("A"), -1);
    EXPECT_EQ(plugin.Write2Led("A"), -1);
    Pty second;
    link.PointAt(second);
    const PortSettings slower = MakePortSettings(link.Name(), 4800, 8, 2, "EVEN");
    plugin.InitLed(&slower);
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_EQ(plugin.Write2Led("A"), 1);
    const termios applied = second.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B4800));
    EXPECT_NE(applied.c_cflag & CSTOPB, 0u);
    plugin.CloseLed();
    EXPECT_EQ(plugin.OpenOn("nosuchtty"), -1);

    const std::vector<std::string> expected = {
        link.Name() + " lost: write: Input/output error (5)",
        link.Name() + " reopen failed: open: No such file or directory (2)",
        link.Name() + " back: reopened at 4800,8,EVEN,2",
        "nosuchtty open failed: open: No such file or directory (2)",
    };
    EXPECT_EQ(ReadFrameTrace(errors.Lines(), "CRESTO.DLL").events, expected);
}

// A line whose far side stopped reading (a pty that the test keeps full: a deadline's flush of the
// output empties a pty's buffer) runs into three deadlines in a row, which closes and reopens the
// handle; once the far side reads again the line works.
TEST(PluginRecovery, ThreeDeadlinesInARowReopenTheLine) {
    Pty pty;
    CapturedErrors errors;
    setenv("LEDSIGN_TRACE", "1", 1);
    Plugin plugin("cresto");
    unsetenv("LEDSIGN_TRACE");
    ASSERT_EQ(plugin.OpenOn(pty.PortName(), 9600), 1);
    for (int call = 0; call < 3; ++call) {
        pty.Stall();
        EXPECT_EQ(plugin.Write2Led("AB#D"), -1);
    }
    EXPECT_EQ(plugin.IsLedOpened(), 1);
    pty.Resume();
    EXPECT_EQ(plugin.Write2Led("AB#D"), 1);
    ExpectEndsWithTwoRowFrames(pty.Settle(200), *FindSignCase("cresto"));
    const std::vector<std::string> reopened = {
        pty.PortName() + " stalled: 3 writes in a row past their deadline, reopening",
        pty.PortName() + " back: reopened at 9600,8,NONE,1",
    };
    EXPECT_EQ(ReadFrameTrace(errors.Lines(), "CRESTO.DLL").events, reopened);
}

}  // namespace
}  // namespace ledsign::test
