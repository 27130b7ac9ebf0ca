// The faults a reset meets on the stand-in server: the exact lines, the error count, and the
// server's state afterwards; and the wait for a directory sync ticket on its own.
#include "reset_helpers.h"

#include "reset/DirectorySyncWait.h"
#include "reset/FailedRecords.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

const char *const kRemovalFailed = "(error) Syncronization process failed during subscriber "
                                   "delete. Check the Lorrasvc logs in the \\Pradix\\Logs "
                                   "directory";
const char *const kCreationFailed = "(error) Syncronization process failed during subscriber "
                                    "create. Check the Lorrasvc logs in the \\Pradix\\Logs "
                                    "directory";
const char *const kTimeOut = "Syncronization process failed to complete in a timely fashion.  "
                             "Check the Lorrasvc logs in the \\Pradix\\Logs directory";
const char *const kRunErrorTail =
    ") in procedure cmdResetSubscribers_Click of Form frmResetSubscribers";

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

class DirectorySyncTest : public ::testing::TestWithParam<const char *> {};

// Without the mail library too: the mailbox's messages stay and the reset goes on.
TEST_P(DirectorySyncTest, AFailedOrSilentDirectoryIsReportedAndTheResetGoesOn) {
    const bool silent = std::string(GetParam()) == "never";
    test::ResetBench bench(20, {{"directory-sync", GetParam()}, {"mail-library", "missing"}});
    test::SubscriberFacts s = bench.find([&](const auto &f) { return bench.ordinary(f); });
    const int messages = bench.messagesOf(s);
    ASSERT_GT(messages, 0);
    bench.addRow(s.objectId);
    std::vector<std::string> expected = bench.expectedLinesBeforeRemoval(s);
    std::vector<std::string> rest = test::afterRemovalLines();
    rest[1] = kRemovalFailed;
    rest.back() = kCreationFailed;
    if (silent) {
        rest.insert(rest.begin() + 1, kTimeOut);
        rest.insert(rest.end() - 1, kTimeOut);
    }
    append(expected, rest);

    EXPECT_EQ(test::withoutEnd(bench.run()), expected);
    EXPECT_EQ(bench.summary().errorCount, 4) << "the time-out lines are not counted";
    EXPECT_EQ(bench.messagesOf(s), messages);
    // Twenty looks per silent wait; a silent ticket stays for the directory's own clean-up.
    EXPECT_EQ(bench.db().queryCount("vw_DirectorySyncTicket WHERE Ticket"), silent ? 40 : 2);
    EXPECT_EQ(bench.sqlCount("SELECT COUNT(*) FROM vw_DirectorySyncTicket"), silent ? 2 : 0);
    expectBack(bench, s);
}

INSTANTIATE_TEST_SUITE_P(Settings, DirectorySyncTest, ::testing::Values("fail", "never"),
                         [](const auto &param) { return std::string(param.param); });

class FaultTest : public ::testing::Test {
protected:
    test::ResetBench m_bench;
    long alternatesOf(const test::SubscriberFacts &f) {
        return m_bench.sqlCount(
            "SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0",
            {f.objectId});
    }
};

