// The serial module's receive side over pseudo-terminals: the test writes the device side
// through the master and watches the monitor through the POSIX notify hook.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LineSettingsCases.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "serial/HostServices.h"
#include "serial/SerialPort.h"
#include "tools/common/TextCodec.h"

namespace ledsign::test {
namespace {

using std::chrono::milliseconds;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 2000) {
    const auto start = Clock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// The bytes in a descriptor's input queue, or with TIOCOUTQ its output queue (a pty hands written
// bytes over at once).
int Waiting(int fd, unsigned long queue = FIONREAD) {
    int count = -1;
    ioctl(fd, queue, &count);
    return count;
}

// Waits until the port's input queue holds `count` bytes (the pty hands bytes over shortly).
bool WaitForWaiting(const SerialPort& port, size_t count) {
    return WaitFor([&] { return Waiting(port.Platform().fd) == static_cast<int>(count); });
}

// A pty's master as the device, and a port opened on its slave at 9600 8N1.
struct PortOnPty {
    Pty device;
    SerialPort port;
    int32_t opened = OpenAt9600(port, device.PortName());

    // Sends bytes from the device; true once they all wait in the port's input queue.
    bool Deliver(const std::string& bytes) {
        device.Send(bytes);
        return WaitForWaiting(port, bytes.size());
    }
};

// The suites whose cases start from a port open on a device's line.
class OpenLine : public ::testing::Test, protected PortOnPty {
protected:
    void SetUp() override { ASSERT_EQ(opened, 1); }
};
class SerialRead : public OpenLine {};
class SerialPurge : public OpenLine {};
class SerialMonitor : public OpenLine {};

TEST_F(SerialRead, FollowsTheLengthRuleAndPurgesBothQueues) {
    for (const ReadRuleCase& c : kReadRuleCases) {
        SCOPED_TRACE(c.name);
        PortOnPty line;  // a line of its own for each case
        ASSERT_EQ(line.opened, 1);
        line.port.SetReadLength(c.readLength);
        const std::string sent = Pattern(c.waiting);
        ASSERT_TRUE(line.Deliver(sent));

        int32_t asked = -1;
        const uint8_t* got = line.port.Read(&asked);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(got != nullptr, c.complete);
        if (got != nullptr) {
            const std::string expected =
                sent.substr(0, static_cast<size_t>(c.asked)) + std::string(100 - c.asked, '\0');
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), 100), expected);
            EXPECT_EQ(line.port.Platform().inQueue, 0u);
        }
        EXPECT_EQ(Waiting(line.port.Platform().fd), 0);
        EXPECT_EQ(Waiting(line.port.Platform().fd, TIOCOUTQ), 0);
    }
}

TEST_F(SerialRead, OnAClosedPortAsksForTheAutomaticLengthAndReturnsNull) {
    SerialPort closed;
    int32_t asked = -1;
    EXPECT_EQ(closed.Read(&asked), nullptr);
    EXPECT_EQ(asked, 50);
    EXPECT_EQ(closed.Read(nullptr), nullptr);  // no out-length: nothing stored
    closed.Purge();
}

TEST_F(SerialRead, BufferIsZeroedBeforeEveryRead) {
    ASSERT_TRUE(Deliver("LONGER TEXT"));
    ASSERT_NE(port.Read(nullptr), nullptr);
    ASSERT_TRUE(Deliver("ab"));
    const uint8_t* got = port.Read(nullptr);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), 4), std::string("ab\0\0", 4));
}

TEST_F(SerialPurge, EmptiesBothQueues) {
    ASSERT_TRUE(Deliver("IN"));
    port.Purge();
    EXPECT_EQ(Waiting(port.Platform().fd), 0);
    EXPECT_EQ(Waiting(port.Platform().fd, TIOCOUTQ), 0);
}

// Opening discards stale input, but a device that is slow to take in what the last holder wrote
// still gets all of it: a pty hands its output over later, so purging the output side at open
// would throw away bytes on their way to the far side.
TEST(SerialOpen, DropsStaleInputButKeepsWhatAnEarlierHolderWroteForTheFarSide) {
    Pty device(false);
    const int heldSlave = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(heldSlave, 0);
    // More than the far side's input buffer holds, so the rest waits in the pty until it is read.
    const std::string sent = Pattern(6000);
    {
        SerialPort writer;
        ASSERT_EQ(OpenAt9600(writer, device.PortName()), 1);
        ASSERT_EQ(writer.Write(sent.data(), static_cast<uint32_t>(sent.size())), 1);
    }
    device.Send("STALE");
    ASSERT_TRUE(WaitFor([&] { return Waiting(heldSlave) == 5; }));
    {
        SerialPort next;
        ASSERT_EQ(OpenAt9600(next, device.PortName()), 1);
        EXPECT_EQ(Waiting(next.Platform().fd), 0);  // what waited to be read is stale
    }
    device.Resume();
    EXPECT_EQ(device.Settle(100).size(), sent.size());
    close(heldSlave);
}

