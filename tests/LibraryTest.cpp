// The ledsign library, linked as a host links it: several signs at once over ptys, each with its
// own text, settings and failures; calls on different signs from different threads.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DrainStandIn.h"
#include "Pty.h"
#include "RecordingLine.h"
#include "SignCases.h"
#include "include/ledsign_lib.h"

namespace ledsign::test {
namespace {

using std::chrono::milliseconds;

// An open sign that is closed at the end of the scope.
struct LibrarySign {
    LibrarySign(const char* model, const std::string& port, const char* settings = "4800,8,NONE,2")
        : result(ledsign_open(model, port.c_str(), settings, &sign)),
          reason(ledsign_last_error(nullptr)) {}
    ~LibrarySign() { ledsign_close(sign); }
    LibrarySign(const LibrarySign&) = delete;
    LibrarySign& operator=(const LibrarySign&) = delete;

    ledsign_sign* sign = nullptr;
    int result;
    std::string reason;
};

// A sign that opens, or the test ends there with the reason.
struct OpenSign : LibrarySign {
    OpenSign(const char* model, const std::string& port, const char* settings = "4800,8,NONE,2")
        : LibrarySign(model, port, settings) {
        if (result != 1) throw std::runtime_error("ledsign_open gave " + std::to_string(result) + ": " + reason);
    }
};

// A sign open on a pty of its own, whose slave the test holds, by its path or by its name under /dev.
struct PtySign : HeldPty, OpenSign {
    explicit PtySign(const char* model, const char* settings = "4800,8,NONE,2", bool byName = false)
        : OpenSign(model, byName ? PortName() : SlavePath(), settings) {}
};

// A trace callback that keeps each line in a std::vector<std::string>.
void KeepLine(void* lines, const char* line) { static_cast<std::vector<std::string>*>(lines)->push_back(line); }

const char kZhongwenOkUtf8[] = "\xE4\xB8\xAD\xE6\x96\x87#OK";  // 中文#OK

class EveryModel : public ::testing::TestWithParam<SignCase> {};

// Each model's GBK and UTF-8 text and its clear, byte for byte as its plug-in sends them.
TEST_P(EveryModel, SendsItsPlugInsBytes) {
    const SignCase& c = GetParam();
    PtySign open(c.sign);
    EXPECT_EQ(ledsign_write(open.sign, "AB#D"), 1);
    EXPECT_EQ(ledsign_write_utf8(open.sign, kZhongwenOkUtf8), 1);
    EXPECT_EQ(ledsign_clear(open.sign), 1);
    EXPECT_STREQ(ledsign_last_error(open.sign), "");
    const std::string expected = Bytes(c.twoRowBytes) + Bytes(c.chineseBytes) + Bytes(c.clearBytes);
    EXPECT_EQ(Hex(open.WaitForBytes(expected.size())), Hex(expected));

    LEDAtt attributes{};
    ASSERT_EQ(ledsign_model_attributes(c.sign, &attributes), 1);
    EXPECT_EQ(attributes.dots, c.dots);
    EXPECT_EQ(attributes.rowChars, c.rowChars);
    EXPECT_EQ(attributes.twoRows, c.twoRows);
    EXPECT_STREQ(attributes.commText, c.commText);
    EXPECT_STREQ(attributes.vendor, c.vendor);
}

// Without settings a sign opens at the ones it reports; given ones are used as they are.
TEST_P(EveryModel, OpensAtItsReportedSettingsOrTheGivenOnes) {
    const SignCase& c = GetParam();
    HeldPty pty;
    {
        OpenSign open(c.sign, pty.SlavePath(), nullptr);
        const termios applied = pty.SlaveSettings();
        EXPECT_EQ(cfgetospeed(&applied), SpeedOf(std::stoi(c.commText)));
        EXPECT_EQ((applied.c_cflag & CSTOPB) != 0, std::string(c.commText).back() == '2');
    }
    OpenSign open(c.sign, pty.SlavePath(), "19200,8,EVEN,1");
    const termios applied = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&applied), static_cast<speed_t>(B19200));
    EXPECT_EQ(applied.c_cflag & CSTOPB, 0u);
}