TEST_F(FaultTest, AProcedureErrorIsLoggedAndEveryLaterStepStillRuns) {
    // The seeded administrator may be removed only with force, which the run does not ask.
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.undeletable(f) && !f.directoryId.empty() && !m_bench.conflicting(f);
    });
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s);
    const test::Snapshot before = m_bench.snapshot({s.alias});

    std::vector<std::string> lines = test::withoutEnd(m_bench.run());
    // The server's refusals are in its own words: only their form is checked.
    std::string firstRefusal;
    for (std::string &line : lines) {
        if (line.rfind("(error):-2147217900 (", 0) == 0 && line.ends_with(kRunErrorTail)) {
            firstRefusal = firstRefusal.empty() ? line : firstRefusal;
            line = "<refused>";
        }
    }
    append(expected, {"    Removing subscriber from SQL", "<refused>", kTimeOut, kRemovalFailed,
                      "    Adding subscriber back to SQL with new template settings", "<refused>",
                      "(error) subscriber creation stored procedure failed to execute properly.",
                      "(error) could not find global subscriber table entry for new subscriber"});
    for (const char *missing :
         {"notification devices", "notification rules", "notification MWI devices",
          "DTMFAccessID records", "primary call handler"})
        expected.push_back(std::string("(error) no ") + missing + " found for SubscriberObjectID=");
    append(expected, {"(error) could not find new primary call handler for subscriber by ObjectID=",
                      "(error) no contact rules found for parentObjectID=",
                      "(error) no messaging rules found for parentObjectID=",
                      "(error) no menu entry rows found for parentObjectID=",
                      "    Subscriber synch with directory started.",
                      "    Directory sync complete for creation"});
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(m_bench.summary().errorCount, 14);
    // The failed-records file gives the first error line as one importable field.
    EXPECT_EQ(
        test::readLogFile(m_bench.host().files->nativePath(m_bench.summary().failedRecordsPath)),
        (std::vector<std::string>{"alias,extension,reason", s.alias + "," + s.extension + "," +
                                                                failedRecordsField(firstRefusal)}));
    // It kept its rows; what went before the removal (recordings, messages) is gone.
    expectBack(m_bench, s);
    test::expectSame(before, m_bench.snapshot({s.alias}));
    EXPECT_EQ(m_bench.serverProblems(), std::vector<std::string>{});
}

