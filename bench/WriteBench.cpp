// How far each Write2Led takes longer than the pauses its protocol mandates, on a pty, for
// every plug-in and three kinds of text; and how many heap allocations each export makes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "AllocationCounter.h"
#include "Plugin.h"
#include "Pty.h"
#include "signs/AllModels.h"

namespace ledsign::bench {
namespace {

using test::Plugin;
using test::Pty;

struct TextCase {
    const char* name;
    std::string text;
};

const TextCase kTexts[] = {
    {"short", "A"},
    {"two_rows", "OK#\xD6\xD0\xCE\xC4"},
    {"200_bytes", std::string(100, 'A') + "#" + std::string(99, 'B')},
};

// The pauses a call must take: 100 ms after each row of a two-row header-framed sign, 200 ms
// after a one-row header-framed text, 1 ms per ESC-line frame.
double MandatedPauseSeconds(const SignModel& model, const std::string& text) {
    if (IsHeaderFramed(model.protocol)) return 0.2;
    const bool hasRow1 = !text.empty() && text[0] != '#';
    const size_t hash = text.find('#');
    const bool hasRow2 = hash != std::string::npos && hash + 1 < text.size();
    return 0.001 * (hasRow1 + hasRow2);
}

void WriteAbovePauses(benchmark::State& state, const SignModel* model, const std::string& text) {
    Pty pty;
    pty.HoldSlave();
    Plugin plugin(model->name);
    if (plugin.OpenOn(pty.PortName(), 9600) != 1) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    const double pause = MandatedPauseSeconds(*model, text);
    double worst = 0;
    long calls = 0;
    long allocations = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        test::StartCountingAllocations();
        const int32_t result = plugin.Write2Led(text.c_str());
        allocations += test::StopCountingAllocations();
        ++calls;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result != 1) state.SkipWithError("Write2Led failed");
        state.SetIterationTime(elapsed - pause);
        worst = std::max(worst, elapsed - pause);
    }
    // Every benchmark reports the same counters, as the CSV report needs.
    state.counters["worst_ms"] = worst * 1000;
    state.counters["pause_ms"] = pause * 1000;
    state.counters["allocations_per_call"] = calls > 0 ? static_cast<double>(allocations) / calls : 0;
}

// Heap allocations over a whole session of export calls (goal: none).
void AllocationsPerExportCall(benchmark::State& state, const std::string& sign) {
    Pty pty;
    pty.HoldSlave();
    Plugin plugin(sign);
    const PortSettings settings = test::MakePortSettings(pty.PortName(), 9600);
    LEDAtt attributes{};
    long calls = 0;
    long allocations = 0;
    for (auto _ : state) {
        test::StartCountingAllocations();
        plugin.InitLed(&settings);
        plugin.OpenLed();
        plugin.ClearLed();
        plugin.SetShowMode(0);
        plugin.GetLEDAtt(&attributes);
        plugin.GetVer();
        plugin.IsLedOpened();
        plugin.CloseLed();
        allocations += test::StopCountingAllocations();
        calls += 8;
    }
    state.counters["worst_ms"] = 0;
    state.counters["pause_ms"] = 0;
    state.counters["allocations_per_call"] = calls > 0 ? static_cast<double>(allocations) / calls : 0;
}

void RegisterAll() {
    for (const BuiltModel& built : kBuiltModels) {
        const char* sign = built.model->name;
        for (const TextCase& text : kTexts) {
            const bool slow = IsHeaderFramed(built.model->protocol);
            benchmark::RegisterBenchmark((std::string("Write2LedAbovePauses/") + sign + "/" + text.name).c_str(),
                                         WriteAbovePauses, built.model, text.text)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond)
                ->Iterations(slow ? 15 : 300);
        }
        benchmark::RegisterBenchmark((std::string("AllocationsPerExportCall/") + sign).c_str(),
                                     AllocationsPerExportCall, std::string(sign))
            ->Iterations(200)
            ->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace
}  // namespace ledsign::bench

int main(int argc, char** argv) {
    ledsign::bench::RegisterAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
