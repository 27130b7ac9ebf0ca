// The faults a reset meets, each on the stand-in server: the exact lines, the error count in
// the closing message, and the server's state afterwards.
#include "reset_helpers.h"

#include "platform/sim/SimHost.h"
#include "platform/sqlite/StandInServer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

const char *const kRemovedLine = "    Directory sync complete for removal";
const char *const kRemovalFailed =
    "(error) Syncronization process failed during subscriber "
    "delete. Check the Lorrasvc logs in the \\Pradix\\Logs directory";
const char *const kCreationFailed = "(error) Syncronization process failed during subscriber "
                                    "create. Check the Lorrasvc logs in the \\Pradix\\Logs "
                                    "directory";
const char *const kTimeOut = "Syncronization process failed to complete in a timely fashion.  "
                             "Check the Lorrasvc logs in the \\Pradix\\Logs directory";

bool isRunError(const std::string &line, const std::string &number) {
    const std::string tail = ") in procedure cmdResetSubscribers_Click of Form frmResetSubscribers";
    return line.rfind("(error):" + number + " (", 0) == 0 && line.size() > tail.size() &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> withoutEnd(const std::vector<std::string> &lines) {
    return {lines.begin(), lines.end() - std::min<std::ptrdiff_t>(4, lines.size())};
}

void append(std::vector<std::string> &to, const std::vector<std::string> &lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

std::string errorsInClosing(const test::ResetBench &bench) {
    std::string text = bench.closingMessage();
    std::size_t end = text.find(" error(s) encountered.");
    std::size_t start = text.rfind("  ", end);
    return end == std::string::npos || start == std::string::npos
               ? std::string()
               : text.substr(start + 2, end - start - 2);
}

// The lines of the steps after the removal when everything goes well.
std::vector<std::string> afterRemoval(const char *removal = kRemovedLine) {
    return {"    Removing subscriber from SQL",
            removal,
            "    Adding subscriber back to SQL with new template settings",
            "    User created in SQL",
            "    Updating global subscriber table with new ObjectID values",
            "    Subscriber synch with directory started.",
            "    Directory sync complete for creation"};
}

// The fix-up lines when the creation gave no ids.
std::vector<std::string> fixUpsWithoutIds() {
    return {"(error) could not find global subscriber table entry for new subscriber",
            "(error) no notification devices found for SubscriberObjectID=",
            "(error) no notification rules found for SubscriberObjectID=",
            "(error) no notification MWI devices found for SubscriberObjectID=",
            "(error) no DTMFAccessID records found for SubscriberObjectID=",
            "(error) no primary call handler found for SubscriberObjectID=",
            "(error) could not find new primary call handler for subscriber by ObjectID=",
            "(error) no contact rules found for parentObjectID=",
            "(error) no messaging rules found for parentObjectID=",
            "(error) no menu entry rows found for parentObjectID="};
}

std::vector<std::string> serverProblems(test::ResetBench &bench) {
    std::string error;
    auto problems = sqlite::checkServerDatabase(sim::databasePath(bench.temp.folder()), error);
    EXPECT_TRUE(problems) << error;
    return problems.value_or(std::vector<std::string>{"not checked"});
}

// The subscriber is back under its old ids.
void expectBack(test::ResetBench &bench, const test::SubscriberFacts &s) {
    EXPECT_EQ(bench.sqlText("SELECT SubscriberObjectID || '|' || CallHandlerObjectID FROM "
                            "vw_Subscriber WHERE Alias=?",
                            {s.alias}),
              s.objectId + "|" + s.callHandlerId);
}

struct SyncCase {
    const char *setting;
    int polls; // looks at tickets in the whole run
    long ticketsLeft;
};

class DirectorySyncTest : public ::testing::TestWithParam<SyncCase> {};

TEST_P(DirectorySyncTest, AFailedOrSilentDirectoryIsReportedAndTheResetGoesOn) {
    test::ResetBench bench(20, 1, {{"directory-sync", GetParam().setting}});
    test::SubscriberFacts s = bench.find([&](const auto &f) { return bench.ordinary(f); });
    bench.addRow(s.objectId);
    std::vector<std::string> expected = bench.expectedLinesBeforeRemoval(s, false);
    bool silent = std::string(GetParam().setting) == "never";
    std::vector<std::string> rest = afterRemoval(kRemovalFailed);
    rest.back() = kCreationFailed;
    if (silent) {
        rest.insert(rest.begin() + 1, kTimeOut);
        rest.insert(rest.end() - 1, kTimeOut);
    }
    append(expected, rest);

    TimePoint start = bench.host().clock->now();
    std::vector<std::string> lines = bench.run();
    EXPECT_EQ(withoutEnd(lines), expected);
    // The time-out lines are not counted.
    EXPECT_EQ(errorsInClosing(bench), "2");
    EXPECT_EQ(bench.db().queryCount("vw_DirectorySyncTicket WHERE Ticket"), GetParam().polls);
    EXPECT_EQ(bench.sqlCount("SELECT COUNT(*) FROM vw_DirectorySyncTicket"),
              GetParam().ticketsLeft);
    auto waited =
        std::chrono::duration_cast<std::chrono::seconds>(bench.host().clock->now() - start);
    EXPECT_GE(waited.count(), 2LL * 2 * GetParam().polls / 2);
    // The database side of the reset was done all the same.
    expectBack(bench, s);
}

INSTANTIATE_TEST_SUITE_P(Settings, DirectorySyncTest,
                         ::testing::Values(SyncCase{"fail", 2, 0}, SyncCase{"never", 40, 2}),
                         [](const auto &param) { return std::string(param.param.setting); });

class FaultTest : public ::testing::Test {
protected:
    test::ResetBench m_bench{20, 1};

    test::SubscriberFacts ordinary() {
        return m_bench.find([&](const auto &f) { return m_bench.ordinary(f); });
    }
};

TEST_F(FaultTest, AProcedureErrorIsLoggedAndEveryLaterStepStillRuns) {
    // The seeded administrator may be removed only with force, which the run does not ask.
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.undeletable(f) && !f.directoryId.empty() && !m_bench.conflicting(f);
    });
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    test::Snapshot before = m_bench.snapshot({s.alias});

    std::vector<std::string> lines = m_bench.run();
    std::size_t at = expected.size();
    ASSERT_EQ(lines.size(), at + 19 + 4) << ::testing::PrintToString(lines);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + at), expected);
    EXPECT_EQ(lines[at], "    Removing subscriber from SQL");
    EXPECT_TRUE(isRunError(lines[at + 1], "-2147217900")) << lines[at + 1];
    EXPECT_EQ(lines[at + 2], kTimeOut);
    EXPECT_EQ(lines[at + 3], kRemovalFailed);
    EXPECT_EQ(lines[at + 4], "    Adding subscriber back to SQL with new template settings");
    EXPECT_TRUE(isRunError(lines[at + 5], "-2147217900")) << lines[at + 5];
    EXPECT_EQ(lines[at + 6],
              "(error) subscriber creation stored procedure failed to execute properly.");
    std::vector<std::string> fixUps(lines.begin() + at + 7, lines.begin() + at + 17);
    EXPECT_EQ(fixUps, fixUpsWithoutIds());
    EXPECT_EQ(lines[at + 17], "    Subscriber synch with directory started.");
    EXPECT_EQ(lines[at + 18], "    Directory sync complete for creation");
    EXPECT_EQ(errorsInClosing(m_bench), "14");
    EXPECT_EQ(m_bench.page->summary()->subscribersReset, 1);
    // It kept its rows; what went before the removal (recordings, messages) is gone.
    expectBack(m_bench, s);
    test::expectSame(before, m_bench.snapshot({s.alias}));
    EXPECT_EQ(serverProblems(m_bench), std::vector<std::string>{});
}

