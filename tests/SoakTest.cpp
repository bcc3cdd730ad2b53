// A host runs for months: a thousand load-open-write-unload cycles, and a thousand
// open-write-close cycles, must not leave descriptors or memory behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
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
    std::ifstream("/proc/self/statm") >> pages >> resident;
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

// Runs `cycle` (its failures, counted) kCycles times after 50 that let the allocator and loader
// warm up: no failure, and descriptors and resident memory as they were after the warm-up.
template <class Cycle>
void ExpectSteadyCycles(Cycle cycle) {
    int failures = 0, descriptors = 0;
    long resident = 0;
    for (int count = 0; count < kCycles + 50; ++count) {
        if (count == 50) {
            descriptors = OpenDescriptors();
            resident = ResidentKiB();
        }
        failures += cycle();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_LT(ResidentKiB() - resident, kAllowedGrowthKiB) << "resident memory grew";
}

class Soak : public ::testing::TestWithParam<SignCase> {
protected:
    // InitLed, OpenLed and something sent: how many of the calls failed. Signs that pause long per
    // text (header-framed, 200 ms) send the clear command.
    int OpenAndSend(Plugin& plugin) {
        plugin.InitLed(&settings_);
        const int failures = plugin.OpenLed() != 1;
        return failures + ((GetParam().minWriteMs < 10 ? plugin.Write2Led("A#B") : plugin.ClearLed()) != 1);
    }

    HeldPty pty_;
    const PortSettings settings_ = MakePortSettings(pty_.PortName(), 9600);
};

TEST_P(Soak, LoadOpenWriteUnloadWithThePortOpen) {
    QuietStandardError quiet;
    ExpectSteadyCycles([this] {
        Plugin plugin(GetParam().sign);
        return OpenAndSend(plugin);
    });  // each plug-in unloaded with its port open
    EXPECT_TRUE(pty_.Received().size() > 0);
}

TEST_P(Soak, OpenWriteCloseWithoutUnloading) {
    Plugin plugin(GetParam().sign);
    ExpectSteadyCycles([&] {
        const int failures = OpenAndSend(plugin);
        plugin.CloseLed();
        return failures + (plugin.IsLedOpened() != 0);
    });
}

INSTANTIATE_TEST_SUITE_P(Plugins, Soak, ::testing::ValuesIn(kSignCases), SignCaseName<::testing::TestParamInfo<SignCase>>);

}  // namespace
}  // namespace ledsign::test
