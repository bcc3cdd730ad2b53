// Calls Write2Led once per text between two marker system calls (getppid), so that a
// system-call trace shows exactly what one call costs. Run it under strace (scripts/bench.sh).
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "include/ledsign.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: syscall_probe PLUGIN.so TEXT...\n");
        return 2;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const std::string slave = ptsname(master);
    const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);  // keeps the line up
    void* library = dlopen(argv[1], RTLD_NOW);
    if (library == nullptr || held < 0) return 1;
    auto init = reinterpret_cast<InitLedFn>(dlsym(library, "InitLed"));
    auto open = reinterpret_cast<OpenLedFn>(dlsym(library, "OpenLed"));
    auto write = reinterpret_cast<Write2LedFn>(dlsym(library, "Write2Led"));
    PortSettings settings{};
    slave.substr(5).copy(settings.portName, 9);
    settings.baudRate = 9600;
    settings.dataBits = 8;
    settings.stopBits = 1;
    init(&settings);
    if (open() != 1) return 1;
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        syscall(SYS_getppid);
        failures += write(argv[i]) != 1;
        syscall(SYS_getppid);
    }
    return failures;
}