TEST_F(FaultTest, ACreationThatReturnsNoRowLeavesEveryLaterStepItsOwnLine) {
    m_bench.preserve = true;
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.ordinary(f) &&
               m_bench.sqlCount("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID=? AND "
                                "IsPrimaryID=0",
                                {f.objectId}) > 0;
    });
    m_bench.db().procedureWithoutRows.insert("sp_CreateSubscriber");
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, true);
    append(expected, {"    Removing subscriber from SQL", kRemovedLine,
                      "    Adding subscriber back to SQL with new template settings",
                      "(error) subscriber creation stored procedure failed to execute properly.",
                      "    Adding alternate extensions back to user as requested",
                      "(error) primary extension for newly added subscriber was not found!"});
    append(expected, fixUpsWithoutIds());
    std::size_t at = expected.size();

    std::vector<std::string> lines = m_bench.run();
    ASSERT_GE(lines.size(), at + 4 + 4);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + at), expected);
    // The re-synchronisation of the old id still runs; the server no longer knows that id.
    EXPECT_EQ(m_bench.db().callCount("sp_ModifySubscriber"), 1);
    EXPECT_EQ(
        db::valueText(*m_bench.db().lastCall("sp_ModifySubscriber").arg("@SubscriberObjectID")),
        s.objectId);
    EXPECT_TRUE(isRunError(lines[at], "-2147217900")) << lines[at];
    EXPECT_EQ(lines[at + 1], "    Subscriber synch with directory started.");
    EXPECT_EQ(lines[at + 2], kTimeOut);
    EXPECT_EQ(lines[at + 3], kCreationFailed);
    EXPECT_EQ(errorsInClosing(m_bench), "14");
    // Half reset, as the log says: the subscriber exists under the new ids only.
    auto [newId, newHandler] = m_bench.lastCreatedIds();
    ASSERT_FALSE(newId.empty());
    EXPECT_EQ(
        m_bench.sqlText("SELECT SubscriberObjectID FROM vw_Subscriber WHERE Alias=?", {s.alias}),
        newId);
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE SubscriberObjectID=?",
                               {s.objectId}),
              0);
}

