// Ports on Windows: the system's lists of COM ports, and why one would not open.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "tools/common/TextFormat.h"
#include "tools/ledctl/Ports.h"

namespace ledsign::tools {

namespace {

std::string DeviceName(const std::string& portName) {
    return portName.find('\\') == std::string::npos ? "\\\\.\\" + portName : portName;
}

// n of a name "COMn", or 0 for any other name.
int ComNumber(const char* name) {
    if (std::strncmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') return 0;
    char* end = nullptr;
    const long number = std::strtol(name + 3, &end, 10);
    return *end == '\0' && number <= 256 ? static_cast<int>(number) : 0;
}

// Opens the port as the plug-ins do; the handle or INVALID_HANDLE_VALUE with the error.
HANDLE OpenLikeThePlugins(const std::string& portName, DWORD& error) {
    const HANDLE handle = CreateFileA(DeviceName(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return handle;
}

// The COM ports the system lists, by number, with what it says of each: the device map under
// HARDWARE\\DEVICEMAP\\SERIALCOMM and the DOS device names. Nothing is opened.
std::map<int, std::string> ListedPorts() {
    std::map<int, std::string> listed;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD index = 0;; ++index) {
            char name[256];
            BYTE value[64];
            DWORD nameSize = sizeof name, valueSize = sizeof value - 1, type = 0;
            if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, value, &valueSize) != ERROR_SUCCESS) break;
            value[valueSize] = 0;
            const int number = ComNumber(reinterpret_cast<char*>(value));
            if (number > 0) listed[number] = std::string("system list: ") + name;
        }
        RegCloseKey(key);
    }
    std::vector<char> names(65536);
    const DWORD size = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (const char* name = names.data(); size > 0 && *name != '\0'; name += std::strlen(name) + 1) {
        const int number = ComNumber(name);
        char target[512] = {};
        if (number <= 0 || QueryDosDeviceA(name, target, sizeof target) == 0) continue;
        std::string& description = listed[number];
        description = std::string("device ") + target + (description.empty() ? "" : ", " + description);
    }
    return listed;
}

}  // namespace

std::vector<PortEntry> ListPorts(bool probe) {
    std::map<int, std::string> listed = ListedPorts();
    std::vector<PortEntry> ports;
    for (int number = 1; number <= 256; ++number) {
        const std::string name = "COM" + std::to_string(number);
        const auto found = listed.find(number);
        std::string state =
            "listed by the system; not opened (ledctl ports --probe opens it to see whether it is in use)";
        if (probe) {
            DWORD error = 0;
            const HANDLE handle = OpenLikeThePlugins(name, error);
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
            const bool answers = handle != INVALID_HANDLE_VALUE || error == ERROR_ACCESS_DENIED;
            if (!answers && found == listed.end()) continue;
            state = handle != INVALID_HANDLE_VALUE ? "free" : error == ERROR_ACCESS_DENIED ? "in use" : "absent";
        } else if (found == listed.end()) {
            continue;
        }
        const std::string description = found != listed.end() ? found->second : "answers an open, listed nowhere";
        ports.push_back({name, DeviceName(name), description, state, true});
    }
    return ports;
}

OpenDiagnosis ExplainOpenFailure(const PortSettings& settings, int32_t result) {
    const std::string port = settings.portName;
    if (port.empty()) return {OpenFailure::kNoDevice, "no port name was given"};
    DWORD error = 0;
    const HANDLE handle = OpenLikeThePlugins(port, error);
    if (handle == INVALID_HANDLE_VALUE) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {OpenFailure::kNoDevice, "no such device: " + port + " does not exist here (" +
                                                SystemErrorText(error) +
                                                "). Next: `ledctl ports` lists the COM ports of this machine."};
        }
        if (error == ERROR_ACCESS_DENIED) {
            return {OpenFailure::kInUse, "in use: another program holds " + port + " (" + SystemErrorText(error) +
                                             "). Next: close that program, then try again."};
        }
        return {OpenFailure::kOther, "cannot open " + port + ": " + SystemErrorText(error) + "."};
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = GetCommState(handle, &dcb) != 0;
    CloseHandle(handle);
    if (!serial) return {OpenFailure::kNotSerial, "not a serial device: " + port + " opens but is no COM port."};
    if (result == -2) {
        return {OpenFailure::kRefused, "the port refused the line settings (speed " +
                                           std::to_string(settings.baudRate) + ", data bits " +
                                           std::to_string(settings.dataBits) +
                                           "). Next: use the settings the sign reports (`ledctl PLUGIN info`)."};
    }
    return {OpenFailure::kOther,
            port + " opens now: it was busy for a moment, or the open failed for a reason that has passed."};
}

std::string ExplainWriteFailure(const PortSettings& settings, long tookMs) {
    DWORD error = 0;
    const HANDLE handle = OpenLikeThePlugins(settings.portName, error);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return "the port went away: " + std::string(settings.portName) +
               " no longer exists (adapter unplugged?); the plug-in opens it again by itself once it is back.";
    }
    if (RanIntoDeadline(tookMs)) {
        return "the line stalled: the bytes were not taken within the write's deadline (flow control held off, "
               "the far side not reading, or a wedged adapter).";
    }
    return "the port failed the write at once: the line hung up or the device reported an error.";
}

}  // namespace ledsign::tools
