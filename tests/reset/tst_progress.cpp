// How far a run has got: the bar over the ticked rows, the subscriber under way, the times.
#include "reset_helpers.h"

#include "reset/RunProgress.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace zeph;
using std::chrono::seconds;

namespace {

TEST(RunProgress, TellsTheCountTheSubscriberAndTheTimes) {
    const RunProgress::Clock::time_point t0{};
    RunProgress progress;
    progress.start(4, t0);
    EXPECT_EQ(progress.text(t0), "0 of 4, 0:00 elapsed");
    progress.update(0, "jsmith");
    EXPECT_EQ(progress.text(t0 + seconds(5)), "1 of 4: jsmith, 0:05 elapsed");
    progress.update(1, "");
    // One in 10 s: three more take about 30 s.
    EXPECT_EQ(progress.text(t0 + seconds(10)), "1 of 4, 0:10 elapsed, about 0:30 left");
    progress.update(3, "zed");
    EXPECT_EQ(progress.text(t0 + seconds(3600)), "4 of 4: zed, 1:00:00 elapsed, about 20:00 left");
    progress.update(4, "");
    EXPECT_EQ(progress.text(t0 + seconds(3725)), "4 of 4, 1:02:05 elapsed, about 0:00 left");

    const struct {
        long long seconds;
        const char *text;
    } durations[] = {{0, "0:00"},     {59, "0:59"},        {61, "1:01"},
                     {3599, "59:59"}, {36000, "10:00:00"}, {-3, "0:00"}};
    for (const auto &d : durations)
        EXPECT_EQ(RunProgress::durationText(seconds(d.seconds)), d.text);
}

// The bar counts the ticked rows only, and names each subscriber while it is under way.
TEST(RunProgress, TheResetPageCountsTheTickedRows) {
    test::ResetBench b;
    b.templateAlias = "salesTemplateEast";
    const test::SubscriberFacts s = b.find([&](const auto &f) { return b.ordinary(f); });
    b.addRow(s.objectId, false);
    b.addRow(s.objectId);
    b.addRow(s.objectId, false);
    b.addRow(s.objectId, false);

    std::vector<std::pair<int, std::string>> seen;
    b.page->stateChanged = [&] {
        const auto &bar = b.page->ProgressBar;
        EXPECT_LE(bar.Value, 1);
        if (seen.empty() || seen.back() != std::pair(bar.Value, b.page->progress.current()))
            seen.emplace_back(bar.Value, b.page->progress.current());
    };
    b.run();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().first, 1);
    EXPECT_EQ(b.page->ProgressBar.Max, 1);
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::pair(0, s.alias)), seen.end());
    EXPECT_EQ(b.page->progress.done(), 1);
    EXPECT_EQ(b.page->progress.total(), 1);
}

} // namespace