INSTANTIATE_TEST_SUITE_P(Library, EveryModel, ::testing::ValuesIn(kSignCases),
                         SignCaseName<::testing::TestParamInfo<SignCase>>);

// Two elvane signs, a brava and a dorun open at once in one process: each shows its own text.
TEST(Library, FourSignsAtOnceEachGetTheirOwnText) {
    struct Station {
        const char* model;
        const char* text;
        const char* bytes;
    };
    const Station stations[] = {
        {"elvane", "A#B", "1B 01 04 41 0D 1B 01 05 42 0D"},
        {"elvane", "C#D", "1B 01 04 43 0D 1B 01 05 44 0D"},
        {"brava", "E#F", "05 01 03 01 00 58 20 01 45 05 01 03 02 00 58 20 01 46"},
        {"dorun", "G#H", "05 01 03 01 00 40 10 03 47 23 48"},
    };
    std::vector<std::unique_ptr<PtySign>> signs;
    for (const Station& station : stations) signs.push_back(std::make_unique<PtySign>(station.model, nullptr, /*byName=*/true));
    for (size_t index = 0; index < signs.size(); ++index) EXPECT_EQ(ledsign_write(signs[index]->sign, stations[index].text), 1);
    for (size_t index = 0; index < signs.size(); ++index) {
        const std::string expected = Bytes(stations[index].bytes);
        EXPECT_EQ(Hex(signs[index]->SettleAfter(expected.size())), Hex(expected)) << "sign " << index;
    }
}

// What ledsign_open gives, and why, for each kind of argument.
TEST(Library, OpenResultsAndReasons) {
    HeldPty pty;
    // A stable name as /dev/serial/by-id gives an adapter: far longer than a plug-in takes.
    const std::string longName = "/tmp/usb-FTDI_FT232R_USB_UART_A9XK3QZP-if00-port0-ledsign-test-" + std::to_string(getpid());
    ASSERT_GT(longName.size(), 60u);
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), longName.c_str()), 0);
    struct Case {
        const char* name;
        const char* model;
        std::string port;
        const char* settings;
        int result;
        const char* reason;  // a part of ledsign_last_error(NULL)
    };
    const Case cases[] = {
        {"long stable name",       "elvane", longName,            "9600,8,NONE,1",   1, ""},
        {"name under /dev",        "brava",  pty.PortName(),      "9600,8,ODD,1",    1, ""},
        {"unknown model",          "zeta",   pty.SlavePath(),     nullptr,          -3, "unknown model \"zeta\" (brava, dorun, cresto, elvane)"},
        {"model in capitals",      "ELVANE", pty.SlavePath(),     nullptr,          -3, "unknown model"},
        {"three fields",           "elvane", pty.SlavePath(),     "9600,8,NONE",    -3, "malformed settings \"9600,8,NONE\""},
        {"five fields",            "elvane", pty.SlavePath(),     "9600,8,NONE,1,1", -3, "malformed settings"},
        {"unknown parity",         "elvane", pty.SlavePath(),     "9600,8,MARK,1",  -3, "malformed settings"},
        {"parity Even",            "elvane", pty.SlavePath(),     "9600,8,Even,1",  -3, "malformed settings"},
        {"stop bits 1.5",          "elvane", pty.SlavePath(),     "9600,8,NONE,1.5", -3, "malformed settings"},
        {"baud not a number",      "elvane", pty.SlavePath(),     "fast,8,NONE,1",  -3, "malformed settings"},
        {"negative baud",          "elvane", pty.SlavePath(),     "-9600,8,NONE,1", -3, "malformed settings"},
        {"empty settings",         "elvane", pty.SlavePath(),     "",               -3, "malformed settings"},
        {"empty port",             "elvane", "",                  nullptr,          -3, "no port name"},
        {"speed the line lacks",   "elvane", pty.SlavePath(),     "12345,8,NONE,1", -2, "open failed: settings the line cannot take"},
        {"nine data bits",         "elvane", pty.SlavePath(),     "9600,9,NONE,1",  -2, "open failed: settings the line cannot take"},
        {"no such device",         "elvane", "/dev/nosuchtty",    nullptr,          -1, "/dev/nosuchtty open failed: open: No such file or directory (2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibrarySign open(c.model, c.port, c.settings);
        EXPECT_EQ(open.result, c.result);
        EXPECT_EQ(open.sign != nullptr, c.result == 1);
        EXPECT_NE(open.reason.find(c.reason), std::string::npos) << open.reason;
        if (c.result == 1) EXPECT_EQ(open.reason, "");
    }
    // Held by a sign of this process: a second open of the same device is refused.
    OpenSign first("elvane", pty.SlavePath());
    LibrarySign second("brava", longName);
    EXPECT_EQ(second.result, -1);
    EXPECT_NE(second.reason.find("open failed: flock"), std::string::npos) << second.reason;
    unlink(longName.c_str());

    ledsign_sign* sign = reinterpret_cast<ledsign_sign*>(1);
    EXPECT_EQ(ledsign_open(nullptr, "ttyS1", nullptr, &sign), -3);
    EXPECT_EQ(sign, nullptr);
    EXPECT_EQ(ledsign_open("elvane", nullptr, nullptr, &sign), -3);
    EXPECT_EQ(ledsign_open("elvane", "ttyS1", nullptr, nullptr), -3);
}

