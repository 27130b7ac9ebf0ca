// The faults a reset meets on the stand-in server: the exact lines, the error count, and the
// server's state afterwards.
#include "reset_helpers.h"

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
const char *const kCreationNotRun =
    "(error) subscriber creation stored procedure failed to execute properly.";

std::string runError(const std::string &number, const std::string &description) {
    return "(error):" + number + " (" + description +
           ") in procedure cmdResetSubscribers_Click of Form frmResetSubscribers";
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

TEST_P(DirectorySyncTest, AFailedOrSilentDirectoryIsReportedAndTheResetGoesOn) {
    const bool silent = std::string(GetParam()) == "never";
    test::ResetBench bench(20, 1, {{"directory-sync", GetParam()}});
    test::SubscriberFacts s = bench.find([&](const auto &f) { return bench.ordinary(f); });
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
    EXPECT_EQ(bench.summary().errorCount, 2) << "the time-out lines are not counted";
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
    test::SubscriberFacts
    ordinaryWith(const std::function<bool(const test::SubscriberFacts &)> &is) {
        return m_bench.find([&](const auto &f) { return m_bench.ordinary(f) && is(f); });
    }
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

    const std::vector<std::string> lines = test::withoutEnd(m_bench.run());
    const std::size_t at = expected.size();
    ASSERT_EQ(lines.size(), at + 19) << ::testing::PrintToString(lines);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + at), expected);
    auto isRunError = [](const std::string &line) {
        return line.rfind("(error):-2147217900 (", 0) == 0 &&
               line.find(") in procedure cmdResetSubscribers_Click of Form frmResetSubscribers") !=
                   std::string::npos;
    };
    EXPECT_EQ(lines[at], "    Removing subscriber from SQL");
    EXPECT_TRUE(isRunError(lines[at + 1])) << lines[at + 1];
    EXPECT_EQ(lines[at + 2], kTimeOut);
    EXPECT_EQ(lines[at + 3], kRemovalFailed);
    EXPECT_EQ(lines[at + 4], "    Adding subscriber back to SQL with new template settings");
    EXPECT_TRUE(isRunError(lines[at + 5])) << lines[at + 5];
    EXPECT_EQ(lines[at + 6], kCreationNotRun);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + at + 7, lines.begin() + at + 17),
              fixUpsWithoutIds());
    EXPECT_EQ(lines[at + 17], "    Subscriber synch with directory started.");
    EXPECT_EQ(lines[at + 18], "    Directory sync complete for creation");
    EXPECT_EQ(m_bench.summary().errorCount, 14);
    // It kept its rows; what went before the removal (recordings, messages) is gone.
    expectBack(m_bench, s);
    test::expectSame(before, m_bench.snapshot({s.alias}));
    EXPECT_EQ(m_bench.serverProblems(), std::vector<std::string>{});
}

struct MailboxCase {
    const char *name;
    const char *mailLibrary;
    bool withAddress;
    bool withMailbox;
    int errors;
};

class MailboxFaultTest : public ::testing::TestWithParam<MailboxCase> {};

TEST_P(MailboxFaultTest, AMailboxThatCannotBeReachedKeepsItsMessagesAndTheResetGoesOn) {
    const MailboxCase &c = GetParam();
    std::vector<std::pair<std::string, std::string>> settings;
    if (*c.mailLibrary)
        settings.emplace_back("mail-library", c.mailLibrary);
    test::ResetBench bench(20, 1, settings);
    test::SubscriberFacts s = bench.find([&](const auto &f) {
        return !f.directoryId.empty() && !bench.conflicting(f) && !bench.undeletable(f) &&
               f.smtpAddress.has_value() == c.withAddress &&
               (!f.smtpAddress || fs::is_directory(bench.mailboxFolder(f)) == c.withMailbox);
    });
    const int messages = bench.messagesOf(s);
    bench.addRow(s.objectId);
    std::vector<std::string> expected = bench.expectedLinesBeforeRemoval(s);
    ASSERT_NE(expected.back().find("(error)"), std::string::npos) << expected.back();
    append(expected, test::afterRemovalLines());
    EXPECT_EQ(test::withoutEnd(bench.run()), expected);
    EXPECT_EQ(bench.summary().errorCount, c.errors);
    EXPECT_EQ(bench.messagesOf(s), messages);
    expectBack(bench, s);
}

INSTANTIATE_TEST_SUITE_P(Faults, MailboxFaultTest,
                         ::testing::Values(MailboxCase{"NoSmtpAddress", "", false, false, 1},
                                           MailboxCase{"Unresolved", "", true, false, 2},
                                           MailboxCase{"NoMailLibrary", "missing", true, true, 2}),
                         [](const auto &param) { return std::string(param.param.name); });

TEST_F(FaultTest, ReadOnlyRecordingsAreDeletedAndAnUndeletableOneIsLoggedItsPathCleared) {
    const char *const greetings =
        "SELECT StreamPath FROM MessagingRule WHERE ParentObjectID=? AND StreamPath IS NOT NULL";
    auto readOnly = [](const std::string &file) {
        return !file.empty() &&
               (fs::status(file).permissions() & fs::perms::owner_write) == fs::perms::none;
    };
    test::SubscriberFacts s = ordinaryWith([&](const auto &f) {
        return f.voiceName && readOnly(m_bench.recordingFile(*f.voiceName)) &&
               !m_bench.recordingFile(m_bench.sqlText(greetings, {f.callHandlerId})).empty();
    });
    const std::string voice = m_bench.recordingFile(*s.voiceName);
    const std::string greetingPath = m_bench.sqlText(greetings, {s.callHandlerId});
    const std::string greeting = m_bench.recordingFile(greetingPath);
    m_bench.files().refuseParts = {fs::path(greeting).filename().string()};
    m_bench.addRow(s.objectId);
    // The run's error line follows the refused greeting's line.
    std::vector<std::string> expected = m_bench.expectedLinesBeforeRemoval(s);
    const std::string greetingAlias =
        m_bench.sqlText("SELECT Alias FROM MessagingRule WHERE ParentObjectID=? AND StreamPath=?",
                        {s.callHandlerId, greetingPath});
    auto greetingLine = std::find(expected.begin(), expected.end(),
                                  "    removing greeting WAV from file system:" + greetingAlias);
    ASSERT_NE(greetingLine, expected.end());
    expected.insert(greetingLine + 1, runError("70", "Permission denied"));
    append(expected, test::afterRemovalLines());

    EXPECT_EQ(test::withoutEnd(m_bench.run()), expected);
    EXPECT_EQ(m_bench.summary().errorCount, 1);
    EXPECT_FALSE(fs::exists(voice));
    EXPECT_TRUE(fs::exists(greeting));
    for (const auto &[path, force] : m_bench.files().deletions)
        EXPECT_TRUE(force) << path;
    // Nothing names the files any more.
    EXPECT_EQ(
        m_bench.sqlCount("SELECT COUNT(*) FROM MessagingRule WHERE StreamPath=?", {greetingPath}),
        0);
    EXPECT_EQ(
        m_bench.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE StreamPath=?", {*s.voiceName}), 0);
}

TEST_F(FaultTest, AnAlternateExtensionThatCannotComeBackIsAWarning) {
    m_bench.preserve = true;
    test::SubscriberFacts s = ordinaryWith([&](const auto &f) { return alternatesOf(f) >= 2; });
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

} // namespace
