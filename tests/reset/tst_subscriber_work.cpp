// Each subscriber's reset works on a fresh work object: nothing it learned of one subscriber
// (captured values, new ids, the dry run's foresight) reaches the next. And the rule of the
// checks: an operation that fails while they are made is a check that could not be made.
#include "platform/Error.h"
#include "reset/ResetRun.h"
#include "reset/SubscriberReset.h"
#include "reset_helpers.h"

#include <gtest/gtest.h>

using namespace zeph;

namespace {

class SubscriberWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_run.request.templateAlias = m_bench.templateAlias;
        m_run.prepare(*m_bench.registry);
        ASSERT_EQ(m_run.failureCount(), 0);
    }
    test::ResetBench m_bench{20};
    ResetRun m_run{m_bench.host(), *m_bench.tarvoDb, *m_bench.log, ResetRequest{}};
};

// A subscriber reset in full, then one that is not found: the second has only what it was
// asked with, none of the first's ids.
TEST_F(SubscriberWorkTest, NothingOfOneSubscriberReachesTheNext) {
    const test::SubscriberFacts first =
        m_bench.find([&](const auto &f) { return m_bench.ordinary(f); });
    ASSERT_TRUE(ResetSubscriber(m_run, first.alias, first.objectId));
    ASSERT_TRUE(m_run.subscriber().createdAgain()) << "the first was created again";
    EXPECT_EQ(m_run.subscriber().snapshot().CallHandlerObjectID, first.callHandlerId);

    const std::string ghost = "{00000000-0000-0000-0000-00000000C0DE}";
    EXPECT_FALSE(ResetSubscriber(m_run, "ghost", ghost));
    const SubscriberWork &second = m_run.subscriber();
    EXPECT_FALSE(second.createdAgain());
    EXPECT_EQ(second.newIds().newCallHandlerId, "");
    EXPECT_EQ(second.snapshot().Alias, "ghost");
    EXPECT_EQ(second.snapshot().ObjectID, ghost);
    EXPECT_EQ(second.snapshot().CallHandlerObjectID, "");
    EXPECT_EQ(second.snapshot().DTMFAccessID, "");
    EXPECT_FALSE(second.creationUnrecorded());
}

// A dry run that foresees a refusal for one subscriber foresees nothing of it for the next,
// even one skipped before its own removal is foreseen.
TEST_F(SubscriberWorkTest, TheDryRunsForesightIsEachSubscribersOwn) {
    m_run.dryRun = true;
    const test::SubscriberFacts refused = m_bench.find([&](const auto &f) {
        return m_bench.undeletable(f) && !f.directoryId.empty() && !m_bench.conflicting(f);
    });
    ASSERT_TRUE(ResetSubscriber(m_run, refused.alias, refused.objectId));
    EXPECT_TRUE(m_run.subscriber().foresight().removalRefused);

    EXPECT_FALSE(ResetSubscriber(m_run, "ghost", "{00000000-0000-0000-0000-00000000C0DE}"));
    EXPECT_FALSE(m_run.subscriber().foresight().removalRefused);
    EXPECT_EQ(m_run.subscriber().snapshot().Alias, "ghost");
}

// Each row: what fails while the checks are made, and whether they count as all made.
struct Check {
    const char *what;
    void (*during)(ResetRun &run);
    bool allMade;
};

const Check kChecks[] = {
    {"nothing fails", [](ResetRun &run) { run.attempt([] {}); }, true},
    {"a read fails", [](ResetRun &run) { run.read<int>([]() -> int { throw Error(5, "x"); }); },
     false},
    {"an operation fails",
     [](ResetRun &run) { run.attempt([] { throw std::runtime_error("unreadable"); }); }, false},
    {"a failure the rules let the reset go on after",
     [](ResetRun &run) {
         run.readNotCounted<std::string>([]() -> std::string { throw Error(94, "Null"); });
     },
     true},
};

TEST_F(SubscriberWorkTest, ACheckThatCouldNotBeMadeIsNotPassed) {
    for (const Check &c : kChecks) {
        SCOPED_TRACE(c.what);
        const ChecksMade checks(m_run);
        EXPECT_TRUE(checks.all());
        c.during(m_run);
        EXPECT_EQ(checks.all(), c.allMade);
    }
}

} // namespace
