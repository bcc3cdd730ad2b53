// Ports on Linux: the ttys under /sys/class/tty, their holders under /proc, and why one would not open.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "serial/PosixTermios.h"
#include "tools/common/TextFormat.h"
#include "tools/ledctl/Ports.h"

namespace ledsign::tools {

namespace {

std::string ReadFirstLine(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return {};
    char line[256] = {};
    if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
    std::fclose(file);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace
namespace {

std::string DevicePath(const std::string& portName) {
    char path[PATH_MAX];
    return ResolveDevicePath(portName.c_str(), path, sizeof path) ? std::string(path) : std::string();
}

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// The processes that hold a device open, from /proc. An ordinary user can look only at its own
// processes' descriptors: `hidden` says that some process could not be looked at.
struct Holders {
    std::string names;  // "1234 (name), ..."
    bool hidden = false;

    // Who holds it, as far as this user can tell, for "held by ...".
    std::string Text() const {
        if (!names.empty()) return names;
        return hidden ? "a process this user cannot see" : "another program";
    }
};

Holders FindHolders(const std::string& path) {
    const std::string device = Canonical(path);
    Holders holders;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return {{}, true};
    // ledctl is never named: closing it frees nothing (it holds only what it was handed, a shell's
    // `3<>port`, and whoever handed it is named too).
    const std::string self = std::to_string(getpid());
    for (dirent* process; (process = readdir(proc)) != nullptr;) {
        const std::string pid = process->d_name;
        if (pid.empty() || pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string fdDirectory = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdDirectory.c_str());
        if (fds == nullptr) {
            holders.hidden |= errno == EACCES || errno == EPERM;
            continue;
        }
        for (dirent* fd; (fd = readdir(fds)) != nullptr;) {
            char target[PATH_MAX];
            const ssize_t length = readlink((fdDirectory + "/" + fd->d_name).c_str(), target, sizeof target - 1);
            if (length <= 0) continue;
            target[length] = '\0';
            if (device == target) {
                if (!holders.names.empty()) holders.names += ", ";
                holders.names += pid + " (" + ReadFirstLine("/proc/" + pid + "/comm") + ")";
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return holders;
}

bool InGroup(gid_t group) {
    if (getegid() == group) return true;
    gid_t groups[256];
    const int count = getgroups(256, groups);
    for (int index = 0; index < count; ++index) {
        if (groups[index] == group) return true;
    }
    return false;
}

std::string GroupName(gid_t group) {
    const struct group* entry = getgrgid(group);
    return entry != nullptr ? entry->gr_name : std::to_string(group);
}

std::string AccessState(const std::string& path) {
    if (access(path.c_str(), R_OK | W_OK) != 0) return "no access for this user";
    const Holders holders = FindHolders(path);
    if (!holders.names.empty()) return "in use by " + holders.names;
    return holders.hidden ? "held by no process this user can see (other users' processes are hidden from it)" : "free";
}

// The USB vendor:product and serial number of the device behind a tty, when it has them.
std::string UsbDescription(const std::string& sysDevice) {
    std::string directory = Canonical(sysDevice);
    for (int depth = 0; depth < 6 && directory.size() > 1; ++depth) {
        const std::string vendor = ReadFirstLine(directory + "/idVendor");
        if (!vendor.empty()) {
            std::string text = "USB " + vendor + ":" + ReadFirstLine(directory + "/idProduct");
            const std::string product = ReadFirstLine(directory + "/product");
            const std::string serial = ReadFirstLine(directory + "/serial");
            if (!product.empty()) text += " " + product;
            if (!serial.empty()) text += ", serial " + serial;
            return text;
        }
        directory.resize(directory.rfind('/'));
    }
    return {};
}

// A built-in serial port by its UART's type number, as the serial core reports it.
std::string UartDescription(const std::string& type) {
    static const char* const kTypes[] = {"", "8250", "16450", "16550", "16550A", "Cirrus", "16650", "16650V2", "16750"};
    const int number = std::atoi(type.c_str());
    if (number > 0 && number < static_cast<int>(sizeof kTypes / sizeof kTypes[0])) {
        return std::string("built-in serial port, UART ") + kTypes[number];
    }
    return "built-in serial port, UART type " + type;
}

// The /dev/serial/by-id names that lead to the device.
std::string ByIdNames(const std::string& device) {
    std::string names;
    DIR* byId = opendir("/dev/serial/by-id");
    if (byId == nullptr) return names;
    for (dirent* link; (link = readdir(byId)) != nullptr;) {
        if (link->d_name[0] == '.') continue;
        const std::string path = std::string("/dev/serial/by-id/") + link->d_name;
        if (Canonical(path) == device) names += (names.empty() ? "" : ", ") + path;
    }
    closedir(byId);
    return names;
}

// Joining the device's group helps only where the group may read and write it and is not root's;
// otherwise the device needs a group of its own first (the host guide's udev rule gives dialout, 0660).
OpenDiagnosis ExplainPermission(const std::string& path, const struct stat& status) {
    const std::string group = GroupName(status.st_gid);
    const bool joinable = status.st_gid != 0 && (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    const std::string what = "permission denied: " + path + " belongs to group " + group;
    if (joinable && !InGroup(status.st_gid)) {
        return {OpenFailure::kPermission,
                what + " and this user is not in it. Next: sudo usermod -aG " + group + " $USER, then log in again."};
    }
    if (joinable) {
        return {OpenFailure::kPermission, what + "; this user is in it but may still not read and write the device."};
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return {OpenFailure::kPermission, what + " (mode " + mode +
                                          "), which gives no sign user access. Next: a udev rule"
                                          " giving it GROUP=\"dialout\", MODE=\"0660\" (examples/70-ledsign.rules in "
                                          "the package's doc folder is one),"
                                          " then sudo usermod -aG dialout $USER and log in again."};
}

}  // namespace

std::vector<PortEntry> ListPorts(bool) {
    std::vector<PortEntry> ports;
    DIR* ttys = opendir("/sys/class/tty");
    if (ttys == nullptr) return ports;
    std::vector<std::string> names;
    for (dirent* tty; (tty = readdir(ttys)) != nullptr;) names.push_back(tty->d_name);
    closedir(ttys);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string sys = "/sys/class/tty/" + name;
        struct stat status {};
        if (name[0] == '.' || lstat((sys + "/device").c_str(), &status) != 0) continue;  // no device behind it
        const bool uart = name.rfind("ttyS", 0) == 0;
        // A ttyS without a UART behind it reports type 0 (unknown).
        if (uart && ReadFirstLine(sys + "/type") == "0") continue;
        PortEntry entry;
        entry.path = "/dev/" + name;
        entry.pluginName = name;
        if (uart) entry.pluginName = "COM" + std::to_string(std::atoi(name.c_str() + 4) + 1);
        entry.nameFits = entry.pluginName.size() <= 9;
        const std::string driver = Canonical(sys + "/device/driver");
        entry.description = uart ? UartDescription(ReadFirstLine(sys + "/type")) : driver.substr(driver.rfind('/') + 1);
        const std::string usb = UsbDescription(sys + "/device");
        if (!usb.empty()) entry.description += ", " + usb;
        const std::string byId = ByIdNames(entry.path);
        if (!byId.empty())
            entry.description += ", " + byId + " (too long for the plug-in: give " + entry.pluginName + ")";
        entry.state = AccessState(entry.path);
        ports.push_back(entry);
    }
    return ports;
}

OpenDiagnosis ExplainOpenFailure(const PortSettings& settings, int32_t result) {
    const std::string port = settings.portName;
    const std::string path = DevicePath(port);
    if (path.empty()) return {OpenFailure::kNoDevice, "no port name was given"};
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return {OpenFailure::kNoDevice, "no such device: " + path + " does not exist (the plug-in reads '" + port +
                                            "' as " + path +
                                            "). Next: `ledctl ports` lists the serial ports of this machine."};
    }
    if (!S_ISCHR(status.st_mode))
        return {OpenFailure::kNotSerial, "not a serial device: " + path + " is not a character device."};
    if (access(path.c_str(), R_OK | W_OK) != 0) return ExplainPermission(path, status);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY)
            return {OpenFailure::kInUse, "in use: " + path + " is held exclusively by " + FindHolders(path).Text() +
                                             ". Next: close that program, then try again."};
        return {OpenFailure::kOther, "cannot open " + path + ": " + std::strerror(errno) + "."};
    }
    const bool terminal = isatty(fd) != 0;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    if (!terminal) return {OpenFailure::kNotSerial, "not a serial device: " + path + " is no terminal device."};
    if (held) {
        return {OpenFailure::kInUse, "in use: " + path + " is held by " + FindHolders(path).Text() +
                                         ". Next: close that program, then try again."};
    }
    if (result == -2) {
        speed_t speed = 0;
        const int dataBits = static_cast<uint8_t>(settings.dataBits);
        if (settings.baudRate <= 0 || !BaudConstant(settings.baudRate, &speed)) {
            return {OpenFailure::kRefused, "the speed was refused: " + std::to_string(settings.baudRate) +
                                               " baud is not a rate the serial driver has. Next: use the sign's rate "
                                               "(`ledctl PLUGIN info`)."};
        }
        if (dataBits < 5 || dataBits > 8) {
            return {OpenFailure::kRefused, "the framing was refused: the line takes 5 to 8 data bits, not " +
                                               std::to_string(settings.dataBits) + "."};
        }
        return {
            OpenFailure::kRefused,
            "the device refused the speed or framing. Next: use the settings the sign reports (`ledctl PLUGIN info`)."};
    }
    return {OpenFailure::kOther, path + " opens now: it was busy for a moment."};
}

std::string ExplainWriteFailure(const PortSettings& settings, long tookMs) {
    const std::string path = DevicePath(settings.portName);
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0) {
        return "the port went away: " + path +
               " no longer exists (adapter unplugged?); the plug-in opens it again by itself once it is back.";
    }
    if (RanIntoDeadline(tookMs)) {
        return "the line stalled: the bytes were not taken within the write's deadline (flow control held off, "
               "the far side not reading, or a wedged adapter).";
    }
    return "the line hung up or reported an error at once (the far side of a bridge or virtual port went away?); "
           "the plug-in opens it again by itself at a later call.";
}

}  // namespace ledsign::tools
