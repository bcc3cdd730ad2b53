#include "HeldDrain.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<bool> adapters{false};
std::atomic<bool> held{false};

template <class Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int tcdrain(int fd) {
    const auto start = std::chrono::steady_clock::now();
    while (held && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    static const auto next = Next<int (*)(int)>("tcdrain");
    return next(fd);
}

extern "C" int fstat(int fd, struct stat* status) noexcept {
    static const auto next = Next<int (*)(int, struct stat*)>("fstat");
    const int result = next(fd, status);
    const unsigned deviceMajor = major(status->st_rdev);
    if (result == 0 && adapters && S_ISCHR(status->st_mode) && deviceMajor >= 136 && deviceMajor <= 143) {
        status->st_rdev = makedev(188, minor(status->st_rdev));
    }
    return result;
}

namespace ledsign::test {

HeldDrain::HeldDrain() { adapters = true; }
HeldDrain::~HeldDrain() {
    held = false;
    adapters = false;
}
void HeldDrain::Hold() { held = true; }
void HeldDrain::Release() { held = false; }

}  // namespace ledsign::test