// UTF-8 that is not valid, or holds a character GBK lacks, gives -3 with nothing sent.
TEST(Library, Utf8TextThatCannotBeShownIsRefusedWholly) {
    PtySign open("elvane");
    std::string tooLong;
    for (int count = 0; count < 2100; ++count) tooLong += "\xE4\xB8\xAD";  // 中: 4200 bytes of GBK
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"broken sequence",    "OK\xC3\x28",               "text is not valid UTF-8 at byte 2"},
        {"overlong slash",     "\xC0\xAF",                 "text is not valid UTF-8 at byte 0"},
        {"surrogate",          "A\xED\xA0\x80",            "text is not valid UTF-8 at byte 1"},
        {"cut at the end",     "AB\xE4\xB8",               "text is not valid UTF-8 at byte 2"},
        {"emoji",              "Hi\xF0\x9F\x98\x80",       "character U+1F600 at byte 2 has no GBK code"},
        {"Hangul",             "\xE4\xB8\xAD\xEA\xB0\x80", "character U+AC00 at byte 3 has no GBK code"},
        {"too long",           tooLong,                    "text comes to more than 4095 bytes of GBK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ledsign_write_utf8(open.sign, c.text.c_str()), -3);
        EXPECT_STREQ(ledsign_last_error(open.sign), c.reason);
    }
    EXPECT_EQ(open.Settle(50), "");
    // The euro sign and a middle dot have GBK codes.
    EXPECT_EQ(ledsign_write_utf8(open.sign, "\xE2\x82\xAC\xC2\xB7"), 1);
    EXPECT_STREQ(ledsign_last_error(open.sign), "");
    EXPECT_EQ(Hex(open.WaitForBytes(7)), "1B 01 04 80 A1 A4 0D");
}

TEST(Library, NullHandlesAndTheModelList) {
    EXPECT_EQ(ledsign_write(nullptr, "A"), -3);
    EXPECT_EQ(ledsign_write_utf8(nullptr, "A"), -3);
    EXPECT_EQ(ledsign_clear(nullptr), -3);
    EXPECT_EQ(ledsign_set_trace(nullptr, nullptr, nullptr), -3);
    ledsign_close(nullptr);
    LEDAtt attributes{};
    EXPECT_EQ(ledsign_model_attributes("zeta", &attributes), -3);
    EXPECT_EQ(ledsign_model_attributes("brava", nullptr), -3);

    std::vector<std::string> names;
    for (int index = 0; index < ledsign_model_count(); ++index) names.push_back(ledsign_model_name(index));
    EXPECT_EQ(names, (std::vector<std::string>{"brava", "dorun", "cresto", "elvane"}));
    EXPECT_EQ(ledsign_model_name(-1), nullptr);
    EXPECT_EQ(ledsign_model_name(4), nullptr);

    PtySign open("elvane");
    EXPECT_EQ(ledsign_write(open.sign, nullptr), -3);
}

