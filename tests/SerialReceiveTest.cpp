// The serial module's receive side over pseudo-terminals: the test writes the device side
// through the master and watches the monitor through the POSIX notify hook.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
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

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// The device end of a pty; the port under test opens the slave by name.
class Device {
public:
    Device() {
        std::string slavePath;
        master_ = OpenPtyMaster(slavePath);
        if (master_ < 0) throw std::runtime_error("no pty");
        portName_ = slavePath.substr(5);  // "pts/N"
    }
    ~Device() { close(master_); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& PortName() const { return portName_; }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the master can read until the line has been quiet for `quietMs`.
    std::string Collect(int quietMs = 100) const {
        std::string bytes;
        char chunk[4096];
        pollfd request{master_, POLLIN, 0};
        while (poll(&request, 1, quietMs) > 0) {
            const ssize_t got = read(master_, chunk, sizeof chunk);
            if (got <= 0) break;
            bytes.append(chunk, static_cast<size_t>(got));
        }
        return bytes;
    }
    static int Waiting(int fd) {
        int count = -1;
        ioctl(fd, FIONREAD, &count);
        return count;
    }

private:
    int master_ = -1;
    std::string portName_;
};

// Opens a port on the device's line.
void OpenOn(SerialPort& port, const Device& device) {
    port.Configure(device.PortName(), 9600, 8, 1, "NONE");
    ASSERT_EQ(port.Open(), 1);
}

// Waits until the port's input queue holds `count` bytes (the pty hands bytes over shortly).
bool WaitForWaiting(const SerialPort& port, int count, int timeoutMs = 2000) {
    const auto start = Clock::now();
    while (Device::Waiting(port.Platform().fd) != count) {
        if (MillisecondsSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// Bytes in the port's output queue (a pty hands written bytes over at once).
int OutputQueued(const SerialPort& port) {
    int count = -1;
    ioctl(port.Platform().fd, TIOCOUTQ, &count);
    return count;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 2000) {
    const auto start = Clock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

std::string Pattern(size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) bytes += static_cast<char>('A' + i % 26);
    return bytes;
}

TEST(SerialRead, FollowsTheLengthRuleAndPurgesBothQueues) {
    for (const ReadRuleCase& c : kReadRuleCases) {
        SCOPED_TRACE(c.name);
        Device device;
        SerialPort port;
        OpenOn(port, device);
        port.SetReadLength(c.readLength);
        const std::string sent = Pattern(c.waiting);
        device.Send(sent);
        ASSERT_TRUE(WaitForWaiting(port, c.waiting));

        int32_t asked = -1;
        const uint8_t* got = port.Read(&asked);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(got != nullptr, c.complete);
        if (got != nullptr) {
            const std::string expected =
                sent.substr(0, static_cast<size_t>(c.asked)) + std::string(kReadBufferSize - c.asked, '\0');
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), kReadBufferSize), expected);
            EXPECT_EQ(port.Platform().inQueue, 0u);
        }
        EXPECT_EQ(Device::Waiting(port.Platform().fd), 0);
        EXPECT_EQ(OutputQueued(port), 0);
    }
}

TEST(SerialRead, OnAClosedPortAsksForTheAutomaticLengthAndReturnsNull) {
    SerialPort port;
    int32_t asked = -1;
    EXPECT_EQ(port.Read(&asked), nullptr);
    EXPECT_EQ(asked, 50);
    EXPECT_EQ(port.Read(nullptr), nullptr);  // no out-length: nothing stored
    port.Purge();
}

TEST(SerialRead, BufferIsZeroedBeforeEveryRead) {
    Device device;
    SerialPort port;
    OpenOn(port, device);
    device.Send("LONGER TEXT");
    ASSERT_TRUE(WaitForWaiting(port, 11));
    ASSERT_NE(port.Read(nullptr), nullptr);
    device.Send("ab");
    ASSERT_TRUE(WaitForWaiting(port, 2));
    const uint8_t* got = port.Read(nullptr);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), 4), std::string("ab\0\0", 4));
}

TEST(SerialPurge, EmptiesBothQueues) {
    Device device;
    SerialPort port;
    OpenOn(port, device);
    device.Send("IN");
    ASSERT_TRUE(WaitForWaiting(port, 2));
    port.Purge();
    EXPECT_EQ(Device::Waiting(port.Platform().fd), 0);
    EXPECT_EQ(OutputQueued(port), 0);
}

