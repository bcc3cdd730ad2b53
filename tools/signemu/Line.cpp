#include "tools/signemu/Line.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "serial/PosixTermios.h"
#include "tools/common/JsonLine.h"

namespace ledsign::tools {

ListenAt ExpectedLine(const Options& options) {
    long baud = 0, dataBits = 0, stopBits = 0;
    char parity[20] = {};
    std::sscanf(options.model->identity.commText, "%ld,%ld,%19[^,],%ld", &baud, &dataBits, parity, &stopBits);
    return {options.baud != 0 ? options.baud : baud, options.stopBits != 0 ? options.stopBits : stopBits};
}

namespace {

// A serial device in raw mode, so that a carriage return in a frame is not turned into a line
// feed, at the settings this sign listens at.
bool OpenDevice(const Options& options, SignLine& line, std::string& error) {
    line.fd = open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.fd < 0) {
        error = "cannot open " + options.device + ": " + std::strerror(errno);
        return false;
    }
    const ListenAt listen = ExpectedLine(options);
    const LineSettings wanted{
        static_cast<int32_t>(listen.baud), static_cast<int32_t>(options.dataBits != 0 ? options.dataBits : 8),
        static_cast<int32_t>(listen.stopBits), ParityFromWord(options.parity.empty() ? "NONE" : options.parity)};
    termios current{};
    termios raw{};
    if (tcgetattr(line.fd, &current) != 0 || !BuildTermios(current, wanted, &raw) ||
        tcsetattr(line.fd, TCSANOW, &raw) != 0) {
        error = "cannot set " + options.device + " to the sign's settings";
        return false;
    }
    line.port = options.device;
    return true;
}

// Where a symlink leads, or "" when it is none.
std::string LinkTarget(const std::string& link) {
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    return length > 0 && static_cast<size_t>(length) < sizeof target ? std::string(target, static_cast<size_t>(length))
                                                                     : std::string();
}

// The --link symlink to the pty's slave. Only a symlink that leads nowhere (left by a signemu that
// was killed) is replaced: a file or directory there is never removed, and a link to a port that
// is there (another signemu's, or a real device) is left to its owner.
bool MakeLink(const std::string& link, const std::string& slave, std::string& error) {
    struct stat existing {};
    if (lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = "--link " + link + " exists and is not a symlink: it is left as it is";
            return false;
        }
        struct stat target {};
        if (stat(link.c_str(), &target) == 0) {
            error = "--link " + link + " leads to " + LinkTarget(link) +
                    ", which is there (another signemu's port?): it is left as it is; choose another path, or end "
                    "that signemu first";
            return false;
        }
        unlink(link.c_str());
    }
    if (link.size() > 9) {
        std::fprintf(stderr,
                     "signemu: warning: --link %s is longer than the 9 characters a plug-in takes; give the plug-in "
                     "%s\n",
                     link.c_str(), slave.substr(5).c_str());
    }
    if (symlink(slave.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool OpenPty(const Options& options, SignLine& line, std::string& error) {
    line.fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (line.fd < 0 || grantpt(line.fd) != 0 || unlockpt(line.fd) != 0) {
        error = "cannot create a pseudo-terminal";
        return false;
    }
    const std::string slave = ptsname(line.fd);
    line.keepOpen = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (line.keepOpen >= 0 && tcgetattr(line.keepOpen, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(line.keepOpen, TCSANOW, &raw);
    }
    line.port = slave.substr(5);
    if (!options.link.empty()) {
        if (!MakeLink(options.link, slave, error)) return false;
        line.link = options.link;
        line.linkTarget = slave;
    }
    if (options.json) {
        std::fputs(
            JsonLine({{"event", "port"}, {"port", line.port}, {"path", slave}, {"model", options.model->name}}).c_str(),
            stdout);
    } else {
        std::printf("port: %s\n", line.port.c_str());
        if (!options.link.empty()) std::printf("link: %s -> %s\n", options.link.c_str(), slave.c_str());
    }
    return true;
}

// The sign and what is checked at each frame.
void DescribeSign(const Options& options) {
    const SignGeometry geometry = options.model->geometry;
    std::printf("sign: %s, %dx%d dots, %d row%s\n", options.model->name, geometry.width, geometry.height, geometry.rows,
                geometry.rows == 1 ? "" : "s");
    const ListenAt expected = ExpectedLine(options);
    std::printf("line check: %ld baud, %ld stop bit%s (%s); data bits and parity cannot be seen on a pty\n",
                expected.baud, expected.stopBits, expected.stopBits == 1 ? "" : "s",
                options.baud != 0 || options.stopBits != 0 ? "as given" : "the sign's reported settings");
    if (options.model->protocol == SignProtocol::kEscLine) {
        std::printf(
            "frame timing: an ESC-line sign's 1 ms pause is below what a pty's arrival times show; not checked\n");
    }
}

}  // namespace

bool SetUpLine(const Options& options, SignLine& line, std::string& error) {
    const bool opened = options.device.empty() ? OpenPty(options, line, error) : OpenDevice(options, line, error);
    if (!opened) return false;
    if (!options.json) DescribeSign(options);
    std::fflush(stdout);
    return true;
}

void CloseLine(SignLine& line) {
    // Only while it still leads to this sign's port: another signemu may have taken the name since.
    if (!line.link.empty() && LinkTarget(line.link) == line.linkTarget) unlink(line.link.c_str());
    if (line.keepOpen >= 0) close(line.keepOpen);
    if (line.fd >= 0) close(line.fd);
    line = SignLine{};
}

}  // namespace ledsign::tools