// A mailbox without address, one that does not resolve, and a greeting that cannot be deleted:
// each is logged, what could not be removed stays, and every reset goes on.
TEST_F(FaultTest, RecordingsAndMailboxesThatCannotBeRemovedAreLoggedAndTheRunGoesOn) {
    test::ResetBench &b = m_bench;
    auto plain = [&](const test::SubscriberFacts &f) {
        return !f.directoryId.empty() && !b.conflicting(f) && !b.undeletable(f);
    };
    const test::SubscriberFacts noAddress =
        b.find([&](const auto &f) { return plain(f) && !f.smtpAddress; });
    const test::SubscriberFacts unresolved = b.find([&](const auto &f) {
        return plain(f) && f.smtpAddress && !fs::is_directory(b.mailboxFolder(f));
    });
    const char *const greetings =
        "SELECT StreamPath FROM MessagingRule WHERE ParentObjectID=? AND StreamPath IS NOT NULL";
    auto readOnly = [](const std::string &file) {
        return !file.empty() &&
               (fs::status(file).permissions() & fs::perms::owner_write) == fs::perms::none;
    };
    const test::SubscriberFacts s = b.find([&](const auto &f) {
        return b.ordinary(f) && f.voiceName && readOnly(b.recordingFile(*f.voiceName)) &&
               !b.recordingFile(b.sqlText(greetings, {f.callHandlerId})).empty();
    });
    const int messages = b.messagesOf(unresolved);
    const std::string voice = b.recordingFile(*s.voiceName);
    const std::string greetingPath = b.sqlText(greetings, {s.callHandlerId});
    const std::string greeting = b.recordingFile(greetingPath);
    b.files().refuseParts = {fs::path(greeting).filename().string()};
    std::vector<std::string> expected;
    for (const test::SubscriberFacts *f : {&noAddress, &unresolved, &s}) {
        b.addRow(f->objectId);
        std::vector<std::string> lines = b.expectedLinesBeforeRemoval(*f);
        // The run's error line follows the refused greeting's line.
        const std::string refused =
            "    removing greeting WAV from file system:" +
            b.sqlText("SELECT Alias FROM MessagingRule WHERE ParentObjectID=? AND StreamPath=?",
                      {f->callHandlerId, greetingPath});
        if (auto at = std::find(lines.begin(), lines.end(), refused); at != lines.end())
            lines.insert(at + 1, std::string("(error):70 (Permission denied") + kRunErrorTail);
        append(expected, lines);
        append(expected, test::afterRemovalLines());
    }
    ASSERT_EQ(std::count(expected.begin(), expected.end(),
                         std::string("(error):70 (Permission denied") + kRunErrorTail),
              1);

    EXPECT_EQ(test::withoutEnd(b.run()), expected);
    EXPECT_EQ(b.summary().errorCount, 4);
    EXPECT_EQ(b.messagesOf(unresolved), messages);
    for (const test::SubscriberFacts *f : {&noAddress, &unresolved, &s})
        expectBack(b, *f);
    EXPECT_FALSE(fs::exists(voice)) << "a read-only file is deleted with force";
    EXPECT_TRUE(fs::exists(greeting));
    // Nothing names the files any more.
    EXPECT_EQ(b.sqlCount("SELECT COUNT(*) FROM MessagingRule WHERE StreamPath=?", {greetingPath}),
              0);
    EXPECT_EQ(b.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE StreamPath=?", {*s.voiceName}), 0);
}

TEST_F(FaultTest, AnAlternateExtensionThatCannotComeBackIsAWarning) {
    m_bench.preserve = true;
    test::SubscriberFacts s =
        m_bench.find([&](const auto &f) { return m_bench.ordinary(f) && alternatesOf(f) >= 2; });
    const long alternates = alternatesOf(s);
    const std::string lost = m_bench.sqlText("SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE "
                                             "ParentObjectID=? AND IsPrimaryID=0 ORDER BY "
                                             "DTMFAccessID",
                                             {s.objectId});
    m_bench.db().refusedInsertValues.insert(lost);
    m_bench.addRow(s.objectId);
    const std::vector<std::string> lines = m_bench.run();
    auto added = std::find(lines.begin(), lines.end(),
                           "    Adding alternate extensions back to user as requested");
    auto warning =
        std::find(lines.begin(), lines.end(),
                  "    (warning) alternate extension " + lost +
                      " could not be added back: Violation of UNIQUE KEY constraint: " + lost);
    ASSERT_NE(warning, lines.end()) << ::testing::PrintToString(lines);
    EXPECT_LT(added, warning);
    EXPECT_EQ(m_bench.summary().errorCount, 0);
    EXPECT_EQ(m_bench.log->LogWarningCount(), 1);
    EXPECT_EQ(alternatesOf(s), alternates - 1) << "the others came back";
}

// --- the wait for a directory sync ticket ---------------------------------------------------

// A wait without an answer row, or whose looks fail, is never a success.
TEST(SyncWait, NoAnswerRowOrFailingLooksAreNeverSuccess) {
    const char *const ticket = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
    test::ResetBench b(0);
    auto wait = [&] {
        return WaitForSyncToFinished(b.host(), b.tarvoDb->DbConnectionString(), *b.log, ticket);
    };
    EXPECT_FALSE(wait());
    EXPECT_EQ(b.db().queryCount("vw_DirectorySyncTicket WHERE Ticket"), kSyncPolls);
    b.sql("INSERT INTO DirectorySyncTicket (Ticket, ObjectID, Operation, result) VALUES (?, NULL, "
          "'modify', 0)",
          {DbValue(ticket)}, false);
    b.db().failingQueries.push_back("vw_DirectorySyncTicket");
    for (int i = 0; i < kSyncPolls; ++i)
        b.ui().expectBox("(error):-2147217900 (Invalid object name in query: "
                         "vw_DirectorySyncTicket) in procedure WaitForSyncToFinished of Module "
                         "Module1");
    EXPECT_FALSE(wait());
    b.ui().verifyAllShown();
    EXPECT_EQ(b.db().callCount("sp_DeleteDirectorySyncTicket"), 0);
}

} // namespace
