// What ledctl finds out about serial ports by looking at them itself, since the nine exports carry
// no reasons: the ports this machine has, why one would not open, and why a write failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "include/ledsign.h"
#include "serial/LineSettings.h"

namespace ledsign::tools {

struct PortEntry {
    std::string pluginName;   // what to give the plug-in as its port name
    std::string path;         // the device (Linux) or the name opened (Windows)
    std::string description;  // what a person recognises it by: driver, USB ids and serial, by-id name
    std::string state;        // "free", "in use" (by whom, where known), "absent", "no access", "not opened"
    bool nameFits;            // the plug-in name fits the record's 9 characters
};

// The serial ports of this machine. Linux: every tty under /sys/class/tty with a device behind it
// (a ttyS only with a UART present), none of them opened. Windows: the ports the system lists;
// with `probe` also every \\.\COMn (1..256) that answers an open, each of them opened once
// (which raises DTR and RTS on many drivers: equipment on such a port may reset).
std::vector<PortEntry> ListPorts(bool probe);

// A write that failed after nearly its whole grace ran into its deadline: the line stalled (a
// failure at once is a hang-up or an error).
inline bool RanIntoDeadline(long tookMs) { return tookMs >= static_cast<long>(kWriteGraceMs) * 95 / 100; }

enum class OpenFailure { kNoDevice, kPermission, kInUse, kNotSerial, kRefused, kOther };

struct OpenDiagnosis {
    OpenFailure reason;
    std::string text;  // the cause in words, with the next step
};

// Why OpenLed gave -1 or -2 on the port.
OpenDiagnosis ExplainOpenFailure(const PortSettings& settings, int32_t result);

// Why Write2Led gave -1: the port went away, or the line stalled (a write waited out its deadline,
// which `tookMs` shows).
std::string ExplainWriteFailure(const PortSettings& settings, long tookMs);

}  // namespace ledsign::tools
