// A stop asked for while a run is under way: the subscriber under way is finished, its journal
// entry closed, no further subscriber is begun, and the run ends as every run does.
#include "reset_helpers.h"
#include "support/Succeeded.h"

#include "reset/RecoveryJournal.h"

#include <gtest/gtest.h>

using namespace zeph;

namespace {

std::size_t countOf(const std::vector<std::string> &lines, const std::string &line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

struct StopCase {
    const char *name;
    /// The log line at which the stop is asked for, and at its how-manieth appearance; no
    /// line: at the run's start, when the page first tells that it is running; appearance 0:
    /// before the run is started (which does nothing).
    const char *atLine;
    int appearance;
    /// What the run then did with the four ticked subscribers.
    int reset;
    int notAttempted;
    bool stoppedByRequest;
    /// The lists' synchronisation is asked for.
    bool listSync;
};

class StopRun : public testing::TestWithParam<StopCase> {};

TEST_P(StopRun, FinishesTheSubscriberUnderWayAndBeginsNoOther) {
    const StopCase &c = GetParam();
    test::ResetBench b(30);
    b.templateAlias = "salesTemplateEast";
    std::vector<test::SubscriberFacts> chosen;
    for (int i = 0; i < 4; ++i) {
        chosen.push_back(b.find([&](const auto &f) {
            if (!b.ordinary(f))
                return false;
            for (const auto &taken : chosen) {
                if (taken.objectId == f.objectId)
                    return false;
            }
            return true;
        }));
        b.addRow(chosen.back().objectId);
        // An unticked row after each: the run passes over it, stopped or not.
        b.addRow(chosen.back().objectId, false);
    }
    const test::Snapshot untouched = b.snapshot();

    int seen = 0;
    if (c.appearance == 0)
        b.page->requestStop();
    if (!c.atLine) {
        b.page->stateChanged = [&] {
            if (b.page->running() && !b.page->stopRequested())
                b.page->requestStop();
        };
    }
    b.log->setLineObserver([&](const std::string &line) {
        if (c.atLine && c.appearance > 0 && line == c.atLine && ++seen == c.appearance) {
            b.page->requestStop();
            EXPECT_TRUE(b.page->stopRequested());
            EXPECT_NE(b.page->progress.text().find("stopping"), std::string::npos);
        }
    });
    const std::vector<std::string> lines = b.run();
    const ResetSummary &summary = b.summary();

    EXPECT_EQ(summary.stoppedByRequest, c.stoppedByRequest);
    EXPECT_EQ(summary.outcome.reset, c.reset);
    EXPECT_EQ(summary.outcome.resetWithErrors, 0);
    EXPECT_EQ(summary.outcome.skipped, 0);
    EXPECT_EQ(summary.outcome.notAttempted, c.notAttempted);
    EXPECT_EQ(summary.subscribersReset, c.reset);
    EXPECT_EQ(summary.errorCount, 0);
    // Every subscriber begun went through to its end.
    EXPECT_EQ(countOf(lines, "** Resetting Subscriber **"), static_cast<std::size_t>(c.reset));
    EXPECT_EQ(countOf(lines, "    Directory sync complete for creation"),
              static_cast<std::size_t>(c.reset));
    EXPECT_EQ(countOf(lines, "** The run was stopped by request after the subscriber under "
                             "way; " +
                                 std::to_string(c.notAttempted) +
                                 " subscriber(s) not attempted **"),
              c.stoppedByRequest ? 1u : 0u);
    EXPECT_EQ(countOf(lines, "** Starting synchronization of all distribution lists - "
                             "application will not wait for this to complete **"),
              c.listSync ? 1u : 0u);
    bool synced = false;
    for (const auto &call : b.db().calls)
        synced = synced || call.name == "sp_SqlDirectorySync";
    EXPECT_EQ(synced, c.listSync);

    // The journal holds every subscriber begun, each closed, and owes no synchronisation.
    if (c.reset > 0) {
        Result<JournalFile> journal = readJournal(*b.host().files, summary.journalPath);
        ASSERT_TRUE(test::succeeded(journal));
        EXPECT_EQ(journal->entries.size(), static_cast<std::size_t>(c.reset));
        EXPECT_TRUE(journal->unfinished().empty());
        EXPECT_FALSE(journal->needsRecovery());
    } else {
        EXPECT_TRUE(summary.journalPath.empty());
    }
    EXPECT_TRUE(b.serverProblems().empty());
    // The subscribers not attempted are as they were, and named in the failed records.
    std::vector<std::string> rest;
    for (std::size_t i = static_cast<std::size_t>(c.reset); i < chosen.size(); ++i)
        rest.push_back(chosen[i].objectId);
    std::vector<std::string> done;
    for (int i = 0; i < c.reset; ++i)
        done.push_back(chosen[static_cast<std::size_t>(i)].objectId);
    ASSERT_EQ(summary.failedRecords.size(), static_cast<std::size_t>(c.notAttempted));
    for (std::size_t i = 0; i < summary.failedRecords.size(); ++i) {
        const auto &record = summary.failedRecords[i];
        EXPECT_EQ(record.alias, chosen[static_cast<std::size_t>(c.reset) + i].alias);
        EXPECT_EQ(record.reason, "not attempted: the run was stopped by request");
    }
    const std::string closing = summary.closingMessage;
    EXPECT_EQ(closing.rfind(c.stoppedByRequest ? "Subscriber mailbox reset process stopped by "
                                                 "request, reset "
                                               : "Subscriber mailbox reset process complete, "
                                                 "reset ",
                            0),
              0u)
        << closing;
    if (c.notAttempted > 0) {
        EXPECT_NE(closing.find("Of 4 ticked: " + std::to_string(c.reset) +
                               " reset, 0 reset with errors, 0 skipped, " +
                               std::to_string(c.notAttempted) + " not attempted."),
                  std::string::npos)
            << closing;
    }
    if (c.reset == 0) {
        // Nothing was changed: not even the lists' synchronisation.
        test::expectSame(untouched, b.snapshot());
    }
    // The page shows one run: it cannot be started again after a stop.
    EXPECT_FALSE(b.page->running());
    EXPECT_FALSE(b.page->cmdResetSubscribers.Enabled);
    EXPECT_TRUE(b.page->cmdExit.Enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, StopRun,
    testing::Values(
        // In the middle of the second subscriber, between its removal and its re-creation.
        StopCase{"DuringARemoval", "    Removing subscriber from SQL", 2, 2, 2, true, true},
        // During the first subscriber's last step.
        StopCase{"DuringTheLastStep", "    Subscriber synch with directory started.", 1, 1, 3, true,
                 true},
        // During the last ticked subscriber: nothing is left, the run is complete.
        StopCase{"DuringTheLastSubscriber", "    User created in SQL", 4, 4, 0, false, true},
        // During the first subscriber's checks.
        StopCase{"DuringTheChecks",
                 "    Checking for DTMFAccessID uniqueness in dialing domain for this user", 1, 1,
                 3, true, true},
        // While the run starts, before its first subscriber: nothing is changed, and no
        // membership needs the lists' synchronisation.
        StopCase{"WhileTheRunStarts", nullptr, 1, 0, 4, true, false},
        // Before the run: the request is not kept for it.
        StopCase{"BeforeTheRun", "", 0, 4, 0, false, true}),
    [](const testing::TestParamInfo<StopCase> &param) { return std::string(param.param.name); });

} // namespace
