// signemu: a virtual sign. It creates a pseudo-terminal (or opens a serial device) and shows
// what arrives on the line with timestamps, so a plug-in can be tried without a sign.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsageText[] =
    "usage: signemu --model MODEL [--link PATH | --device PATH] [--idle-exit MS]\n"
    "\n"
    "  --model MODEL    brava, dorun, cresto or elvane\n"
    "  --link PATH      also make PATH a symlink to the new pseudo-terminal\n"
    "  --device PATH    listen on an existing serial device instead of a new pseudo-terminal\n"
    "  --idle-exit MS   end after MS milliseconds without bytes (once some have arrived)\n"
    "\n"
    "Prints the pseudo-terminal's name (\"port: pts/N\") and then every chunk that arrives.\n"
    "Example: signemu --model brava --link /tmp/sign & ledctl libbrava.so write 'AB#D' --port pts/N\n";

struct Options {
    std::string model;
    std::string link;
    std::string device;
    long idleExitMs = 0;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "signemu: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(kUsageText, stdout);
            return 0;
        } else if (arg == "--model" && hasValue) {
            options.model = argv[++i];
        } else if (arg == "--link" && hasValue) {
            options.link = argv[++i];
        } else if (arg == "--device" && hasValue) {
            options.device = argv[++i];
        } else if (arg == "--idle-exit" && hasValue) {
            options.idleExitMs = std::strtol(argv[++i], nullptr, 10);
        } else {
            return Fail("unknown or incomplete option " + arg);
        }
    }
    if (options.model != "brava" && options.model != "dorun" && options.model != "cresto" && options.model != "elvane") {
        return Fail("--model must be brava, dorun, cresto or elvane");
    }

    int fd = -1;
    int keepOpen = -1;
    if (!options.device.empty()) {
        fd = open(options.device.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) return Fail("cannot open " + options.device + ": " + std::strerror(errno));
    } else {
        fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) return Fail("cannot create a pseudo-terminal");
        const std::string slave = ptsname(fd);
        // Holding the slave keeps the line up between the plug-in's opens and closes.
        keepOpen = open(slave.c_str(), O_RDWR | O_NOCTTY);
        std::printf("port: %s\n", slave.substr(5).c_str());
        if (!options.link.empty()) {
            unlink(options.link.c_str());
            if (symlink(slave.c_str(), options.link.c_str()) != 0) return Fail("cannot link " + options.link);
            std::printf("link: %s -> %s\n", options.link.c_str(), slave.c_str());
        }
    }
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastByte = start;
    bool anyBytes = false;
    unsigned char buffer[4096];
    for (;;) {
        pollfd request{fd, POLLIN, 0};
        const int ready = poll(&request, 1, 20);
        const auto now = Clock::now();
        if (ready > 0) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                anyBytes = true;
                lastByte = now;
                const double ms = std::chrono::duration<double, std::milli>(now - start).count();
                std::printf("%10.1f ms  %3zd bytes:", ms, got);
                for (ssize_t i = 0; i < got; ++i) std::printf(" %02X", buffer[i]);
                std::printf("\n");
                std::fflush(stdout);
            }
        }
        if (options.idleExitMs > 0 && anyBytes && now - lastByte > std::chrono::milliseconds(options.idleExitMs)) break;
    }
    if (!options.link.empty()) unlink(options.link.c_str());
    if (keepOpen >= 0) close(keepOpen);
    close(fd);
    return 0;
}