TEST_F(FaultTest, ConflictingExtensionsAreListedWithTheirTypeWords) {
    test::SubscriberFacts s = ordinary();
    // Objects of types the log has no word for, in further locations of the local domain.
    std::string domain = m_bench.sqlText(
        "SELECT DialingDomainID FROM Location WHERE IsLocal=1 ORDER BY rowid LIMIT 1");
    int n = 0;
    for (int type : {4, 7, 8}) {
        std::string location = "{0000000" + std::to_string(type) + "-0000-4000-8000-00000000000" +
                               std::to_string(type) + "}";
        m_bench.exec("INSERT INTO Location (LocationObjectID, Alias, DisplayName, "
                     "DialingDomainID, IsLocal) VALUES (?, ?, ?, ?, 0)",
                     {location, "extra" + std::to_string(type), "Extra", domain});
        m_bench.exec("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
                     "IsPrimaryID, LocationObjectID) VALUES (?, ?, ?, 1, ?)",
                     {"{0000000" + std::to_string(type) + "-1111-4000-8000-000000000000}",
                      std::int64_t{type}, s.extension, location});
        ++n;
    }
    m_bench.addRow(s.objectId);
    test::Snapshot before = m_bench.snapshot();

    std::vector<std::string> lines = m_bench.run();
    std::vector<std::string> expected = {
        "** Resetting Subscriber **",
        "    Alias=" + s.alias,
        "    ObjectID=" + s.objectId,
        "    Checking for DTMFAccessID uniqueness in dialing domain for this user",
        "(error) This subscriber has a conflicting ID with another object in the database.  This "
        "will cause the reset for this user to fail so they are being skipped.",
        "All objects found using this DTMFAccessID:"};
    DbRowSet users = m_bench.sql("SELECT * FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID=?",
                                 {s.extension});
    ASSERT_EQ(users.rows.size(), 1u + n);
    int nullNames = 0;
    for (const auto &r : users.rows) {
        std::int64_t type = 0;
        std::optional<std::string> name;
        for (std::size_t c = 0; c < users.columns.size(); ++c) {
            if (db::equalsIgnoreCase(users.columns[c].name, "ObjectType"))
                type = db::valueLong(r[c]);
            if (db::equalsIgnoreCase(users.columns[c].name, "DisplayName") && !db::isNull(r[c]))
                name = db::valueText(r[c]);
        }
        // An object without a name cannot be read as text: the run's error line, then the
        // listing line with an empty name.
        if (!name) {
            expected.push_back("(error):94 (Invalid use of Null) in procedure "
                               "cmdResetSubscribers_Click of Form frmResetSubscribers");
            ++nullNames;
        }
        expected.push_back(std::string("    ") + (type == 1 ? "Subscriber" : "Unknown") +
                           " with a Display Name= " + name.value_or("") + ".  ");
    }
    EXPECT_EQ(withoutEnd(lines), expected);
    EXPECT_EQ(errorsInClosing(m_bench), std::to_string(1 + nullNames));
    EXPECT_EQ(m_bench.page->summary()->subscribersReset, 0);
    test::expectSame(before, m_bench.snapshot());
}

