// The faults a reset meets on the stand-in server: the exact lines, the error count, and the
// server's state afterwards.
#include "reset/Recovery.h"
#include "reset/RunLock.h"
#include "reset_helpers.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

const char *const kSyncFailed = "Syncronization process failed";
const char *const kRunErrorTail =
    ") in procedure cmdResetSubscribers_Click of Form frmResetSubscribers";

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

void append(std::vector<std::string> &to, const std::vector<std::string> &lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

// The subscriber is back under its old ids.
void expectBack(test::ResetBench &bench, const test::SubscriberFacts &s) {
    EXPECT_EQ(bench.sqlText("SELECT SubscriberObjectID || '|' || CallHandlerObjectID FROM "
                            "vw_Subscriber WHERE Alias=?",
                            {s.alias}),
              s.objectId + "|" + s.callHandlerId);
}

// The directory reports failures: every step is still taken, and the failures are logged and
// counted.
TEST(ProcedureFault, AProcedureErrorIsLoggedAndEveryLaterStepStillRuns) {
    test::ResetBench b(20, {{"directory-sync", "fail"}});
    // The seeded administrator may be removed only with force, which the run does not ask.
    test::SubscriberFacts s = b.find([&](const auto &f) {
        return b.undeletable(f) && !f.directoryId.empty() && !b.conflicting(f);
    });
    b.addRow(s.objectId);
    std::vector<std::string> expected = b.expectedLinesBeforeRemoval(s);
    const test::Snapshot before = b.snapshot({s.alias});
    const int messages = b.messagesOf(s);
    ASSERT_GT(messages, 0);

    std::vector<std::string> lines = test::withoutEnd(b.run());
    // The server's refusals are in its own words: only their form is checked; then each fix-up
    // step finds nothing to fix and says so.
    for (std::string &line : lines) {
        if (line.rfind("(error):-2147217900 (", 0) == 0 && line.ends_with(kRunErrorTail))
            line = "<refused>";
        else if (line.rfind("(error) no ", 0) == 0 || line.rfind("(error) could not find ", 0) == 0)
            line = "<nothing found>";
    }
    const std::string check = " Check the Lorrasvc logs in the \\Pradix\\Logs directory";
    append(expected, {"    Removing subscriber from SQL", "<refused>",
                      kSyncFailed + std::string(" to complete in a timely fashion. ") + check,
                      "(error) " + std::string(kSyncFailed) + " during subscriber delete." + check,
                      "    Adding subscriber back to SQL with new template settings", "<refused>",
                      "(error) subscriber creation stored procedure failed to execute properly."});
    expected.insert(expected.end(), 10, "<nothing found>");
    append(expected,
           {"    Subscriber synch with directory started.",
            "(error) " + std::string(kSyncFailed) + " during subscriber create." + check});
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(b.summary().errorCount, 15) << "the time-out line is not counted";
    // It kept its rows, read back as a finished reset's; what went before the removal
    // (recordings, messages) is gone.
    expectBack(b, s);
    EXPECT_EQ(b.messagesOf(s), 0);
    test::expectSame(before, b.snapshot({s.alias}));
    EXPECT_EQ(b.serverProblems(), std::vector<std::string>{});
    EXPECT_EQ(b.summary().stopReason, "");
}

// A run that cannot be made is refused before the question, in words that begin with
// "Nothing was reset": no log, no journal, no change, not even the lists' synchronisation; and
// once the cause is gone the same page runs.
struct Refusal {
    const char *name;
    /// The stand-in setting that makes the run impossible, and its value.
    const char *setting;
    const char *value;
    /// Another run holds the server's run lock.
    bool lockHeld;
    const char *reason;
};

class RunRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(RunRefusal, ComesBeforeTheQuestionAndLeavesNoTrace) {
    const Refusal &c = GetParam();
    std::vector<std::pair<std::string, std::string>> settings;
    if (*c.setting)
        settings.emplace_back(c.setting, c.value);
    test::ResetBench b(20, settings);
    b.templateAlias = "salesTemplateEast";
    test::SubscriberFacts s =
        b.find([&](const auto &f) { return !f.directoryId.empty() && !b.conflicting(f); });
    b.addRow(s.objectId);
    const test::Snapshot before = b.snapshot();
    const int messages = b.messagesOf(s);
    std::unique_ptr<IRunLock> other;
    if (c.lockHeld) {
        Result<std::unique_ptr<IRunLock>> taken =
            takeServerRunLock(b.host(), b.tarvoDb->DbConnectionString());
        ASSERT_TRUE(taken) << taken.error();
        other = std::move(*taken);
    }

    b.ui().expectBox(std::string("Nothing was reset: ") + c.reason);
    b.page->cmdResetSubscribers_Click();
    b.ui().verifyAllShown();
    ASSERT_EQ(b.ui().boxes().size(), 1u);
    EXPECT_EQ(b.ui().boxes()[0].text.rfind("Nothing was reset: ", 0), 0u);
    EXPECT_EQ(b.ui().boxes()[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(contains(b.ui().boxes()[0].text, "Recipient Update Service"));
    EXPECT_EQ(b.page->refusal(), b.ui().boxes()[0].text);
    EXPECT_FALSE(b.page->summary());
    EXPECT_TRUE(b.page->cmdResetSubscribers.Enabled);
    EXPECT_TRUE(b.log->LogFilePath().empty() || !b.host().files->fileExists(b.log->LogFilePath()));
    EXPECT_TRUE(b.db().calls.empty());
    EXPECT_EQ(b.messagesOf(s), messages);
    test::expectSame(before, b.snapshot());

    // Once the other run has ended, the same page asks and runs.
    if (c.lockHeld) {
        other.reset();
        b.run();
        EXPECT_EQ(b.summary().subscribersReset, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RunRefusal,
    testing::Values(Refusal{"MailLibraryMissing", "mail-library", "missing", false,
                            "the mail store cannot be reached."},
                    Refusal{"RunLockHeld", "", "", true, "Another run is changing this server: "}),
    [](const testing::TestParamInfo<Refusal> &param) { return std::string(param.param.name); });

// A mailbox without address and one that does not resolve are logged, a read-only recording
// goes, and every reset goes on.
TEST(MailboxFault, MailboxesThatCannotBeReachedAreLoggedAndReadOnlyRecordingsGo) {
    test::ResetBench b;
    auto plain = [&](const test::SubscriberFacts &f) {
        return !f.directoryId.empty() && !b.conflicting(f) && !b.undeletable(f);
    };
    const test::SubscriberFacts noAddress =
        b.find([&](const auto &f) { return plain(f) && !f.smtpAddress; });
    const test::SubscriberFacts unresolved = b.find([&](const auto &f) {
        return plain(f) && f.smtpAddress && !fs::is_directory(b.mailboxFolder(f));
    });
    const test::SubscriberFacts s = b.find([&](const auto &f) {
        const std::string file = f.voiceName ? b.recordingFile(*f.voiceName) : "";
        return b.ordinary(f) && !file.empty() &&
               (fs::status(file).permissions() & fs::perms::owner_write) == fs::perms::none;
    });
    const std::string voice = b.recordingFile(*s.voiceName);
    std::vector<std::string> expected;
    for (const test::SubscriberFacts *f : {&noAddress, &unresolved, &s}) {
        b.addRow(f->objectId);
        append(expected, b.expectedLinesBeforeRemoval(*f));
        append(expected, test::afterRemovalLines());
    }
    EXPECT_EQ(test::withoutEnd(b.run()), expected);
    EXPECT_EQ(b.summary().errorCount, 3);
    for (const test::SubscriberFacts *f : {&noAddress, &unresolved, &s})
        expectBack(b, *f);
    EXPECT_FALSE(fs::exists(voice)) << "a read-only file is deleted with force";
}

} // namespace

// A creation that fails leaves the subscriber removed: its journal entry stays open, and a
// recovery with a template that exists brings it back under its old ids.
TEST(CreationFault, AFailedCreationKeepsItsJournalEntryForTheRecovery) {
    test::ResetBench b;
    const test::SubscriberFacts s = b.find([&](const auto &f) { return b.ordinary(f); });
    b.addRow(s.objectId);
    b.templateAlias = "noSuchTemplate";
    const std::vector<std::string> lines = b.run();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "    The subscriber was not created again; the recovery journal keeps it "
                        "for \"zephrane-cli --recover\""),
              lines.end());
    auto scan = [&] {
        return scanJournals(*b.host().files, {b.log->logFolder(), b.log->fallbackLogFolder()});
    };
    const JournalScan before = scan();
    ASSERT_EQ(before.journals.size(), 1u);
    ASSERT_EQ(before.journals[0].unfinished().size(), 1u);
    EXPECT_EQ(before.journals[0].unfinished()[0]->snapshot.Alias, s.alias);

    const std::vector<RecoveryPlanEntry> plan =
        planRecovery(b.host(), *b.tarvoDb, before.journals, {});
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].state, InterruptedAt::Removed);
    EXPECT_EQ(plan[0].action, RecoveryAction::Finish);
    const RecoverySummary summary = recoverInterruptedResets(
        b.host(), *b.registry, *b.tarvoDb, *b.log, before.journals, plan, true, "defaultTemplate");
    EXPECT_EQ(summary.subscribersFinished, 1);
    EXPECT_EQ(summary.errorCount, 0);
    expectBack(b, s);
    EXPECT_FALSE(scan().needsAttention());
    EXPECT_EQ(b.serverProblems(), std::vector<std::string>{});
}