// Opening discards stale input, but a device that is slow to take in what the last holder wrote
// still gets all of it: a pty hands its output over later, so purging the output side at open
// would throw away bytes on their way to the far side.
TEST(SerialOpen, DropsStaleInputButKeepsWhatAnEarlierHolderWroteForTheFarSide) {
    Device device;
    const int heldSlave = open(("/dev/" + device.PortName()).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(heldSlave, 0);
    // More than the far side's input buffer holds, so the rest waits in the pty until it is read.
    const std::string sent = Pattern(6000);
    {
        SerialPort writer;
        OpenOn(writer, device);
        ASSERT_EQ(writer.Write(sent.data(), static_cast<uint32_t>(sent.size())), 1);
    }
    device.Send("STALE");
    ASSERT_TRUE(WaitFor([&] { return Device::Waiting(heldSlave) == 5; }));
    {
        SerialPort next;
        OpenOn(next, device);
        EXPECT_EQ(Device::Waiting(next.Platform().fd), 0);  // what waited to be read is stale
    }
    EXPECT_EQ(device.Collect().size(), sent.size());
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
    Device device;
    SerialPort port;
    EXPECT_EQ(port.GetModuleVersion(), version);
    OpenOn(port, device);
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

TEST(SerialMonitor, NotifiesAboutNotifyDelayAfterBytesArriveAndFallsQuietAfterARead) {
    Notifications notifications;
    Device device;
    SerialPort port;
    OpenOn(port, device);
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

TEST(SerialMonitor, AQuietLineBringsNoNotification) {
    Notifications notifications;
    Device device;
    SerialPort port;
    OpenOn(port, device);
    port.StartMonitor(10, 10);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(notifications.Count(), 0u);
    port.StopMonitor();
}

TEST(SerialMonitor, ReadsTheIntervalsOnEveryPass) {
    Notifications notifications;
    Device device;
    SerialPort port;
    OpenOn(port, device);
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

TEST(SerialMonitor, WithoutAHookNotificationsAreSkipped) {
    Device device;
    SerialPort port;
    OpenOn(port, device);
    port.StartMonitor(1, 1);
    device.Send("data");
    std::this_thread::sleep_for(milliseconds(50));
    port.StopMonitor();
    EXPECT_FALSE(port.MonitorHeld());
}

TEST(SerialMonitor, StopsPromptlyWhateverItIsWaitingFor) {
    struct Case {
        const char* name;
        bool bytesWaiting;  // with bytes waiting the thread sits in the notify delay
    };
    const Case cases[] = {{"in the poll pause of a quiet line", false}, {"in the notify delay", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Notifications notifications;
        Device device;
        SerialPort port;
        OpenOn(port, device);
        const size_t monitorsBefore = MonitorThreads();
        port.StartMonitor(10000, 10000);
        EXPECT_EQ(MonitorThreads(), monitorsBefore + 1);
        if (c.bytesWaiting) device.Send("data");
        std::this_thread::sleep_for(milliseconds(50));
        const auto start = Clock::now();
        port.StopMonitor();
        const int64_t took = MillisecondsSince(start);
        EXPECT_LT(took, 250) << "stop took " << took << " ms";
        RecordProperty(c.bytesWaiting ? "stopInNotifyDelayMs" : "stopInPollPauseMs", static_cast<int>(took));
        EXPECT_FALSE(port.MonitorHeld());
        EXPECT_EQ(MonitorThreads(), monitorsBefore);
        EXPECT_EQ(notifications.Count(), 0u);
        // A second stop does nothing.
        port.StopMonitor();
        EXPECT_FALSE(port.MonitorHeld());
        // The port stays open and usable.
        EXPECT_EQ(port.IsOpen(), 1);
        EXPECT_EQ(port.Write("A", 1), 1);
    }
}

TEST(SerialMonitor, CloseAndDestructionEndARunningMonitor) {
    Notifications notifications;
    Device device;
    const size_t monitorsBefore = MonitorThreads();
    {
        SerialPort port;
        OpenOn(port, device);
        port.StartMonitor(10000, 10000);
        device.Send("data");
        std::this_thread::sleep_for(milliseconds(30));
        const auto start = Clock::now();
        port.Close();
        EXPECT_LT(MillisecondsSince(start), 250);
        EXPECT_FALSE(port.MonitorHeld());
        EXPECT_EQ(port.IsOpen(), 0);
        EXPECT_EQ(MonitorThreads(), monitorsBefore);
    }
    {
        SerialPort port;
        OpenOn(port, device);
        port.StartMonitor(10000, 10000);
        std::this_thread::sleep_for(milliseconds(30));
        EXPECT_EQ(MonitorThreads(), monitorsBefore + 1);
    }
    EXPECT_EQ(MonitorThreads(), monitorsBefore);
    EXPECT_EQ(notifications.Count(), 0u);
}

TEST(SerialMonitor, StartWhileRunningDoesNothing) {
    Device device;
    SerialPort port;
    OpenOn(port, device);
    const size_t monitorsBefore = MonitorThreads();
    port.StartMonitor(1000, 1000);
    port.StartMonitor(20, 20);
    EXPECT_EQ(MonitorThreads(), monitorsBefore + 1);
    EXPECT_EQ(port.NotifyDelay(), 1000u);
    EXPECT_EQ(port.PollInterval(), 1000u);
    port.StopMonitor();
    EXPECT_EQ(MonitorThreads(), monitorsBefore);
}

TEST(SerialMonitor, WithNoPortHeldTheThreadEndsAtOnceWithExitCodeZero) {
    Device device;
    struct Case {
        const char* name;
        std::string portName;  // empty: never configured
    };
    for (const Case& c : {Case{"never opened", ""}, Case{"open failed", "nosuchtty9"}}) {
        SCOPED_TRACE(c.name);
        SerialPort port;
        if (!c.portName.empty()) {
            port.Configure(c.portName, 9600, 8, 1, "NONE");
            ASSERT_EQ(port.Open(), -1);
        }
        port.StartMonitor(10, 10);
        uint32_t exitCode = 99;
        ASSERT_TRUE(WaitFor([&] { return port.MonitorEnded(&exitCode); }, 1000));
        EXPECT_EQ(exitCode, 0u);
        EXPECT_TRUE(port.MonitorHeld());  // ended by itself: held until collected
        // A new start collects the ended thread and runs again.
        port.StartMonitor(10, 10);
        ASSERT_TRUE(WaitFor([&] { return port.MonitorEnded(&exitCode); }, 1000));
        // Opening collects it too, and the port then works as usual.
        port.Configure(device.PortName(), 9600, 8, 1, "NONE");
        ASSERT_EQ(port.Open(), 1);
        EXPECT_FALSE(port.MonitorHeld());
        port.Close();
    }
}

TEST(SerialMonitor, AThreadThatCannotBeStartedIsReportedToTheUser) {
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