TEST_F(FaultTest, NoSmtpAddressLeavesOutTheMailbox) {
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return !f.smtpAddress && !f.directoryId.empty() && !m_bench.conflicting(f) &&
               !m_bench.undeletable(f);
    });
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    EXPECT_EQ(expected.back().rfind("(error) subscriber has no SMTP address in SQL", 0), 0u);
    append(expected, afterRemoval());
    EXPECT_EQ(withoutEnd(m_bench.run()), expected);
    EXPECT_EQ(errorsInClosing(m_bench), "1");
    expectBack(m_bench, s);
}

TEST_F(FaultTest, AnUnresolvableMailboxIsReportedTwice) {
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return f.smtpAddress && !fs::is_directory(m_bench.mailboxFolder(f)) &&
               !f.directoryId.empty() && !m_bench.conflicting(f) && !m_bench.undeletable(f);
    });
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    EXPECT_EQ(expected.back(), "(error) mailbox messages for subscriber could not be removed.");
    append(expected, afterRemoval());
    EXPECT_EQ(withoutEnd(m_bench.run()), expected);
    EXPECT_EQ(errorsInClosing(m_bench), "2");
    expectBack(m_bench, s);
}

TEST(FaultMailLibrary, WithoutTheMailLibraryEverySubscriberKeepsItsMessages) {
    test::ResetBench bench(20, 1, {{"mail-library", "missing"}});
    test::SubscriberFacts s = bench.find([&](const auto &f) { return bench.ordinary(f); });
    int messages = bench.messagesIn(s, "Inbox") + bench.messagesIn(s, "Sent Items") +
                   bench.messagesIn(s, "Deleted Items");
    bench.addRow(s.objectId);
    std::vector<std::string> expected = bench.expectedLinesBeforeRemoval(s, false);
    EXPECT_EQ(expected[expected.size() - 2].rfind("(error) could not log into mailbox", 0), 0u);
    append(expected, afterRemoval());
    EXPECT_EQ(withoutEnd(bench.run()), expected);
    EXPECT_EQ(errorsInClosing(bench), "2");
    EXPECT_EQ(bench.messagesIn(s, "Inbox") + bench.messagesIn(s, "Sent Items") +
                  bench.messagesIn(s, "Deleted Items"),
              messages);
    expectBack(bench, s);
}

TEST_F(FaultTest, MissingRecordingsAreSaidAndTheirPathsCleared) {
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.ordinary(f) && f.voiceName && m_bench.recordingFile(*f.voiceName).empty();
    });
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    EXPECT_EQ(expected[5], "    wav file not found on system");
    append(expected, afterRemoval());
    EXPECT_EQ(withoutEnd(m_bench.run()), expected);
    EXPECT_EQ(errorsInClosing(m_bench), "0");
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID=? AND "
                               "StreamPath IS NOT NULL",
                               {s.callHandlerId}),
              0);
}

