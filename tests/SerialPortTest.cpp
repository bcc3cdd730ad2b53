// The serial module's POSIX backend over pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "Pty.h"
#include "serial/PosixLine.h"
#include "serial/SerialPort.h"

namespace ledsign::test {
namespace {

TEST(ParityFromWord, AcceptsOnlyTheListedWordsExactly) {
    const std::pair<const char*, uint8_t> cases[] = {
        {"NONE", kParityNone}, {"none", kParityNone}, {"None", kParityNone}, {"EVEN", kParityEven},
        {"even", kParityEven}, {"ODD", kParityOdd},   {"odd", kParityOdd},   {"Even", kParityNone},
        {"Odd", kParityNone},  {"MARK", kParityNone}, {"", kParityNone},     {"ODD ", kParityNone},
    };
    for (const auto& [word, code] : cases) EXPECT_EQ(ParityFromWord(word), code) << word;
}

TEST(ResolveDevicePath, MapsPortNamesToDevices) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},    {"COM12", "/dev/ttyS11"},     {"com2", "/dev/ttyS1"},
        {"ttyUSB0", "/dev/ttyUSB0"}, {"pts/3", "/dev/pts/3"},    {"/dev/ttyS4", "/dev/ttyS4"},
        {"COM0", "/dev/COM0"},     {"COMX", "/dev/COMX"},
    };
    for (const auto& [name, path] : cases) {
        char resolved[64];
        ASSERT_TRUE(ResolveDevicePath(name, resolved, sizeof resolved)) << name;
        EXPECT_STREQ(resolved, path);
    }
    char resolved[64];
    EXPECT_FALSE(ResolveDevicePath("", resolved, sizeof resolved));
}

