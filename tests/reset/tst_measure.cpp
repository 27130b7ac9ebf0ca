// Measurements, not tests: the run's time per subscriber on virtual time. Run them with
//     test_reset --gtest_also_run_disabled_tests --gtest_filter='*Measure*'
#include "reset_helpers.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>

using namespace zeph;

namespace {

void measure(int subscribers) {
    auto startSetUp = std::chrono::steady_clock::now();
    test::ResetBench bench(subscribers, 7);
    auto all = bench.subscribers();
    for (const auto &[alias, id] : all)
        bench.addRow(id);
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    std::vector<std::string> lines = bench.run();
    std::clock_t cpuEnd = std::clock();
    auto end = std::chrono::steady_clock::now();
    double ms = std::chrono::duration<double, std::milli>(end - start).count();
    // Wall time is mostly the disk's: every log line and every saved row is synced to it.
    double cpuMs = 1000.0 * static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC;
    double setUp = std::chrono::duration<double, std::milli>(start - startSetUp).count();
    int reset = bench.page->summary()->subscribersReset;
    std::printf("[measure] %d seeded, %zu in the grid, %d reset, %zu log lines, %d errors: "
                "run %.0f ms, %.2f ms per grid row, processor %.2f ms per grid row (host set-up "
                "%.0f ms)\n",
                subscribers, all.size(), reset, lines.size(), bench.page->summary()->errorCount, ms,
                ms / static_cast<double>(all.size()), cpuMs / static_cast<double>(all.size()),
                setUp);
    EXPECT_GT(reset, 0);
}

TEST(ResetMeasure, DISABLED_PerSubscriber100) {
    measure(100);
}

TEST(ResetMeasure, DISABLED_PerSubscriber1000) {
    measure(1000);
}

} // namespace
