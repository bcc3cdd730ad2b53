#include "DrainStandIn.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ledsign::test {

std::atomic<bool> adapters{false};
std::atomic<int> heldDrain{kNoDrainHeld};

}  // namespace ledsign::test

using ledsign::test::heldDrain;

extern "C" int tcdrain(int fd) {
    for (int waited = 0; (heldDrain == ledsign::test::kEveryDrainHeld || heldDrain == fd) && waited < 6000; ++waited) {
        usleep(5000);
    }
    return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "tcdrain"))(fd);
}

extern "C" int fstat(int fd, struct stat* status) noexcept {
    const int result = reinterpret_cast<int (*)(int, struct stat*)>(dlsym(RTLD_NEXT, "fstat"))(fd, status);
    const bool pty = S_ISCHR(status->st_mode) && major(status->st_rdev) >= 136 && major(status->st_rdev) <= 143;
    if (result == 0 && ledsign::test::adapters && pty) status->st_rdev = makedev(188, minor(status->st_rdev));
    return result;
}