// An extension taken by another object while its subscriber was away cannot come back: the log
// says so as a warning (not an error) and the other extensions return.
TEST(AlternateExtensionFault, ATakenExtensionIsAWarningAndTheOthersComeBack) {
    test::ResetBench b;
    b.preserve = true;
    const std::string where = " FROM DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0";
    const std::string alternates = "SELECT COUNT(*)" + where;
    const test::SubscriberFacts s = b.find(
        [&](const auto &f) { return b.ordinary(f) && b.sqlCount(alternates, {f.objectId}) >= 2; });
    const long before = b.sqlCount(alternates, {s.objectId});
    const std::string lost = b.sqlText("SELECT MIN(DTMFAccessID)" + where, {s.objectId});
    const std::string location =
        b.sqlText("SELECT MIN(LocationObjectID) FROM DTMFAccessID WHERE DTMFAccessID=?", {lost});
    // While the subscriber is away, between its removal and its creation (which gives it back
    // its ids and extensions in one transaction), another object takes the number.
    b.host().stepReached = [&](const std::string &step) {
        if (step == "removed")
            b.sql("INSERT INTO DTMFAccessID (DTMFAccessObjectID, ParentObjectID, "
                  "ParentObjectIDType, DTMFAccessID, DTMFAccessIDType, Alias, IsPrimaryID, "
                  "LocationObjectID) VALUES ('{00000000-0000-0000-0000-00000000CAFE}', "
                  "'{00000000-0000-0000-0000-00000000BEEF}', 3, ?, 1, 'taken', 1, ?)",
                  {lost, location}, false);
    };
    b.addRow(s.objectId);
    const std::vector<std::string> lines = b.run();
    const std::string warning =
        "    (warning) alternate extension " + lost + " could not be added back: ";
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string &line) { return line.rfind(warning, 0) == 0; }),
              1)
        << ::testing::PrintToString(lines);
    EXPECT_EQ(b.summary().errorCount, 0);
    EXPECT_EQ(b.log->LogWarningCount(), 1);
    EXPECT_EQ(b.sqlCount(alternates, {s.objectId}), before - 1) << "the others came back";
}