std::string GbkAsUtf8(const std::string& gbk) {
    std::string utf8;
    return tools::GbkToUtf8(gbk, utf8) ? utf8 : "<not GBK>";
}

TEST(ModuleTexts, AreGbkAndMatchTheirUtf8Forms) {
    const std::string version(SerialPort::GetModuleVersion());
    EXPECT_EQ(GbkAsUtf8(version), "当前串口通讯模块版本：1.0 2004.4 ZQ");
    // The same text whatever the port's state.
    Pty device;
    SerialPort port;
    EXPECT_EQ(port.GetModuleVersion(), version);
    ASSERT_EQ(OpenAt9600(port, device.PortName()), 1);
    EXPECT_EQ(port.GetModuleVersion(), version);

    for (const HostText& text : {kThreadCreationFailedText, kMonitorEventFailedText}) {
        EXPECT_EQ(GbkAsUtf8(text.gbk), text.utf8);
    }
    EXPECT_STREQ(kThreadCreationFailedText.utf8, "串口线程建立失败！");
    EXPECT_STREQ(kMonitorEventFailedText.utf8, "辅助线程事件建立错误！");
}

TEST(HostMessage, WritesTheUtf8TextToStandardError) {
    testing::internal::CaptureStderr();
    ShowHostMessage(kThreadCreationFailedText);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "串口线程建立失败！\n");
}

// Records the notifications the monitor delivers through the hook.
class Notifications {
public:
    Notifications() { SetMonitorNotifyHook(&Notifications::Hook, this); }
    ~Notifications() { SetMonitorNotifyHook(nullptr, nullptr); }

    size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_.size();
    }
    Clock::time_point First() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_.front();
    }
    bool WaitForCount(size_t count, int timeoutMs = 2000) const {
        return WaitFor([&] { return Count() >= count; }, timeoutMs);
    }

private:
    static void Hook(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) {
        auto& self = *static_cast<Notifications*>(context);
        std::lock_guard<std::mutex> lock(self.mutex_);
        EXPECT_EQ(message, 0x432u);
        EXPECT_EQ(wParam, 0u);
        EXPECT_EQ(lParam, 0);
        self.times_.push_back(Clock::now());
    }

    mutable std::mutex mutex_;
    std::vector<Clock::time_point> times_;
};

// The monitor threads of this process, told apart by their name.
size_t MonitorThreads() {
    size_t count = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        count += name == kMonitorThreadName;
    }
    closedir(tasks);
    return count;
}

TEST_F(SerialMonitor, NotifiesAboutNotifyDelayAfterBytesArriveAndFallsQuietAfterARead) {
    Notifications notifications;
    port.StartMonitor(150, 10);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(notifications.Count(), 0u);

    const auto sent = Clock::now();
    device.Send("hello");
    ASSERT_TRUE(notifications.WaitForCount(1));
    const auto after = std::chrono::duration_cast<milliseconds>(notifications.First() - sent).count();
    EXPECT_GE(after, 150);
    EXPECT_LT(after, 150 + 10 + 300);  // slack for a loaded machine

    // Reading (which purges) leaves nothing waiting: no more notifications.
    ASSERT_TRUE(WaitForWaiting(port, 5));
    ASSERT_NE(port.Read(nullptr), nullptr);
    std::this_thread::sleep_for(milliseconds(200));  // a notification under way lands
    const size_t settled = notifications.Count();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(notifications.Count(), settled);
    port.StopMonitor();
}

TEST_F(SerialMonitor, AQuietLineBringsNoNotification) {
    Notifications notifications;
    port.StartMonitor(10, 10);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(notifications.Count(), 0u);
    port.StopMonitor();
}

TEST_F(SerialMonitor, ReadsTheIntervalsOnEveryPass) {
    Notifications notifications;
    port.StartMonitor(5000, 10);
    EXPECT_EQ(port.NotifyDelay(), 5000u);
    EXPECT_EQ(port.PollInterval(), 10u);
    port.SetNotifyDelay(20);
    std::this_thread::sleep_for(milliseconds(30));
    const auto sent = Clock::now();
    device.Send("x");
    ASSERT_TRUE(notifications.WaitForCount(1, 1000));
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(notifications.First() - sent).count(), 500);
    port.StopMonitor();
}

TEST_F(SerialMonitor, WithoutAHookNotificationsAreSkipped) {
    port.StartMonitor(1, 1);
    device.Send("data");
    std::this_thread::sleep_for(milliseconds(50));
    port.StopMonitor();
    EXPECT_FALSE(port.MonitorHeld());
}

