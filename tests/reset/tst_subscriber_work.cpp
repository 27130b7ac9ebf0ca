// Each subscriber's reset works on a fresh work object: nothing it learned of one subscriber
// (captured values, new ids, the dry run's foresight) reaches the next, and the row its
// look-up found stays its own. And the rule of the checks: an operation that fails while they
// are made is a check that could not be made.
#include "platform/Error.h"
#include "reset/RecordingRemoval.h"
#include "reset/ResetRun.h"
#include "reset/SubscriberCapture.h"
#include "reset/SubscriberReset.h"
#include "reset_helpers.h"

#include <gtest/gtest.h>

using namespace zeph;

namespace {

class SubscriberWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_run.prepare(*m_bench.registry);
        ASSERT_EQ(m_run.failureCount(), 0);
    }
    // A run that re-creates from the bench's template; a dry one when asked.
    RunSettings settings(bool dryRun = false) const {
        RunSettings made;
        made.request.templateAlias = m_bench.templateAlias;
        made.request.dryRun = dryRun;
        return made;
    }
    test::ResetBench m_bench{20};
    ResetRun m_run{m_bench.host(), *m_bench.tarvoDb, *m_bench.log, settings()};
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
    ResetRun dry(m_bench.host(), *m_bench.tarvoDb, *m_bench.log, settings(true));
    dry.prepare(*m_bench.registry);
    ASSERT_EQ(dry.failureCount(), 0);
    const test::SubscriberFacts refused = m_bench.find([&](const auto &f) {
        return m_bench.undeletable(f) && !f.directoryId.empty() && !m_bench.conflicting(f);
    });
    ASSERT_TRUE(ResetSubscriber(dry, refused.alias, refused.objectId));
    EXPECT_TRUE(dry.subscriber().foresight().removalRefused);

    EXPECT_FALSE(ResetSubscriber(dry, "ghost", "{00000000-0000-0000-0000-00000000C0DE}"));
    EXPECT_FALSE(dry.subscriber().foresight().removalRefused);
    EXPECT_EQ(dry.subscriber().snapshot().Alias, "ghost");
}

const char *const kConflictCheckLine =
    "    Checking for DTMFAccessID uniqueness in dialing domain for this user";

// A subscriber whose voice name is a file on disk and whose mailbox holds messages.
bool hasRecordingsAndMessages(test::ResetBench &bench, const test::SubscriberFacts &f) {
    return bench.ordinary(f) && f.voiceName && !bench.recordingFile(*f.voiceName).empty() &&
           bench.messagesOf(f) > 0;
}

// Puts the program's cached subscriber table on another subscriber's row, as a page that
// walks it does.
void standOn(db::Recordset &subscribers, const std::string &objectId) {
    subscribers.MoveFirst();
    subscribers.Find("SubscriberObjectID", DbValue(objectId));
    ASSERT_FALSE(subscribers.Eof());
}

// The cached subscriber table is the program's: something that walks it while a subscriber is
// reset (here, at each line the run writes after the look-up) does not make the recordings and
// mailbox steps read or clear another subscriber's row. The lines are the subscriber's own, and
// the other subscriber keeps its voice name, its StreamPath and its messages.
TEST_F(SubscriberWorkTest, TheStepsActOnTheSubscribersOwnRowWhereverTheTableWasMoved) {
    const test::SubscriberFacts own =
        m_bench.find([&](const auto &f) { return hasRecordingsAndMessages(m_bench, f); });
    const test::SubscriberFacts other = m_bench.find([&](const auto &f) {
        return f.objectId != own.objectId && hasRecordingsAndMessages(m_bench, f);
    });
    const std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(own);
    const std::string otherRecording = m_bench.recordingFile(*other.voiceName);
    const int otherMessages = m_bench.messagesOf(other);

    db::Recordset &subscribers = m_bench.tarvoDb->rsSubscribers();
    std::vector<std::string> lines;
    bool lookedUp = false;
    m_bench.log->setLineObserver([&](const std::string &line) {
        lines.push_back(line);
        lookedUp = lookedUp || line == kConflictCheckLine;
        if (lookedUp)
            standOn(subscribers, other.objectId);
    });
    ASSERT_TRUE(ResetSubscriber(m_run, own.alias, own.objectId));
    m_bench.log->setLineObserver({});

    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(
                  lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
    EXPECT_EQ(m_run.failureCount(), 0);
    EXPECT_EQ(m_bench.recordingFile(*other.voiceName), otherRecording);
    EXPECT_EQ(m_bench.facts(other.objectId).voiceName, other.voiceName);
    EXPECT_EQ(m_bench.messagesOf(other), otherMessages);
    EXPECT_EQ(m_bench.recordingFile(*own.voiceName), "") << "its own voice name is deleted";
    EXPECT_EQ(m_bench.messagesOf(own), 0);
}

// A subscriber whose row is no longer in the cached table (read again without it) has each
// read of the steps reported as such, and no other subscriber's recordings, rows or messages
// are touched in its place.
TEST_F(SubscriberWorkTest, AStepWhoseRowIsGoneSaysSoAndTouchesNoOtherSubscriber) {
    const test::SubscriberFacts own =
        m_bench.find([&](const auto &f) { return hasRecordingsAndMessages(m_bench, f); });
    ASSERT_TRUE(LookUpAndCapture(m_run, own.alias, own.objectId));
    db::Recordset &subscribers = m_bench.tarvoDb->rsSubscribers();
    subscribers.Close();
    subscribers.Open("SELECT * FROM vw_Subscriber WHERE SubscriberObjectID<>? ORDER BY "
                     "SubscriberObjectID",
                     m_bench.tarvoDb->DbConnectionString(), db::adOpenKeyset, db::adLockOptimistic,
                     {DbValue(own.objectId)});
    ASSERT_FALSE(subscribers.Eof()) << "the table stands on another subscriber's row";
    const test::Snapshot before = m_bench.snapshot();

    std::vector<std::string> lines;
    m_bench.log->setLineObserver([&](const std::string &line) { lines.push_back(line); });
    RemoveVoiceNameFile(m_run);
    CleanMailbox(m_run);
    m_bench.log->setLineObserver({});

    const std::string gone = "(error):3021 (the row of subscriber " + own.objectId +
                             " is no longer in the cached subscriber table) in procedure "
                             "cmdResetSubscribers_Click of Form frmResetSubscribers";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         gone, "    Subscriber has no voice name recorded.", gone,
                         "(error) subscriber has no SMTP address in SQL - this usually means they "
                         "did not get a mailbox created in the mailstore propertly.  Skipping "
                         "message removal"}));
    test::expectSame(before, m_bench.snapshot());
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
