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
    progress.update(0, "jsmith", t0 + seconds(1));
    EXPECT_EQ(progress.text(t0 + seconds(5)), "1 of 4: jsmith, 0:05 elapsed");
    progress.update(1, "", t0 + seconds(10));
    // One in 10 s: three more take about 30 s.
    EXPECT_EQ(progress.text(t0 + seconds(10)), "1 of 4, 0:10 elapsed, about 0:30 left");
    progress.update(3, "zed", t0 + seconds(3600));
    EXPECT_EQ(progress.text(t0 + seconds(3600)), "4 of 4: zed, 1:00:00 elapsed, about 20:00 left");
    progress.update(4, "", t0 + seconds(3725));
    EXPECT_EQ(progress.text(t0 + seconds(3725)), "4 of 4, 1:02:05 elapsed, about 0:00 left");
    const struct {
        long long seconds;
        const char *text;
    } durations[] = {{0, "0:00"},     {59, "0:59"},        {61, "1:01"},
                     {3599, "59:59"}, {36000, "10:00:00"}, {-3, "0:00"}};
    for (const auto &d : durations)
        EXPECT_EQ(RunProgress::durationText(seconds(d.seconds)), d.text);
}

// The estimate follows the pace of every subscriber done so far: while the next one takes its
// usual time the estimate moves down with the clock, and one slow subscriber among many does
// not throw it by the time that one took.
TEST(RunProgress, TheEstimateIsSmoothedOverTheSubscribersDone) {
    const RunProgress::Clock::time_point t0{};
    RunProgress progress;
    progress.start(1000, t0);
    // Ten subscribers of 4 s each: 990 more at 4 s.
    for (int done = 1; done <= 10; ++done)
        progress.update(done, "", t0 + seconds(4 * done));
    const struct {
        int at;   // seconds from the start
        int left; // the estimate then
    } during[] = {
        {40, 3960},             // the eleventh begins
        {41, 3959},             // under way: the estimate goes down with the clock
        {43, 3957}, {44, 3956}, // its usual time taken
        {60, 3956},             // a slow one: never below what the 989 after it take
    };
    progress.update(10, "slow", t0 + seconds(40));
    for (const auto &d : during)
        EXPECT_EQ(progress.remaining(t0 + seconds(d.at)), seconds(d.left)) << d.at;
    // The slow one (24 s) moves the pace to 64 s over eleven (5.818 s each), not to the 24 s
    // it took alone (which would say 6:35:36).
    progress.update(11, "", t0 + seconds(64));
    EXPECT_EQ(progress.remaining(t0 + seconds(64)), seconds(5754));
    EXPECT_EQ(progress.text(t0 + seconds(64)), "11 of 1000, 1:04 elapsed, about 1:35:54 left");
}

// The run's end stops its clock: a closing message that stays open an hour adds nothing.
TEST(RunProgress, TheElapsedTimeStopsWhenTheRunEnds) {
    const RunProgress::Clock::time_point t0{};
    RunProgress::Clock::time_point now = t0;
    RunProgress progress;
    progress.clock = [&now] { return now; };
    progress.start(2);
    now += seconds(30);
    progress.update(1, "");
    now += seconds(30);
    progress.update(2, "");
    EXPECT_FALSE(progress.finished());
    progress.finish();
    EXPECT_TRUE(progress.finished());
    const std::string atEnd = progress.text();
    EXPECT_EQ(atEnd, "2 of 2, 1:00 elapsed");
    now += seconds(3600);
    EXPECT_EQ(progress.text(), atEnd);
    EXPECT_EQ(progress.elapsed(), seconds(60));
    // A run stopped early has nothing left either, and a finish said twice keeps the first end.
    progress.finish();
    EXPECT_EQ(progress.elapsed(), seconds(60));
    progress.start(5);
    EXPECT_FALSE(progress.finished()) << "a new run starts its clock again";
    now += seconds(7);
    progress.update(1, "");
    progress.finish();
    now += seconds(100);
    EXPECT_EQ(progress.text(), "1 of 5, 0:07 elapsed");
    EXPECT_EQ(progress.remaining(), seconds(0));
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
