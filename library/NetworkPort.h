// Signs behind network serial servers: "tcp://HOST:PORT" (raw TCP) and "rfc2217://HOST:PORT"
// (Telnet with RFC 2217's COM-PORT-OPTION, which carries the line settings to the server's UART).
// A write's 1 means what it means on a serial line: its bytes are on their way to the sign, not
// parked behind a stalled server. Each write is paced at the configured line rate, so that no more
// than about a frame is in flight, and waits until the server's host has taken every byte; over
// RFC 2217 the server must first answer a question, which a stopped server cannot. A write that
// runs into its deadline aborts the connection, leaving nothing behind to arrive late, and counts
// as a lost line: the next call connects again (at once, then at most once a second).
#pragma once

#include <cstdint>

#include "serial/SerialPort.h"

#if !defined(_WIN32)
#include <sys/socket.h>
#endif

namespace ledsign {

enum class NetworkKind : uint8_t { kRawTcp, kRfc2217 };

// True for names that start with "tcp://" or "rfc2217://".
bool IsNetworkPortName(const char* name);

#if !defined(_WIN32)
// One connection's state, kept by its sign. The address is resolved once, at the first connect,
// so that reconnecting takes no memory and no name lookup.
struct NetworkLine {
    NetworkKind kind = NetworkKind::kRawTcp;
    bool resolved = false;
    sockaddr_storage address{};
    socklen_t addressLength = 0;
    int32_t baudRate = 0;
    int64_t lineFreeAtUs = 0;  // when the sign's line would have sent everything so far
    // RFC 2217: the server's answers and flow control, as its Telnet stream tells them.
    bool suspended = false;
    uint32_t baudAnswers = 0;
    uint32_t answered[5] = {};  // per setting (1 baud, 2 data size, 3 parity, 4 stop size): its last value
    bool answeredSetting[5] = {};
    uint8_t telnetState = 0;
    uint8_t subnegotiation[8] = {};
    uint8_t subnegotiationLength = 0;
    bool refusedOption[256] = {};  // options already refused, so that no refusal is repeated
};

// Checks "HOST:PORT" after the scheme: a host (a name, an IPv4 address or [IPv6]) and a port
// number 1..65535.
bool ValidNetworkAddress(const char* name);

extern const PortTransport kNetworkTransport;
#endif

}  // namespace ledsign
