#include "library/NetworkPort.h"

#include <cstring>

#if !defined(_WIN32)
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>
#endif

namespace ledsign {

namespace {

constexpr char kRawScheme[] = "tcp://";
constexpr char kRfc2217Scheme[] = "rfc2217://";

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

#if !defined(_WIN32)
// The host and port of "SCHEME://HOST:PORT" into the buffers; false when malformed.
bool SplitAddress(const char* name, char (&host)[256], char (&service)[6]) {
    const char* rest = StartsWith(name, kRawScheme)       ? name + sizeof kRawScheme - 1
                       : StartsWith(name, kRfc2217Scheme) ? name + sizeof kRfc2217Scheme - 1
                                                          : nullptr;
    if (rest == nullptr) return false;
    const char* colon = std::strrchr(rest, ':');
    if (colon == nullptr || colon == rest) return false;
    const char* hostStart = rest;
    const char* hostEnd = colon;
    if (*hostStart == '[') {  // [IPv6]:PORT
        if (hostEnd[-1] != ']') return false;
        ++hostStart;
        --hostEnd;
    }
    const size_t hostLength = static_cast<size_t>(hostEnd - hostStart);
    const size_t serviceLength = std::strlen(colon + 1);
    if (hostLength == 0 || hostLength >= sizeof host || serviceLength == 0 || serviceLength >= sizeof service) {
        return false;
    }
    uint32_t number = 0;
    for (const char* digit = colon + 1; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') return false;
        number = number * 10 + static_cast<uint32_t>(*digit - '0');
    }
    if (number == 0 || number > 65535) return false;
    std::memcpy(host, hostStart, hostLength);
    host[hostLength] = '\0';
    std::memcpy(service, colon + 1, serviceLength + 1);
    return true;
}
#endif

}  // namespace

bool IsNetworkPortName(const char* name) { return StartsWith(name, kRawScheme) || StartsWith(name, kRfc2217Scheme); }

#if !defined(_WIN32)

bool ValidNetworkAddress(const char* name) {
    char host[256];
    char service[6];
    return SplitAddress(name, host, service);
}

namespace {

// Telnet (RFC 854) and its COM-PORT-OPTION (RFC 2217).
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kComPortOption = 44;
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kPurgeData = 12;
constexpr uint8_t kServerAnswer = 100;  // a server's answer is the client's command + 100
constexpr uint8_t kFlowControlSuspend = 8, kFlowControlResume = 9;
constexpr uint8_t kPurgeServerTransmitBuffer = 2;
// RFC 2217's parity values: 1 none, 2 odd, 3 even; the line's codes are 0 none, 1 odd, 2 even.
constexpr uint8_t kRfcParity[3] = {1, 2, 3};

enum TelnetState : uint8_t { kData, kCommand, kOption, kSubnegotiation, kSubnegotiationIac };

using Microseconds = int64_t;

Microseconds NowUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Microseconds>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int RemainingMs(Microseconds deadline) {
    const Microseconds left = deadline - NowUs();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

void SleepUntil(Microseconds moment) {
    const Microseconds left = moment - NowUs();
    if (left <= 0) return;
    timespec pause{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {}
}

// The time `count` bytes take on the sign's line, counted as the deadlines count them: 12 bits a byte.
Microseconds LineTimeUs(uint32_t count, int32_t baudRate) {
    const int64_t baud = baudRate < 50 ? 50 : baudRate;
    return static_cast<Microseconds>(count) * 12 * 1000000 / baud;
}

int32_t Fail(PlatformPort& port, int32_t result, const char* operation, int error, bool gone, bool timedOut) {
    port.fault = LineFault{operation, error, gone, timedOut};
    return result;
}

// The same for a step that failed: false, with the connection counted as lost.
bool Lost(PlatformPort& port, const char* operation, int error, bool timedOut) {
    port.fault = LineFault{operation, error, true, timedOut};
    return false;
}

// Ends the connection at once: a reset, so that the server's host discards what it still holds.
void Abort(PlatformPort& port) {
    if (port.fd < 0) return;
    const linger reset{1, 0};
    setsockopt(port.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(port.fd);
    port.fd = kNoDescriptor;
}

// Sends every byte before the deadline; false with the fault set otherwise.
bool SendAll(PlatformPort& port, const uint8_t* bytes, size_t count, Microseconds deadline) {
    while (count > 0) {
        const ssize_t sent = send(port.fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes += sent;
            count -= static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd request{port.fd, POLLOUT, 0};
            const int ready = poll(&request, 1, RemainingMs(deadline));
            if (ready == 0) return Lost(port, "send: the server took nothing before the deadline", 0, true);
            if (ready < 0 && errno != EINTR) return Lost(port, "poll", errno, false);
            continue;
        }
        // EPIPE and ECONNRESET: the server went away.
        return Lost(port, "send", sent < 0 ? errno : 0, false);
    }
    return true;
}

// IAC SB COM-PORT-OPTION command value... IAC SE, with IAC doubled inside.
bool SendComPortCommand(PlatformPort& port, uint8_t command, const uint8_t* value, size_t valueLength,
                        Microseconds deadline) {
    uint8_t message[16];
    size_t used = 0;
    message[used++] = kIac;
    message[used++] = kSb;
    message[used++] = kComPortOption;
    message[used++] = command;
    for (size_t index = 0; index < valueLength; ++index) {
        message[used++] = value[index];
        if (value[index] == kIac) message[used++] = kIac;
    }
    message[used++] = kIac;
    message[used++] = kSe;
    return SendAll(port, message, used, deadline);
}

bool SendSetting(PlatformPort& port, uint8_t command, uint32_t value, Microseconds deadline) {
    if (command == kSetBaudRate) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        return SendComPortCommand(port, command, bytes, sizeof bytes, deadline);
    }
    const uint8_t byte = static_cast<uint8_t>(value);
    return SendComPortCommand(port, command, &byte, 1, deadline);
}

void TakeSubnegotiation(NetworkLine& line) {
    if (line.subnegotiationLength < 2 || line.subnegotiation[0] != kComPortOption) return;
    const uint8_t command = line.subnegotiation[1];
    const uint8_t* value = line.subnegotiation + 2;
    const uint8_t valueLength = static_cast<uint8_t>(line.subnegotiationLength - 2);
    if (command == kServerAnswer + kFlowControlSuspend) line.suspended = true;
    if (command == kServerAnswer + kFlowControlResume) line.suspended = false;
    if (command < kServerAnswer + kSetBaudRate || command > kServerAnswer + kSetStopSize) return;
    const uint8_t setting = static_cast<uint8_t>(command - kServerAnswer);
    uint32_t number = 0;
    for (uint8_t index = 0; index < valueLength; ++index) number = (number << 8) | value[index];
    line.answered[setting] = number;
    line.answeredSetting[setting] = true;
    if (setting == kSetBaudRate) ++line.baudAnswers;
}

// Refuses once an option the server offers or asks for that this client does not use.
void AnswerOption(PlatformPort& port, NetworkLine& line, uint8_t verb, uint8_t option) {
    const bool ours = option == kBinary || option == kComPortOption;
    if (ours || verb == kWont || verb == kDont || line.refusedOption[option]) return;
    line.refusedOption[option] = true;
    const uint8_t refusal[3] = {kIac, verb == kWill ? kDont : kWont, option};
    send(port.fd, refusal, sizeof refusal, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// What the server sent: the sign's bytes (dropped: nothing is read from a sign) and, over RFC
// 2217, Telnet commands.
void TakeIncoming(PlatformPort& port, NetworkLine& line, const uint8_t* bytes, size_t count) {
    if (line.kind != NetworkKind::kRfc2217) return;
    for (size_t index = 0; index < count; ++index) {
        const uint8_t byte = bytes[index];
        switch (line.telnetState) {
            case kData: line.telnetState = byte == kIac ? kCommand : kData; break;
            case kCommand:
                if (byte == kSb) {
                    line.telnetState = kSubnegotiation;
                    line.subnegotiationLength = 0;
                } else if (byte >= kWill && byte <= kDont) {
                    line.subnegotiation[0] = byte;
                    line.telnetState = kOption;
                } else {
                    line.telnetState = kData;  // IAC IAC (a data byte) or a command without an option
                }
                break;
            case kOption:
                AnswerOption(port, line, line.subnegotiation[0], byte);
                line.telnetState = kData;
                break;
            case kSubnegotiation:
                if (byte == kIac) {
                    line.telnetState = kSubnegotiationIac;
                } else if (line.subnegotiationLength < sizeof line.subnegotiation) {
                    line.subnegotiation[line.subnegotiationLength++] = byte;
                }
                break;
            case kSubnegotiationIac:
                if (byte == kSe) {
                    TakeSubnegotiation(line);
                    line.telnetState = kData;
                } else {
                    if (line.subnegotiationLength < sizeof line.subnegotiation) {
                        line.subnegotiation[line.subnegotiationLength++] = byte;
                    }
                    line.telnetState = kSubnegotiation;
                }
                break;
            default: line.telnetState = kData; break;
        }
    }
}

// Reads what has arrived, waiting up to `waitMs`; false with the fault set when the server closed
// the connection or it failed.
bool Receive(PlatformPort& port, NetworkLine& line, int waitMs) {
    pollfd request{port.fd, POLLIN, 0};
    const int ready = poll(&request, 1, waitMs);
    if (ready < 0 && errno != EINTR) return Lost(port, "poll", errno, false);
    if (ready <= 0) return true;
    uint8_t bytes[512];
    for (;;) {
        const ssize_t got = recv(port.fd, bytes, sizeof bytes, MSG_DONTWAIT);
        if (got > 0) {
            TakeIncoming(port, line, bytes, static_cast<size_t>(got));
            // Acknowledged at once: a server that holds its next answer until its last one is
            // acknowledged (Nagle's rule) would otherwise wait out our delayed acknowledgement.
            const int on = 1;
            setsockopt(port.fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return Lost(port, got == 0 ? "read: the server closed the connection" : "read", got == 0 ? 0 : errno, false);
    }
}

// Waits, reading the server, until `done` holds or the deadline passes.
template <class Condition>
bool AwaitServer(PlatformPort& port, NetworkLine& line, Microseconds deadline, Condition done) {
    while (!done()) {
        const int left = RemainingMs(deadline);
        if (left == 0) return false;
        if (!Receive(port, line, left)) return false;
    }
    return true;
}

int SocketAboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

void SetSocketOptions(int fd) {
    const int on = 1;
    // The protocol's pauses reach the sign as pauses: nothing is held back to be sent together.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // About one frame in flight: the system keeps its smallest send buffer.
    const int sendBuffer = 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    // A path that drops silently fails the connection within a write's grace, sending or idle.
    const unsigned userTimeoutMs = kWriteGraceMs;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
    const int idleSeconds = 1, intervalSeconds = 1, probes = 2;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

bool Resolve(PlatformPort& port, NetworkLine& line, const char* name) {
    char host[256];
    char service[6];
    if (!SplitAddress(name, host, service)) {
        Fail(port, 0, "no usable network address", 0, false, false);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host, service, &hints, &found);
    if (error != 0 || found == nullptr) {
        Fail(port, 0, error == EAI_SYSTEM ? "getaddrinfo" : gai_strerror(error), error == EAI_SYSTEM ? errno : 0, false,
             false);
        return false;
    }
    std::memcpy(&line.address, found->ai_addr, found->ai_addrlen);
    line.addressLength = found->ai_addrlen;
    freeaddrinfo(found);
    line.resolved = true;
    return true;
}

int32_t Connect(PlatformPort& port, NetworkLine& line, Microseconds deadline) {
    const int fd = SocketAboveStandardStreams(
        socket(line.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
    if (fd < 0) return Fail(port, -1, "socket", errno, false, false);
    SetSocketOptions(fd);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&line.address), line.addressLength) != 0 &&
        errno != EINPROGRESS) {
        const int error = errno;
        close(fd);
        return Fail(port, -1, "connect", error, false, false);
    }
    pollfd request{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (poll(&request, 1, RemainingMs(deadline)) <= 0) {
        close(fd);
        return Fail(port, -1, "connect: no answer from the server", 0, false, false);
    }
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        close(fd);
        return Fail(port, -1, "connect", error, false, false);
    }
    port.fd = fd;
    return 1;
}

// RFC 2217 at connect: binary both ways, COM-PORT-OPTION, then the four settings, each answered
// by the server with what it set. -2 when an answer differs from what was asked.
int32_t NegotiateLine(PlatformPort& port, NetworkLine& line, const LineSettings& settings, Microseconds deadline) {
    const uint8_t offer[] = {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPortOption};
    if (!SendAll(port, offer, sizeof offer, deadline)) return -1;
    const uint8_t parity = settings.parity < 3 ? settings.parity : 0;
    const uint32_t asked[5] = {0, static_cast<uint32_t>(settings.baudRate), static_cast<uint8_t>(settings.dataBits),
                               kRfcParity[parity], settings.stopBits == 2 ? 2u : 1u};
    for (uint8_t setting = kSetBaudRate; setting <= kSetStopSize; ++setting) {
        line.answeredSetting[setting] = false;
        if (!SendSetting(port, setting, asked[setting], deadline)) return -1;
    }
    const bool answered = AwaitServer(port, line, deadline, [&line] {
        return line.answeredSetting[1] && line.answeredSetting[2] && line.answeredSetting[3] && line.answeredSetting[4];
    });
    if (!answered) {
        if (port.fault.operation == nullptr) {
            Fail(port, 0, "rfc2217: the server did not answer the line settings", 0, false, false);
        }
        return -1;
    }
    for (uint8_t setting = kSetBaudRate; setting <= kSetStopSize; ++setting) {
        if (line.answered[setting] != asked[setting]) {
            return Fail(port, -2, "rfc2217: the server set other line settings than asked", 0, false, false);
        }
    }
    return 1;
}

int32_t NetworkOpen(PlatformPort& port, void* state, const char* portName, const LineSettings& settings) {
    NetworkLine& line = *static_cast<NetworkLine*>(state);
    port.fd = kFailedDescriptor;
    line.kind = StartsWith(portName, kRfc2217Scheme) ? NetworkKind::kRfc2217 : NetworkKind::kRawTcp;
    if (!line.resolved && !Resolve(port, line, portName)) return -1;
    const Microseconds deadline = NowUs() + static_cast<Microseconds>(kWriteGraceMs) * 1000;
    if (Connect(port, line, deadline) != 1) {
        port.fd = kFailedDescriptor;
        return -1;
    }
    line.baudRate = settings.baudRate;
    line.lineFreeAtUs = 0;
    line.suspended = false;
    line.telnetState = kData;
    line.baudAnswers = 0;
    std::memset(line.refusedOption, 0, sizeof line.refusedOption);
    if (line.kind == NetworkKind::kRfc2217) {
        const int32_t negotiated = NegotiateLine(port, line, settings, deadline);
        if (negotiated != 1) {
            const LineFault fault = port.fault;
            Abort(port);
            port.fd = negotiated == -1 ? kFailedDescriptor : kNoDescriptor;
            port.fault = fault;
            return negotiated;
        }
    }
    port.baudRate = settings.baudRate;
    port.pseudoTerminal = false;
    port.fault = LineFault{};
    return 1;
}

// Over RFC 2217 a write goes out only once the server has answered a question (the speed it
// runs at) and has not asked to hold data: a stopped server answers nothing, so nothing of the
// write waits in its queues to reach the sign late.
bool ServerServing(PlatformPort& port, NetworkLine& line, Microseconds deadline) {
    const uint32_t before = line.baudAnswers;
    if (!SendSetting(port, kSetBaudRate, 0, deadline)) return false;
    if (AwaitServer(port, line, deadline, [&line, before] { return line.baudAnswers != before && !line.suspended; })) {
        return true;
    }
    if (port.fault.operation != nullptr && !port.fault.timedOut) return false;
    return Lost(port,
                line.suspended ? "rfc2217: the server held the data past the deadline"
                               : "rfc2217: the server did not answer before the deadline",
                0, true);
}

// The bytes, with every 0xFF doubled over Telnet.
bool SendData(PlatformPort& port, const NetworkLine& line, const uint8_t* bytes, uint32_t count,
              Microseconds deadline) {
    if (line.kind == NetworkKind::kRawTcp) return SendAll(port, bytes, count, deadline);
    uint8_t chunk[512];
    size_t used = 0;
    for (uint32_t index = 0; index < count; ++index) {
        chunk[used++] = bytes[index];
        if (bytes[index] == kIac) chunk[used++] = kIac;
        if (used >= sizeof chunk - 1 || index + 1 == count) {
            if (!SendAll(port, chunk, used, deadline)) return false;
            used = 0;
        }
    }
    return true;
}

// Waits until the server's host has acknowledged every byte.
bool AwaitAcknowledged(PlatformPort& port, Microseconds deadline) {
    for (;;) {
        int unacknowledged = 0;
        if (ioctl(port.fd, SIOCOUTQ, &unacknowledged) != 0) return Lost(port, "SIOCOUTQ", errno, false);
        if (unacknowledged <= 0) return true;
        if (RemainingMs(deadline) == 0) {
            return Lost(port, "the server's host acknowledged nothing before the deadline", 0, true);
        }
        SleepUntil(NowUs() + 1000);
    }
}

int32_t NetworkWrite(PlatformPort& port, void* state, const uint8_t* bytes, uint32_t count) {
    NetworkLine& line = *static_cast<NetworkLine*>(state);
    port.fault = LineFault{};
    if (port.fd < 0) return -1;
    const Microseconds start = NowUs();
    const Microseconds deadline = start + static_cast<Microseconds>(WriteDeadlineMs(count, line.baudRate)) * 1000;
    const bool telnet = line.kind == NetworkKind::kRfc2217;
    bool done = Receive(port, line, 0);
    // Over RFC 2217 the server answers before the bytes go (it is serving) and after them (it has
    // read them: its answer also acknowledges them, where a lone write would wait out the
    // server's delayed acknowledgement). Over raw TCP the server's host acknowledging them is all
    // a client can know.
    if (done && telnet) done = ServerServing(port, line, deadline);
    if (done) done = SendData(port, line, bytes, count, deadline);
    if (done) {
        line.lineFreeAtUs = (line.lineFreeAtUs > start ? line.lineFreeAtUs : start) + LineTimeUs(count, line.baudRate);
        done = telnet ? ServerServing(port, line, deadline) : true;
    }
    if (done) {
        // Paced at the sign's line rate: the write takes as long as the line would, so no more
        // than about this write is ever ahead of the sign.
        SleepUntil(line.lineFreeAtUs < deadline ? line.lineFreeAtUs : deadline);
        done = telnet || AwaitAcknowledged(port, deadline);
    }
    if (done) return 1;
    // Nothing of it may arrive later: the server is told to drop what it holds, and the
    // connection is reset. The line counts as lost, and the next call connects again.
    if (line.kind == NetworkKind::kRfc2217) {
        const uint8_t purge = kPurgeServerTransmitBuffer;
        uint8_t message[] = {kIac, kSb, kComPortOption, kPurgeData, purge, kIac, kSe};
        send(port.fd, message, sizeof message, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    Abort(port);
    port.fault.gone = true;
    return -1;
}

void NetworkClose(PlatformPort& port, void*) {
    if (port.fd >= 0) close(port.fd);
    port.fd = kNoDescriptor;
}

}  // namespace

const PortTransport kNetworkTransport{&NetworkOpen, &NetworkWrite, &NetworkClose};

#endif

}  // namespace ledsign
