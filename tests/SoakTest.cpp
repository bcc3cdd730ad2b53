// A host runs for months: a thousand load-open-write-unload cycles, and a thousand
// open-write-close cycles, must not leave descriptors or memory behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Plugin.h"
#include "ProcessProbe.h"
#include "Pty.h"
#include "SignCases.h"

namespace ledsign::test {
namespace {

constexpr int kCycles = 1000;

// A sanitizer keeps freed memory in quarantine and maps shadow for every load, so resident
// memory says nothing there; the plain build checks it.
#if defined(LEDSIGN_SANITIZED)
constexpr long kAllowedGrowthKiB = 1L << 30;
#else
constexpr long kAllowedGrowthKiB = 1024;
#endif

long ResidentKiB() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The load and unload trace lines would fill the log: standard error goes quiet meanwhile.
class QuietStandardError {
public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStandardError() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

// Signs that pause long per text (header-framed, 200 ms) send the clear command in their cycles.
int32_t SendSomething(Plugin& plugin, const SignCase& sign) {
    return sign.minWriteMs < 10 ? plugin.Write2Led("A#B") : plugin.ClearLed();
}

class Soak : public ::testing::TestWithParam<SignCase> {};

TEST_P(Soak, LoadOpenWriteUnloadWithThePortOpen) {
    HeldPty pty;
    const PortSettings settings = MakePortSettings(pty.PortName(), 9600);
    QuietStandardError quiet;
    int failures = 0;
    int descriptors = 0;
    long resident = 0;
    for (int cycle = 0; cycle < kCycles + 50; ++cycle) {
        if (cycle == 50) {  // after the allocator and loader have warmed up
            descriptors = OpenDescriptors();
            resident = ResidentKiB();
        }
        Plugin plugin(GetParam().sign);
        plugin.InitLed(&settings);
        failures += plugin.OpenLed() != 1;
        failures += SendSomething(plugin, GetParam()) != 1;
    }  // unloaded with the port open
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_LT(ResidentKiB() - resident, kAllowedGrowthKiB) << "resident memory grew";
    EXPECT_TRUE(pty.Received().size() > 0);
}

TEST_P(Soak, OpenWriteCloseWithoutUnloading) {
    HeldPty pty;
    const PortSettings settings = MakePortSettings(pty.PortName(), 9600);
    Plugin plugin(GetParam().sign);
    int failures = 0;
    int descriptors = 0;
    long resident = 0;
    for (int cycle = 0; cycle < kCycles + 50; ++cycle) {
        if (cycle == 50) {
            descriptors = OpenDescriptors();
            resident = ResidentKiB();
        }
        plugin.InitLed(&settings);
        failures += plugin.OpenLed() != 1;
        failures += SendSomething(plugin, GetParam()) != 1;
        plugin.CloseLed();
        failures += plugin.IsLedOpened() != 0;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_LT(ResidentKiB() - resident, kAllowedGrowthKiB) << "resident memory grew";
}

INSTANTIATE_TEST_SUITE_P(Plugins, Soak, ::testing::ValuesIn(kSignCases), SignCaseName<::testing::TestParamInfo<SignCase>>);

}  // namespace
}  // namespace ledsign::test