TEST(BuildTermios, SetsFramingFromTheSettingsAndKeepsFlowControl) {
    termios current{};
    current.c_iflag = IXON | IXOFF | ICRNL;
    current.c_cflag = CRTSCTS | CS8;
    current.c_lflag = ICANON | ECHO;
    struct Case {
        LineSettings settings;
        tcflag_t size;
        tcflag_t parity;
        bool twoStopBits;
    };
    const Case cases[] = {
        {{9600, 8, 1, kParityNone}, CS8, 0, false},
        {{2400, 7, 2, kParityEven}, CS7, PARENB, true},
        {{4800, 5, 0, kParityOdd}, CS5, PARENB | PARODD, false},
        {{4800, 6, 3, kParityNone}, CS6, 0, false},
        {{4800, 264, -1, kParityNone}, CS8, 0, false},  // only the low byte of the data bits counts
    };
    for (const Case& c : cases) {
        termios built{};
        ASSERT_TRUE(BuildTermios(current, c.settings, &built));
        EXPECT_EQ(built.c_cflag & CSIZE, c.size);
        EXPECT_EQ(built.c_cflag & (PARENB | PARODD), c.parity);
        EXPECT_EQ((built.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(built.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
        EXPECT_EQ(built.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
        EXPECT_EQ(built.c_iflag & ICRNL, 0u);
        EXPECT_EQ(built.c_lflag & (ICANON | ECHO), 0u);
        speed_t speed = 0;
        ASSERT_TRUE(BaudConstant(c.settings.baudRate, &speed));
        EXPECT_EQ(cfgetospeed(&built), speed);
    }
    const LineSettings refused[] = {{9600, 4, 1, 0}, {9600, 9, 1, 0}, {0, 8, 1, 0}, {-9600, 8, 1, 0}, {12345, 8, 1, 0}};
    for (const LineSettings& settings : refused) {
        termios built{};
        EXPECT_FALSE(BuildTermios(current, settings, &built)) << settings.baudRate << " " << settings.dataBits;
    }
}

TEST(SerialPort, OpensAPtyWithTheConfiguredSettingsAndWritesToIt) {
    Pty pty;
    pty.HoldSlave();
    SerialPort port;
    port.Configure(pty.PortName(), 9600, 8, 2, "NONE");
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.IsOpen(), 1);
    const termios applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B9600));
    EXPECT_NE(applied.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(applied.c_oflag & OPOST, 0u);
    EXPECT_EQ(applied.c_lflag & ICANON, 0u);
    EXPECT_EQ(port.Write("\x01\n\r\xFF", 4), 1);
    EXPECT_EQ(port.Write("", 0), 1);
    EXPECT_EQ(pty.WaitForBytes(4), std::string("\x01\n\r\xFF", 4));
}

TEST(SerialPort, OpenFailuresReportTheirResultAndLeaveThePortClosed) {
    Pty pty;
    struct Case {
        const char* name;
        std::string portName;
        int32_t baud;
        int32_t dataBits;
        int32_t result;
        bool failedHandle;
    };
    const Case cases[] = {
        {"missing device", "nosuchtty9", 9600, 8, -1, true},
        {"empty name", "", 9600, 8, -1, true},
        {"name too long is refused, not cut", "pts/123456", 9600, 8, -1, true},
        {"baud the line refuses", pty.PortName(), 12345, 8, -2, false},
        {"baud zero", pty.PortName(), 0, 8, -2, false},
        {"nine data bits", pty.PortName(), 9600, 9, -2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SerialPort port;
        port.Configure(c.portName, c.baud, c.dataBits, 1, "NONE");
        EXPECT_EQ(port.Open(), c.result);
        EXPECT_EQ(port.IsOpen(), 0);
        EXPECT_EQ(PlatformOpenFailed(port.Platform()), c.failedHandle);
        EXPECT_FALSE(PlatformHolds(port.Platform()));
        EXPECT_EQ(port.Write("A", 1), -1);
    }
    // A refused open released the device: it opens again with good settings.
    SerialPort port;
    port.Configure(pty.PortName(), 9600, 8, 1, "NONE");
    EXPECT_EQ(port.Open(), 1);
}

TEST(SerialPort, OpenBeforeConfigureFails) {
    SerialPort port;
    EXPECT_EQ(port.Open(), -1);
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(SerialPort, HoldsTheDeviceExclusively) {
    Pty pty;
    SerialPort first;
    first.Configure(pty.PortName(), 9600, 8, 1, "NONE");
    ASSERT_EQ(first.Open(), 1);
    SerialPort second;
    second.Configure(pty.PortName(), 9600, 8, 1, "NONE");
    EXPECT_EQ(second.Open(), -1);

    // Another process fails too.
    const pid_t child = fork();
    if (child == 0) {
        SerialPort other;
        other.Configure(pty.PortName(), 9600, 8, 1, "NONE");
        _exit(other.Open() == -1 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    first.Close();
    EXPECT_EQ(second.Open(), 1);
}

TEST(SerialPort, OpenWhileOpenKeepsThePortAndConfigureWaitsForTheNextOpen) {
    Pty pty;
    pty.HoldSlave();
    SerialPort port;
    port.Configure(pty.PortName(), 9600, 8, 1, "NONE");
    ASSERT_EQ(port.Open(), 1);
    const int descriptor = port.Platform().fd;
    port.Configure(pty.PortName(), 4800, 8, 1, "NONE");
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Platform().fd, descriptor);
    termios applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B9600));
    port.Close();
    ASSERT_EQ(port.Open(), 1);
    applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B4800));
}

TEST(SerialPort, CloseReleasesTheDeviceAndIsSafeTwice) {
    Pty pty;
    SerialPort port;
    port.Configure(pty.PortName(), 9600, 8, 1, "NONE");
    ASSERT_EQ(port.Open(), 1);
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_TRUE(pty.WaitForHangup());
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.Write("A", 1), -1);
}

TEST(SerialPort, DestructionClosesAHeldPort) {
    Pty pty;
    {
        SerialPort port;
        port.Configure(pty.PortName(), 9600, 8, 1, "NONE");
        ASSERT_EQ(port.Open(), 1);
    }
    EXPECT_TRUE(pty.WaitForHangup());
}

TEST(SerialPort, WriteFailsWhenTheSignSideVanishes) {
    Pty pty;
    SerialPort port;
    port.Configure(pty.PortName(), 9600, 8, 1, "NONE");
    ASSERT_EQ(port.Open(), 1);
    pty.CloseMaster();
    EXPECT_EQ(port.Write("ABC", 3), -1);
}

}  // namespace
}  // namespace ledsign::test
