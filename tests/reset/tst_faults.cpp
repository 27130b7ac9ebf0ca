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

class FaultTest : public ::testing::Test {
protected:
    test::ResetBench m_bench;
};

// The directory reports failures and the mail library is missing too: every step is still taken,
// and the failures are logged and counted.
TEST(ProcedureFault, AProcedureErrorIsLoggedAndEveryLaterStepStillRuns) {
    test::ResetBench m_bench(20, {{"directory-sync", "fail"}, {"mail-library", "missing"}});
    // The seeded administrator may be removed only with force, which the run does not ask.
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.undeletable(f) && !f.directoryId.empty() && !m_bench.conflicting(f);
    });
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s);
    ASSERT_EQ(expected.back(), "(error) mailbox messages for subscriber could not be removed.");
    const test::Snapshot before = m_bench.snapshot({s.alias});

    std::vector<std::string> lines = test::withoutEnd(m_bench.run());
    // The server's refusals are in its own words: only their form is checked.
    for (std::string &line : lines) {
        if (line.rfind("(error):-2147217900 (", 0) == 0 && line.ends_with(kRunErrorTail))
            line = "<refused>";
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
                      "    Subscriber synch with directory started.", kCreationFailed});
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(m_bench.summary().errorCount, 17) << "the time-out line is not counted";
    // The failed-records file gives the first error line as one importable field.
    EXPECT_EQ(
        test::readLogFile(m_bench.host().files->nativePath(m_bench.summary().failedRecordsPath)),
        (std::vector<std::string>{"alias,extension,reason",
                                  s.alias + "," + s.extension + "," +
                                      failedRecordsField(*std::find_if(
                                          lines.begin(), lines.end(), [](const std::string &l) {
                                              return l.rfind("(error)", 0) == 0;
                                          }))}));
    // It kept its rows; what went before the removal (recordings, messages) is gone.
    expectBack(m_bench, s);
    test::expectSame(before, m_bench.snapshot({s.alias}));
    EXPECT_EQ(m_bench.serverProblems(), std::vector<std::string>{});
}

// A mailbox without address and one that does not resolve keep their messages, a read-only
// recording goes, and every reset goes on.
TEST_F(FaultTest, MailboxesThatCannotBeReachedAreLoggedAndReadOnlyRecordingsGo) {
    test::ResetBench &b = m_bench;
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
    EXPECT_EQ(b.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE StreamPath=?", {*s.voiceName}), 0);
}

TEST_F(FaultTest, AnAlternateExtensionThatCannotComeBackIsAWarning) {
    const char *const alternates = "SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE "
                                   "ParentObjectID=? AND IsPrimaryID=0 ORDER BY DTMFAccessID";
    m_bench.preserve = true;
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.ordinary(f) && m_bench.sql(alternates, {f.objectId}).rows.size() >= 2;
    });
    DbRowSet before = m_bench.sql(alternates, {s.objectId});
    const std::string lost = db::valueText(before.rows[0][0]);
    m_bench.db().refusedInsertValues.insert(lost);
    m_bench.addRow(s.objectId);
    const std::vector<std::string> lines = m_bench.run();
    auto warning =
        std::find(lines.begin(), lines.end(),
                  "    (warning) alternate extension " + lost +
                      " could not be added back: Violation of UNIQUE KEY constraint: " + lost);
    ASSERT_NE(warning, lines.begin());
    EXPECT_EQ(warning[-1], "    Adding alternate extensions back to user as requested");
    EXPECT_EQ(m_bench.summary().errorCount, 0);
    EXPECT_EQ(m_bench.log->LogWarningCount(), 1);
    before.rows.erase(before.rows.begin());
    EXPECT_EQ(m_bench.sql(alternates, {s.objectId}).rows, before.rows) << "the others came back";
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