// The trace reaches the host's callback, one line at a time, without a line break.
TEST(Library, TraceGoesToTheCallbackOnlyWhenOneIsSet) {
    PtySign open("elvane");
    std::vector<std::string> lines;
    ASSERT_EQ(ledsign_set_trace(open.sign, KeepLine, &lines), 1);
    EXPECT_EQ(ledsign_write(open.sign, "AB"), 1);
    ASSERT_EQ(ledsign_set_trace(open.sign, nullptr, nullptr), 1);
    EXPECT_EQ(ledsign_write(open.sign, "AB"), 1);
    const std::vector<std::string> expected = {"write 1B = 1", "write 01 = 1", "write 04 = 1", "write 41 42 = 1", "write 0D = 1", "pause 1"};
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t index = 0; index < lines.size(); ++index) {
        EXPECT_EQ(lines[index].rfind("elvane +", 0), 0u) << lines[index];
        EXPECT_EQ(lines[index].substr(lines[index].find(" ms ") + 4), expected[index]);
    }
}

// Eight signs written from eight threads at once: nothing shared between them (ThreadSanitizer
// watches this in the tsan build), every text arrives whole on its own line.
TEST(Library, EightSignsFromEightThreads) {
    const char* const models[] = {"elvane", "cresto", "elvane", "cresto", "brava", "dorun", "elvane", "cresto"};
    constexpr int kWrites = 5;
    std::vector<std::unique_ptr<PtySign>> signs;
    for (const char* model : models) signs.push_back(std::make_unique<PtySign>(model));
    std::vector<std::thread> threads;
    std::vector<int> failures(signs.size(), 0);
    for (size_t index = 0; index < signs.size(); ++index) {
        threads.emplace_back([&, index] {
            std::vector<std::string> trace;
            ledsign_set_trace(signs[index]->sign, KeepLine, &trace);
            const std::string text = "S" + std::to_string(index);
            for (int write = 0; write < kWrites; ++write) failures[index] += ledsign_write(signs[index]->sign, text.c_str()) != 1;
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t index = 0; index < signs.size(); ++index) {
        EXPECT_EQ(failures[index], 0) << "sign " << index;
        const std::string row = "S" + std::to_string(index);
        const std::string one = std::string(models[index]) == "elvane" ? "\x1B\x01\x04" + row + "\r"
                                : std::string(models[index]) == "cresto" ? "\x1B\x01\x01" + row + "\r"
                                : std::string(models[index]) == "brava"
                                    ? std::string("\x05\x01\x03\x01\x00\x58\x20\x02", 8) + row + std::string("\x05\x01\x03\x02\x00\x58\x20\x01\x20", 9)
                                    : std::string("\x05\x01\x03\x01\x00\x40\x10\x02", 8) + row;
        std::string all;
        for (int write = 0; write < kWrites; ++write) all += one;
        EXPECT_EQ(Hex(signs[index]->SettleAfter(all.size())), Hex(all)) << "sign " << index;
    }
}

// Two signs on USB adapters: the driver holds one sign's drain (as ftdi_sio does for an adapter
// pulled during it). That sign's call gives -1 at its deadline; the other's calls meanwhile go
// through at once, since each sign drains on a thread of its own.
TEST(Library, OneSignsHeldDrainHoldsNoOtherSign) {
    HeldPty held;
    HeldPty free;
    adapters = true;
    // The descriptor the library opens for the held sign: the one on that pty that was not there
    // before (ptys look like adapters now, major 188).
    struct stat device {};
    ASSERT_EQ(stat(held.SlavePath().c_str(), &device), 0);
    const auto onHeldPty = [&device] {
        std::vector<int> found;
        for (int fd = 3; fd < 1024; ++fd) {
            struct stat status {};
            if (fstat(fd, &status) == 0 && status.st_rdev == makedev(188, minor(device.st_rdev))) found.push_back(fd);
        }
        return found;
    };
    const std::vector<int> before = onHeldPty();
    OpenSign stuck("elvane", held.SlavePath(), "9600,8,NONE,1");
    OpenSign going("elvane", free.SlavePath(), "9600,8,NONE,1");
    int descriptor = -1;
    for (const int fd : onHeldPty()) {
        if (std::find(before.begin(), before.end(), fd) == before.end()) descriptor = fd;
    }
    ASSERT_GE(descriptor, 0);
    heldDrain = descriptor;
    int stuckResult = 0;
    std::thread stuckCall([&] { stuckResult = ledsign_write(stuck.sign, "A"); });
    std::this_thread::sleep_for(milliseconds(100));
    const auto start = Clock::now();
    for (int call = 0; call < 5; ++call) EXPECT_EQ(ledsign_write(going.sign, "B"), 1);
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    stuckCall.join();
    EXPECT_EQ(stuckResult, -1);
    heldDrain = kNoDrainHeld;
    adapters = false;
}

// One sign's device goes away and comes back behind its name; the others keep working
// throughout, and the lost one gets its text again once it is back.
TEST(Library, OneLostLineComesBackWhileTheOthersKeepWorking) {
    Pty lost;
    PortLink link(lost);
    OpenSign first("elvane", link.Name());
    PtySign second("elvane");
    lost.CloseMaster();
    link.Remove();
    EXPECT_EQ(ledsign_write(first.sign, "A"), -1);
    const std::string reason = ledsign_last_error(first.sign);
    EXPECT_EQ(reason.rfind(link.Name() + " lost: ", 0), 0u) << reason;
    EXPECT_EQ(ledsign_write(second.sign, "B"), 1);
    EXPECT_EQ(ledsign_write(first.sign, "A"), -1);
    EXPECT_STRNE(ledsign_last_error(first.sign), "");

    Pty back;
    link.PointAt(back);
    const auto start = Clock::now();
    int result = -1;
    while (result != 1 && Clock::now() - start < milliseconds(3000)) {
        EXPECT_EQ(ledsign_write(second.sign, "B"), 1);
        result = ledsign_write(first.sign, "A");
        if (result != 1) std::this_thread::sleep_for(milliseconds(100));
    }
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(ledsign_last_error(first.sign), "");
    EXPECT_EQ(Hex(back.WaitForBytes(5)), "1B 01 04 41 0D");
}

// A server that takes one connection and closes it: the next write finds the connection gone,
// gives -1 as a lost line, and the host (which keeps SIGPIPE's default action) lives on.
TEST(LibraryNetwork, AServerThatClosesGivesALostLineAndNoSignal) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    signal(SIGPIPE, SIG_DFL);
    {
        OpenSign open("elvane", port, "9600,8,NONE,1");
        const int served = accept(listener, nullptr, nullptr);
        std::string received(16, '\0');
        EXPECT_EQ(ledsign_write(open.sign, "AB"), 1);
        EXPECT_EQ(recv(served, received.data(), received.size(), 0), 6);
        EXPECT_EQ(Hex(received.substr(0, 6)), "1B 01 04 41 42 0D");
        close(served);
        close(listener);
        int result = 1;
        for (int call = 0; call < 3 && result == 1; ++call) result = ledsign_write(open.sign, "AB");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(std::string(ledsign_last_error(open.sign)).rfind(port + " lost: ", 0), 0u) << ledsign_last_error(open.sign);
        EXPECT_EQ(ledsign_write(open.sign, "AB"), -1);  // no server to connect to
        EXPECT_NE(std::string(ledsign_last_error(open.sign)).find("Connection refused (111)"), std::string::npos)
            << ledsign_last_error(open.sign);
    }
    for (const char* malformed : {"tcp://", "tcp://host", "tcp://:80", "rfc2217://host:0", "tcp://host:70000", "tcp://[::1:80"}) {
        LibrarySign open("elvane", malformed);
        EXPECT_EQ(open.result, -3) << malformed;
        EXPECT_NE(open.reason.find("malformed network port"), std::string::npos) << open.reason;
    }
}

}  // namespace
}  // namespace ledsign::test
