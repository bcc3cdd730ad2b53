// No export allocates from the heap: malloc and friends are counted around the calls.
#include <gtest/gtest.h>

#include <atomic>

#include "Plugin.h"
#include "Pty.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);

namespace {
// Only the calling thread counts: the test's pty reader allocates as bytes arrive.
thread_local bool counting = false;
std::atomic<int> allocations{0};
void Count() {
    if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

namespace ledsign::test {
namespace {

class NoAllocation : public ::testing::TestWithParam<const char*> {};

TEST_P(NoAllocation, ExportCallsNeverTouchTheHeap) {
    Pty pty;
    pty.HoldSlave();
    Plugin plugin(GetParam());
    PortSettings settings{};
    pty.PortName().copy(settings.portName, 9);
    settings.baudRate = 2400;
    settings.dataBits = 8;
    settings.stopBits = 1;
    LEDAtt attributes{};
    std::string longText(300, 'A');
    longText[150] = '#';

    allocations = 0;
    counting = true;
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
    counting = false;

    EXPECT_EQ(opened, 1);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(allocations.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Plugins, NoAllocation, ::testing::Values("brava", "dorun", "cresto", "elvane"));

}  // namespace
}  // namespace ledsign::test