TEST_F(FaultTest, ReadOnlyRecordingsAreDeleted) {
    std::vector<std::string> files;
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        if (!m_bench.ordinary(f) || !f.voiceName)
            return false;
        std::string file = m_bench.recordingFile(*f.voiceName);
        return !file.empty() &&
               (fs::status(file).permissions() & fs::perms::owner_write) == fs::perms::none;
    });
    for (const auto &p : m_bench
                             .sql("SELECT StreamPath FROM MessagingRule WHERE ParentObjectID=? "
                                  "AND StreamPath IS NOT NULL",
                                  {s.callHandlerId})
                             .rows)
        files.push_back(m_bench.recordingFile(db::valueText(p[0])));
    files.push_back(m_bench.recordingFile(*s.voiceName));
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    append(expected, afterRemoval());
    EXPECT_EQ(withoutEnd(m_bench.run()), expected);
    EXPECT_EQ(errorsInClosing(m_bench), "0");
    for (const std::string &file : files)
        EXPECT_FALSE(file.empty() || fs::exists(file)) << file;
    ASSERT_FALSE(m_bench.files().deletions.empty());
    for (const auto &[path, force] : m_bench.files().deletions)
        EXPECT_TRUE(force) << path;
}

TEST_F(FaultTest, ARecordingThatCannotBeDeletedIsLoggedAndItsPathStillCleared) {
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.ordinary(f) && f.voiceName && !m_bench.recordingFile(*f.voiceName).empty() &&
               m_bench.sqlCount("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID=? AND "
                                "StreamPath IS NOT NULL",
                                {f.callHandlerId}) > 0;
    });
    std::string voice = m_bench.recordingFile(*s.voiceName);
    std::string greetingPath = m_bench.sqlText(
        "SELECT StreamPath FROM MessagingRule WHERE ParentObjectID=? AND StreamPath IS NOT NULL",
        {s.callHandlerId});
    std::string greeting = m_bench.recordingFile(greetingPath);
    ASSERT_FALSE(greeting.empty());
    m_bench.files().refuseParts = {fs::path(voice).filename().string(),
                                   fs::path(greeting).filename().string()};
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    // Refused deletions: the run's error line after the voice name's "removing" line and after
    // the greeting's line.
    const std::string refused = "(error):70 (Permission denied) in procedure "
                                "cmdResetSubscribers_Click of Form frmResetSubscribers";
    expected.insert(expected.begin() + 5, refused);
    auto greetingLine =
        std::find_if(expected.begin() + 7, expected.end(), [](const std::string &l) {
            return l.rfind("    removing greeting WAV from file system:", 0) == 0;
        });
    ASSERT_NE(greetingLine, expected.end());
    std::string greetingAlias =
        m_bench.sqlText("SELECT Alias FROM MessagingRule WHERE ParentObjectID=? AND StreamPath=?",
                        {s.callHandlerId, greetingPath});
    greetingLine = std::find(expected.begin(), expected.end(),
                             "    removing greeting WAV from file system:" + greetingAlias);
    ASSERT_NE(greetingLine, expected.end());
    expected.insert(greetingLine + 1, refused);
    append(expected, afterRemoval());

    std::vector<std::string> lines = m_bench.run();
    EXPECT_EQ(withoutEnd(lines), expected);
    EXPECT_EQ(errorsInClosing(m_bench), "2");
    EXPECT_TRUE(fs::exists(voice));
    EXPECT_TRUE(fs::exists(greeting));
    // Nothing of the subscriber names the files any more.
    EXPECT_EQ(
        m_bench.sqlCount("SELECT COUNT(*) FROM MessagingRule WHERE StreamPath=?", {greetingPath}),
        0);
    EXPECT_EQ(
        m_bench.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE StreamPath=?", {*s.voiceName}), 0);
}

