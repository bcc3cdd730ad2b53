// The serial module's POSIX backend over pseudo-terminals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "LineSettingsCases.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "serial/PosixTermios.h"
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

TEST(BuildTermios, SetsFramingClearsSoftwareFlowControlAndKeepsHardwareFlowControl) {
    termios current{};
    current.c_iflag = IXON | IXOFF | IXANY | ICRNL;
    current.c_cflag = CRTSCTS | CS8;
    current.c_lflag = ICANON | ECHO;
    const tcflag_t sizes[] = {0, 0, 0, 0, 0, CS5, CS6, CS7, CS8};
    for (const LineSettingsCase& c : kLineSettingsCases) {
        SCOPED_TRACE(::testing::Message() << c.settings.baudRate << " " << c.settings.dataBits << " "
                                          << c.settings.stopBits << " " << int{c.settings.parity});
        termios built{};
        ASSERT_EQ(BuildTermios(current, c.settings, &built), !c.posixRefuses);
        if (c.posixRefuses) continue;
        EXPECT_EQ(built.c_cflag & CSIZE, sizes[c.byteSize]);
        const tcflag_t parity = c.settings.parity == kParityOdd    ? (PARENB | PARODD)
                                : c.settings.parity == kParityEven ? PARENB
                                                                   : 0;
        EXPECT_EQ(built.c_cflag & (PARENB | PARODD), parity);
        EXPECT_EQ((built.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(built.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
        EXPECT_EQ(built.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
        EXPECT_EQ(built.c_lflag & (ICANON | ECHO), 0u);
        speed_t speed = 0;
        ASSERT_TRUE(BaudConstant(c.settings.baudRate, &speed));
        EXPECT_EQ(cfgetospeed(&built), speed);
    }
    const LineSettings refused[] = {{0, 8, 1, 0}, {-9600, 8, 1, 0}};
    for (const LineSettings& settings : refused) {
        termios built{};
        EXPECT_FALSE(BuildTermios(current, settings, &built)) << settings.baudRate;
    }
}

TEST(WriteDeadlineMs, IsTwiceTheLineTimeAtTwelveBitsAByteAndTwoSeconds) {
    struct Case {
        uint32_t count;
        int32_t baud;
        uint32_t deadlineMs;
    };
    const Case cases[] = {
        {0, 9600, 2000}, {10, 9600, 2026}, {255, 2400, 4550}, {200, 115200, 2042},
        {8, 0, 5840},    {1, -5, 2480},    {1, 50, 2480},     {0xFFFFFFFFu, 1000000, 103081216},
    };
    for (const Case& c : cases) EXPECT_EQ(WriteDeadlineMs(c.count, c.baud), c.deadlineMs) << c.count << " " << c.baud;
}


TEST(SerialPort, OpensAPtyWithTheConfiguredSettingsAndWritesToIt) {
    HeldPty pty;
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
    EXPECT_EQ(OpenAt9600(port, pty.PortName()), 1);
}

// A pty keeps neither character size nor parity, and answers a repeated request for them
// differently from the first: every open must give what the first gave.
TEST(SerialPort, ReopeningAPtyGivesTheSameResultEveryTime) {
    HeldPty pty;
    for (const int32_t dataBits : {5, 6, 7, 8}) {
        for (const char* parity : {"NONE", "ODD", "EVEN"}) {
            for (int cycle = 0; cycle < 4; ++cycle) {
                SerialPort port;
                port.Configure(pty.PortName(), 9600, dataBits, 2, parity);
                EXPECT_EQ(port.Open(), 1) << dataBits << " " << parity << " open " << cycle + 1;
            }
        }
    }
    for (int cycle = 0; cycle < 2; ++cycle) {
        SerialPort port;
        port.Configure(pty.PortName(), 9600, 9, 1, "EVEN");
        EXPECT_EQ(port.Open(), -2) << "open " << cycle + 1;
    }
}

// An XOFF from the sign side, before the port was opened (it stopped the line for whoever held
// it then) or while it is open, never stops the output.
TEST(SerialPort, AnXoffFromTheSignSideDoesNotStopTheOutput) {
    HeldPty pty;
    pty.Send("\x13");
    SerialPort port;
    ASSERT_EQ(OpenAt9600(port, pty.PortName()), 1);
    EXPECT_EQ(port.Write("AB", 2), 1);
    EXPECT_EQ(pty.WaitForBytes(2), "AB");
    pty.Send("\x13");
    usleep(20000);
    EXPECT_EQ(port.Write("CD", 2), 1);
    EXPECT_EQ(pty.WaitForBytes(4), "ABCD");
    port.Close();
    pty.Send("\x13");
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Write("EF", 2), 1);
    EXPECT_EQ(pty.WaitForBytes(6), "ABCDEF");
}

TEST(SerialPort, OpenBeforeConfigureFails) {
    SerialPort port;
    EXPECT_EQ(port.Open(), -1);
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(SerialPort, HoldsTheDeviceExclusively) {
    Pty pty;
    SerialPort first;
    ASSERT_EQ(OpenAt9600(first, pty.PortName()), 1);
    SerialPort second;
    EXPECT_EQ(OpenAt9600(second, pty.PortName()), -1);
    const ChildRun other = RunInChild([&] {
        SerialPort port;
        return OpenAt9600(port, pty.PortName()) == -1 ? 0 : 1;
    });
    EXPECT_EQ(other.status, 0) << "another process opened it";
    first.Close();
    EXPECT_EQ(second.Open(), 1);
}

TEST(SerialPort, OpenWhileOpenKeepsThePortAndConfigureWaitsForTheNextOpen) {
    HeldPty pty;
    SerialPort port;
    ASSERT_EQ(OpenAt9600(port, pty.PortName()), 1);
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
    ASSERT_EQ(OpenAt9600(port, pty.PortName()), 1);
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
        ASSERT_EQ(OpenAt9600(port, pty.PortName()), 1);
    }
    EXPECT_TRUE(pty.WaitForHangup());
}

TEST(SerialPort, WriteFailsWhenTheSignSideVanishes) {
    Pty pty;
    SerialPort port;
    ASSERT_EQ(OpenAt9600(port, pty.PortName()), 1);
    pty.CloseMaster();
    EXPECT_EQ(port.Write("ABC", 3), -1);
    // Released at once, and still open for the host: the next call on the sign opens it again.
    EXPECT_TRUE(port.LineLost());
    EXPECT_FALSE(PlatformHolds(port.Platform()));
    EXPECT_EQ(port.IsOpen(), 1);
    port.Close();
    EXPECT_FALSE(port.LineLost());
}

}  // namespace
}  // namespace ledsign::test