TEST_F(SerialMonitor, StopsPromptlyWhateverItIsWaitingFor) {
    // With bytes waiting the thread sits in the notify delay.
    for (const bool bytesWaiting : {false, true}) {
        SCOPED_TRACE(bytesWaiting ? "in the notify delay" : "in the poll pause of a quiet line");
        Notifications notifications;
        PortOnPty line;  // a line of its own for each case
        ASSERT_EQ(line.opened, 1);
        const size_t monitorsBefore = MonitorThreads();
        line.port.StartMonitor(10000, 10000);
        EXPECT_EQ(MonitorThreads(), monitorsBefore + 1);
        if (bytesWaiting) line.device.Send("data");
        std::this_thread::sleep_for(milliseconds(50));
        const auto start = Clock::now();
        line.port.StopMonitor();
        const int64_t took = MillisecondsSince(start);
        EXPECT_LT(took, 250) << "stop took " << took << " ms";
        RecordProperty(bytesWaiting ? "stopInNotifyDelayMs" : "stopInPollPauseMs", static_cast<int>(took));
        EXPECT_FALSE(line.port.MonitorHeld());
        EXPECT_EQ(MonitorThreads(), monitorsBefore);
        EXPECT_EQ(notifications.Count(), 0u);
        // A second stop does nothing.
        line.port.StopMonitor();
        EXPECT_FALSE(line.port.MonitorHeld());
        // The port stays open and usable.
        EXPECT_EQ(line.port.IsOpen(), 1);
        EXPECT_EQ(line.port.Write("A", 1), 1);
    }
}

TEST_F(SerialMonitor, CloseAndDestructionEndARunningMonitor) {
    Notifications notifications;
    const size_t monitorsBefore = MonitorThreads();
    port.StartMonitor(10000, 10000);
    device.Send("data");
    std::this_thread::sleep_for(milliseconds(30));
    const auto start = Clock::now();
    port.Close();
    EXPECT_LT(MillisecondsSince(start), 250);
    EXPECT_FALSE(port.MonitorHeld());
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(MonitorThreads(), monitorsBefore);
    {
        SerialPort destroyed;
        ASSERT_EQ(OpenAt9600(destroyed, device.PortName()), 1);
        destroyed.StartMonitor(10000, 10000);
        std::this_thread::sleep_for(milliseconds(30));
        EXPECT_EQ(MonitorThreads(), monitorsBefore + 1);
    }
    EXPECT_EQ(MonitorThreads(), monitorsBefore);
    EXPECT_EQ(notifications.Count(), 0u);
}

TEST_F(SerialMonitor, StartWhileRunningDoesNothing) {
    const size_t monitorsBefore = MonitorThreads();
    port.StartMonitor(1000, 1000);
    port.StartMonitor(20, 20);
    EXPECT_EQ(MonitorThreads(), monitorsBefore + 1);
    EXPECT_EQ(port.NotifyDelay(), 1000u);
    EXPECT_EQ(port.PollInterval(), 1000u);
    port.StopMonitor();
    EXPECT_EQ(MonitorThreads(), monitorsBefore);
}

TEST_F(SerialMonitor, WithNoPortHeldTheThreadEndsAtOnceWithExitCodeZero) {
    port.Close();  // each case's port opens the line in the end
    // No name: never configured.
    for (const std::string portName : {"", "nosuchtty9"}) {
        SCOPED_TRACE(portName.empty() ? "never opened" : "open failed");
        SerialPort idle;
        if (!portName.empty()) ASSERT_EQ(OpenAt9600(idle, portName), -1);
        idle.StartMonitor(10, 10);
        uint32_t exitCode = 99;
        ASSERT_TRUE(WaitFor([&] { return idle.MonitorEnded(&exitCode); }, 1000));
        EXPECT_EQ(exitCode, 0u);
        EXPECT_TRUE(idle.MonitorHeld());  // ended by itself: held until collected
        // A new start collects the ended thread and runs again.
        idle.StartMonitor(10, 10);
        ASSERT_TRUE(WaitFor([&] { return idle.MonitorEnded(&exitCode); }, 1000));
        // Opening collects it too, and the port then works as usual.
        ASSERT_EQ(OpenAt9600(idle, device.PortName()), 1);
        EXPECT_FALSE(idle.MonitorHeld());
        idle.Close();
    }
}

TEST_F(SerialMonitor, AThreadThatCannotBeStartedIsReportedToTheUser) {
    // In a child whose descriptor table is full, the monitor's stop signal cannot be made.
    const ChildRun run = RunInChild([] {
        const rlimit small{256, 256};
        setrlimit(RLIMIT_NOFILE, &small);
        while (dup(0) >= 0) {
        }
        SerialPort port;
        port.StartMonitor(10, 10);
        return port.MonitorHeld() ? 1 : 0;
    });
    EXPECT_EQ(run.status, 0) << "a monitor is held";
    EXPECT_NE(run.errors.find("串口线程建立失败！\n"), std::string::npos) << run.errors;
}

}  // namespace
}  // namespace ledsign::test
