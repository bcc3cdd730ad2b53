// The library with many signs at once: 1, 8 and 32 elvane signs on ptys, each written from a thread
// of its own at the same time. Each call's time above its pauses (two ESC-line frames, 1 ms after
// each) is compared with one sign alone; a lock shared between signs would make it grow with the
// count. Also the heap allocations per write and clear, and the heap bytes an open sign holds.
// Prints a Markdown table for bench/RESULTS.md.
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AllocationCounter.h"
#include "Pty.h"
#include "include/ledsign_lib.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCallsPerSign = 200;
constexpr double kPauseMs = 2.0;  // "A#B": two frames, 1 ms after each

// The calling thread's own processor time: what a call costs whatever else runs.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Figures {
    double meanCpuMs;
    double meanAboveMs;
    double p99AboveMs;
    int failures;
};

Figures WriteAtOnce(int signCount) {
    std::vector<std::unique_ptr<ledsign::test::Pty>> lines;
    std::vector<ledsign_sign*> signs;
    for (int index = 0; index < signCount; ++index) {
        lines.push_back(std::make_unique<ledsign::test::Pty>());
        lines.back()->HoldSlave();
        ledsign_sign* sign = nullptr;
        if (ledsign_open("elvane", lines.back()->SlavePath().c_str(), "9600,8,NONE,1", &sign) != 1) {
            std::fprintf(stderr, "open: %s\n", ledsign_last_error(nullptr));
            std::exit(1);
        }
        signs.push_back(sign);
    }
    std::vector<std::vector<double>> aboveMs(signCount);
    std::vector<double> cpuMs(signCount, 0);
    std::vector<int> failures(signCount, 0);
    std::vector<std::thread> threads;
    const auto start = Clock::now() + std::chrono::milliseconds(50);
    for (int index = 0; index < signCount; ++index) {
        threads.emplace_back([&, index] {
            std::this_thread::sleep_until(start);
            for (int call = 0; call < kCallsPerSign; ++call) {
                const auto before = Clock::now();
                const double cpuBefore = ThreadCpuMs();
                failures[index] += ledsign_write(signs[index], "A#B") != 1;
                cpuMs[index] += ThreadCpuMs() - cpuBefore;
                aboveMs[index].push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count() -
                                         kPauseMs);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (ledsign_sign* sign : signs) ledsign_close(sign);
    std::vector<double> all;
    int failed = 0;
    for (int index = 0; index < signCount; ++index) {
        all.insert(all.end(), aboveMs[index].begin(), aboveMs[index].end());
        failed += failures[index];
    }
    std::sort(all.begin(), all.end());
    double sum = 0;
    for (const double value : all) sum += value;
    double cpu = 0;
    for (const double value : cpuMs) cpu += value;
    return Figures{cpu / all.size(), sum / all.size(), all[all.size() * 99 / 100], failed};
}

// Allocations per write and clear on one sign, and the heap bytes an open sign holds (what the
// allocator counts in use after the open, less before it; the system's GBK converter included).
void Allocations() {
    ledsign::test::Pty pty;
    pty.HoldSlave();
    ledsign_sign* sign = nullptr;
    // A first open and close loads the system's conversion modules, which stay for the process.
    ledsign_open("elvane", pty.SlavePath().c_str(), nullptr, &sign);
    ledsign_close(sign);
    const size_t before = mallinfo2().uordblks;
    ledsign::test::StartCountingAllocations();
    ledsign_open("elvane", pty.SlavePath().c_str(), nullptr, &sign);
    const long perOpen = ledsign::test::StopCountingAllocations();
    const size_t held = mallinfo2().uordblks - before;
    long perCall = 0;
    constexpr int kCalls = 100;
    for (int call = 0; call < kCalls; ++call) {
        ledsign::test::StartCountingAllocations();
        ledsign_write(sign, "A#B");
        ledsign_write_utf8(sign, "\xE4\xB8\xAD#OK");
        ledsign_clear(sign);
        perCall += ledsign::test::StopCountingAllocations();
    }
    ledsign_close(sign);
    std::printf(
        "\nAn open sign holds %zu bytes of heap (port name \"%s\"), in %ld allocations: the sign's one block "
        "and the system's GBK converter. Heap allocations per ledsign_write, ledsign_write_utf8 and "
        "ledsign_clear: %.2f (%d calls of each).\n",
        held, pty.SlavePath().c_str(), perOpen, static_cast<double>(perCall) / (3 * kCalls), kCalls);
}

}  // namespace

int main() {
    std::printf(
        "| signs at once | calls | mean above pauses (ms) | 99th percentile (ms) | against one sign | "
        "processor time per call (ms) | against one sign | failed |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    Figures alone{};
    for (const int count : {1, 8, 32}) {
        const Figures figures = WriteAtOnce(count);
        if (count == 1) alone = figures;
        std::printf("| %d | %d | %.3f | %.3f | %.2fx | %.3f | %.2fx | %d |\n", count, count * kCallsPerSign,
                    figures.meanAboveMs, figures.p99AboveMs, figures.meanAboveMs / alone.meanAboveMs, figures.meanCpuMs,
                    figures.meanCpuMs / alone.meanCpuMs, figures.failures);
    }
    Allocations();
    return 0;
}
