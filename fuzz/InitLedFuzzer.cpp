// Fuzzes InitLed with arbitrary 42-byte records (NUL-free fields included), then OpenLed
// against a device that does not exist: the driver must keep its buffers, refuse a name that
// does not fit, and report -1 or -2 without opening anything.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>

#include "driver/LedPort.h"
#include "fuzz/Require.h"
#include "serial/PosixTermios.h"

namespace {

bool DeviceExists(const char* portName) {
    char path[64];
    struct stat status {};
    return ledsign::ResolveDevicePath(portName, path, sizeof path) && stat(path, &status) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size != sizeof(PortSettings)) return 0;
    PortSettings record;
    std::memcpy(&record, data, sizeof record);
    ledsign::LedPort& port = ledsign::TheLedPort();
    port.Init(&record);

    const bool nameFits = std::memchr(record.portName, '\0', sizeof record.portName) != nullptr;
    Require(port.PortNameRefused() == !nameFits, "a name without NUL in its field must be refused");
    Require(std::memchr(port.PortName(), '\0', ledsign::kPortNameField) != nullptr, "stored name unterminated");
    if (nameFits) Require(std::strcmp(port.PortName(), record.portName) == 0, "stored name differs");
    Require(port.Settings().parity <= 2, "parity code out of range");

    if (!DeviceExists(port.PortName())) {
        const int32_t opened = port.OpenLed();
        Require(opened == -1, "opening a missing device must give -1");
        Require(port.IsOpen() == 0, "a failed open leaves the port closed");
        Require(port.Write("A", 1) == -1, "a write on a closed port fails");
    }
    port.CloseLed();
    return 0;
}
