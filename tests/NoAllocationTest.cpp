// No export allocates from the heap: malloc and friends are counted around the calls.
#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "Plugin.h"
#include "Pty.h"
#include "SignCases.h"

namespace ledsign::test {
namespace {

class NoAllocation : public ::testing::TestWithParam<SignCase> {};

TEST_P(NoAllocation, ExportCallsNeverTouchTheHeap) {
    HeldPty pty;
    Plugin plugin(GetParam().sign);
    const PortSettings settings = MakePortSettings(pty.PortName());
    LEDAtt attributes{};
    std::string longText(300, 'A');
    longText[150] = '#';

    StartCountingAllocations();
    plugin.InitLed(&settings);
    plugin.InitLed(nullptr);
    plugin.InitLed(&settings);
    const int32_t opened = plugin.OpenLed();
    const int32_t written = plugin.Write2Led("AB#D");
    plugin.Write2Led(longText.c_str());
    plugin.Write2Led("");
    plugin.ClearLed();
    plugin.SetShowMode(1);
    plugin.GetLEDAtt(&attributes);
    plugin.GetVer();
    plugin.IsLedOpened();
    plugin.CloseLed();
    plugin.Write2Led("AB#D");
    const long allocations = StopCountingAllocations();

    EXPECT_EQ(opened, 1);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(allocations, 0);
}

INSTANTIATE_TEST_SUITE_P(Plugins, NoAllocation, ::testing::ValuesIn(kSignCases),
                         SignCaseName<::testing::TestParamInfo<SignCase>>);

}  // namespace
}  // namespace ledsign::test