TEST_F(FaultTest, ATemplateWithoutMessageWaitingIndicatorIsReported) {
    m_bench.templateAlias = "kioskTemplate";
    test::SubscriberFacts s = ordinary();
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s, false);
    std::vector<std::string> lines = m_bench.run();
    auto [newId, newHandler] = m_bench.lastCreatedIds();
    ASSERT_FALSE(newId.empty());
    std::vector<std::string> rest = afterRemoval();
    rest.insert(rest.begin() + 5,
                "(error) no notification MWI devices found for SubscriberObjectID=" + newId);
    append(expected, rest);
    (void)newHandler;
    EXPECT_EQ(withoutEnd(lines), expected);
    EXPECT_EQ(errorsInClosing(m_bench), "1");
    expectBack(m_bench, s);
    EXPECT_EQ(
        m_bench.sqlCount("SELECT COUNT(*) FROM NotificationMWI WHERE ParentObjectID IN (?, ?)",
                         {s.objectId, newId}),
        0);
    EXPECT_EQ(serverProblems(m_bench), std::vector<std::string>{});
}

TEST_F(FaultTest, AnAlternateExtensionThatCannotComeBackIsAWarning) {
    m_bench.preserve = true;
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return m_bench.ordinary(f) &&
               m_bench.sqlCount("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID=? AND "
                                "IsPrimaryID=0",
                                {f.objectId}) >= 2;
    });
    std::string lost = m_bench.sqlText("SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE "
                                       "ParentObjectID=? AND IsPrimaryID=0 ORDER BY DTMFAccessID",
                                       {s.objectId});
    m_bench.db().refusedInsertValues.insert(lost);
    m_bench.addRow(s.objectId);
    std::vector<std::string> lines = m_bench.run();
    const std::string warning =
        "    (warning) alternate extension " + lost +
        " could not be added back: Violation of UNIQUE KEY constraint: " + lost;
    auto at = std::find(lines.begin(), lines.end(), warning);
    ASSERT_NE(at, lines.end()) << ::testing::PrintToString(lines);
    EXPECT_EQ(*(at - 1 - (at[-1] != "    Adding alternate extensions back to user as requested")),
              "    Adding alternate extensions back to user as requested");
    EXPECT_EQ(errorsInClosing(m_bench), "0");
    EXPECT_EQ(m_bench.log->LogWarningCount(), 1);
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID=? AND "
                               "IsPrimaryID=0 AND DTMFAccessID=?",
                               {s.objectId, lost}),
              0);
    EXPECT_GE(m_bench.sqlCount("SELECT COUNT(*) FROM vw_DTMFAccessID WHERE ParentObjectID=? AND "
                               "IsPrimaryID=0",
                               {s.objectId}),
              1);
}

TEST(FaultLogFolder, TheClosingMessageSaysWhereTheLogWent) {
    test::TempFolder userData;
    const char *saved = std::getenv("XDG_DATA_HOME");
    std::string savedValue = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", userData.path().c_str(), 1);
    {
        test::ResetBench bench(6, 1);
        // A file where the logs folder should be: the folder cannot be made.
        std::ofstream(bench.temp.programFolder() + "/logs") << "not a folder";
        bench.addRawRow("ghost", "{00000000-0000-0000-0000-000000000003}");
        bench.ui().expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
        bench.ui().expectBox("in procedure GenerateNewLogFileName of Module Module1");
        bench.ui().expectBox("Subscriber mailbox reset process complete", MsgAnswer::OK);
        bench.page->cmdResetSubscribers_Click();
        bench.ui().verifyAllShown();
        const std::string &reason = bench.log->LogFallbackReason();
        ASSERT_FALSE(reason.empty());
        std::string message = bench.closingMessage();
        EXPECT_NE(message.find("\r\n" + reason + "\r\nPress OK to view the output log now."),
                  std::string::npos)
            << message;
        EXPECT_EQ(bench.log->LogFilePath().rfind(userData.path(), 0), 0u);
        ASSERT_EQ(bench.shell().started.size(), 1u);
        EXPECT_TRUE(fs::exists(bench.host().files->nativePath(bench.log->LogFilePath())));
    }
    if (saved)
        ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

} // namespace
