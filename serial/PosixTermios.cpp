// The pure pieces of the POSIX backend (see PosixTermios.h): port names, speeds and termios, which
// the tools use too without the rest of the serial module.
#include "serial/PosixTermios.h"

#include <cstdio>

namespace ledsign {

namespace {

bool ParseComNumber(const char* name, unsigned* number) {
    if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
        (name[2] != 'M' && name[2] != 'm') || name[3] == '\0') {
        return false;
    }
    unsigned value = 0;
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || value > 100000) return false;
        value = value * 10 + static_cast<unsigned>(*digit - '0');
    }
    if (value == 0) return false;
    *number = value;
    return true;
}

}  // namespace

bool ResolveDevicePath(const char* portName, char* path, size_t pathSize) {
    if (portName == nullptr || portName[0] == '\0') return false;
    unsigned comNumber = 0;
    int written = 0;
    if (portName[0] == '/') {
        written = std::snprintf(path, pathSize, "%s", portName);
    } else if (ParseComNumber(portName, &comNumber)) {
        written = std::snprintf(path, pathSize, "/dev/ttyS%u", comNumber - 1);
    } else {
        written = std::snprintf(path, pathSize, "/dev/%s", portName);
    }
    return written > 0 && static_cast<size_t>(written) < pathSize;
}

namespace {

struct Rate {
    int32_t baud;
    speed_t constant;
};

constexpr Rate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},         {200, B200},
    {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},   {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

}  // namespace

bool BaudConstant(int32_t baudRate, speed_t* speed) {
    for (const Rate& rate : kRates) {
        if (rate.baud == baudRate) {
            *speed = rate.constant;
            return true;
        }
    }
    return false;
}

int32_t BaudOfConstant(speed_t speed) {
    for (const Rate& rate : kRates) {
        if (rate.constant == speed) return rate.baud;
    }
    return 0;
}

uint32_t DrainEstimateMs(uint32_t queued, int32_t baudRate) {
    constexpr uint64_t kBitsPerByte = 10;  // start, eight data bits, stop: the least a byte takes
    const uint64_t baud = baudRate > 0 ? static_cast<uint64_t>(baudRate) : 1;
    const uint64_t estimate = (uint64_t{queued} * kBitsPerByte * 1000 + baud - 1) / baud;
    return estimate == 0 ? 1 : static_cast<uint32_t>(estimate > 1000 ? 1000 : estimate);
}

bool BuildTermios(const termios& current, const LineSettings& settings, termios* result) {
    speed_t speed = 0;
    if (settings.baudRate <= 0 || !BaudConstant(settings.baudRate, &speed)) return false;
    tcflag_t size = 0;
    switch (static_cast<uint8_t>(settings.dataBits)) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return false;
    }
    termios line = current;
    // Raw bytes in both directions. No software flow control: nothing is read from the sign, so a
    // stray XOFF (0x13) from its side, or noise that looks like one, must not stop the output.
    // CRTSCTS stays as the device has it.
    line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IXON |
                                           IXOFF | IXANY);
    line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    line.c_cflag |= size | CREAD | CLOCAL;
    if (settings.parity == kParityOdd) line.c_cflag |= PARENB | PARODD;
    if (settings.parity == kParityEven) line.c_cflag |= PARENB;
    if (settings.stopBits == 2) line.c_cflag |= CSTOPB;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    cfsetispeed(&line, speed);
    cfsetospeed(&line, speed);
    *result = line;
    return true;
}

bool LineTookSettings(const termios& wanted, const termios& applied, bool pseudoTerminal) {
    constexpr tcflag_t kStopBits = CSTOPB;
    constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD;
    if (cfgetospeed(&applied) != cfgetospeed(&wanted)) return false;
    if ((applied.c_cflag & kStopBits) != (wanted.c_cflag & kStopBits)) return false;
    return pseudoTerminal || (applied.c_cflag & kFraming) == (wanted.c_cflag & kFraming);
}

}  // namespace ledsign
