// Whole reset runs on a seeded stand-in host: the log compared line by line, the closing
// message, the page's controls before, during and after, and what reaches the server.
#include "reset_helpers.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <regex>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

const char *const kDlSyncLine = "** Starting synchronization of all distribution lists - "
                                "application will not wait for this to complete **";
const char *const kDlSkipLine =
    "** Skipping synchronization of all distribution lists by request **";

std::vector<std::string> startLines(const test::SubscriberFacts &s) {
    return {"** Resetting Subscriber **", "    Alias=" + s.alias, "    ObjectID=" + s.objectId};
}

void append(std::vector<std::string> &to, const std::vector<std::string> &lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

// The three fixed end lines and the time stamp line after them.
void expectEnd(std::vector<std::string> lines, bool skipped) {
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 4], "");
    EXPECT_EQ(lines[lines.size() - 3], skipped ? kDlSkipLine : kDlSyncLine);
    EXPECT_EQ(lines[lines.size() - 2], "");
    static const std::regex stamp(R"(\*\* Subscriber mailbox reset process complete at )"
                                  R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M)");
    EXPECT_TRUE(std::regex_match(lines.back(), stamp)) << lines.back();
}

std::vector<std::string> withoutEnd(const std::vector<std::string> &lines) {
    return {lines.begin(), lines.end() - std::min<std::ptrdiff_t>(4, lines.size())};
}

std::string closingText(int reset, int errors) {
    return "Subscriber mailbox reset process complete, reset " + std::to_string(reset) +
           " subscribers reset.  " + std::to_string(errors) +
           " error(s) encountered.\r\nNOTE: It may take a few minutes for the Recipient Update "
           "Service to complete creating new mailstores for the reset boxes.\r\nPress OK to view "
           "the output log now.";
}

int errorLines(const std::vector<std::string> &lines) {
    int n = 0;
    for (std::string line : lines) {
        for (char &c : line)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        n += line.find("(error)") != std::string::npos ? 1 : 0;
    }
    return n;
}

class ResetRunTest : public ::testing::Test {
protected:
    test::ResetBench m_bench{20, 1};

    // The first subscriber (by alias) that meets the condition.
    test::SubscriberFacts find(const std::function<bool(const test::SubscriberFacts &)> &is) {
        for (const auto &[alias, id] : m_bench.subscribers()) {
            test::SubscriberFacts f = m_bench.facts(id);
            if (is(f))
                return f;
        }
        ADD_FAILURE() << "the seeded host has no such subscriber";
        return {};
    }
    bool conflicting(const test::SubscriberFacts &f) {
        return m_bench.sqlCount(
                   "SELECT COUNT(*) FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID=?",
                   {f.extension}) >= 2;
    }
    bool undeletable(const test::SubscriberFacts &f) {
        return m_bench.sqlText("SELECT Undeletable FROM Subscriber WHERE SubscriberObjectID=?",
                               {f.objectId}) == "1";
    }
    // Nothing stands in the way of its reset.
    bool ordinary(const test::SubscriberFacts &f) {
        return !f.directoryId.empty() && f.smtpAddress &&
               fs::is_directory(m_bench.mailboxFolder(f)) && !conflicting(f) && !undeletable(f);
    }
    // The happy path: its voice name is a file below the stream folder.
    bool happy(const test::SubscriberFacts &f) {
        return ordinary(f) && f.voiceName && !f.voiceName->empty() && f.voiceName->front() != '/' &&
               !m_bench.recordingFile(*f.voiceName).empty();
    }

    std::vector<std::string> happyLines(const test::SubscriberFacts &s) {
        std::vector<std::string> expected = startLines(s);
        expected.push_back(
            "    Checking for DTMFAccessID uniqueness in dialing domain for this user");
        append(expected, m_bench.expectedRecordingLines(s));
        append(expected, m_bench.expectedMailboxLines(s));
        append(expected,
               {"    Removing subscriber from SQL", "    Directory sync complete for removal",
                "    Adding subscriber back to SQL with new template settings",
                "    User created in SQL",
                "    Updating global subscriber table with new ObjectID values",
                "    Subscriber synch with directory started.",
                "    Directory sync complete for creation"});
        return expected;
    }
};

TEST_F(ResetRunTest, TheHappyPathWritesEveryLineInOrder) {
    test::SubscriberFacts s = find([&](const auto &f) { return happy(f); });
    std::string voiceFile = m_bench.recordingFile(*s.voiceName);
    m_bench.addRow(s.objectId);
    std::vector<std::string> expected = happyLines(s);
    // The happy path of the description: a voice name deleted below the stream folder.
    ASSERT_EQ(expected[5].rfind("    Deleting " + m_bench.rootPath() + "Stream Files\\", 0), 0u);

    std::vector<std::string> lines = m_bench.run();
    EXPECT_EQ(withoutEnd(lines), expected);
    expectEnd(lines, false);
    EXPECT_EQ(m_bench.closingMessage(), closingText(1, 0));
    EXPECT_EQ(errorLines(lines), 0);
    EXPECT_FALSE(fs::exists(voiceFile));

    const ResetPage &page = *m_bench.page;
    EXPECT_EQ(page.lblSubscribersAddedCount, "1");
    EXPECT_EQ(page.ProgressBar.Max, 1);
    EXPECT_EQ(page.ProgressBar.Value, 1);
    EXPECT_FALSE(page.cmdResetSubscribers.Enabled);
    EXPECT_FALSE(page.cmdPrevious.Enabled);
    EXPECT_TRUE(page.cmdExit.Enabled);
    EXPECT_TRUE(page.cmdHelp.Enabled);
    EXPECT_FALSE(page.cmdNext.Enabled);
    EXPECT_FALSE(page.running());
    EXPECT_FALSE(page.busy);
    EXPECT_FALSE(m_bench.ui().busy());
    EXPECT_EQ(m_bench.ui().busyChanges(), 2);
    // Cancel: no viewer.
    EXPECT_TRUE(m_bench.shell().started.empty());
    // The run yielded after every line it wrote.
    EXPECT_GE(m_bench.ui().doEventsCount(), static_cast<int>(lines.size()));
}

TEST_F(ResetRunTest, TheLogFileHoldsTheHeaderAndTheRunsLines) {
    test::SubscriberFacts s = find([&](const auto &f) { return ordinary(f); });
    m_bench.addRow(s.objectId);
    std::vector<std::string> observed;
    m_bench.log->setLineObserver([&](const std::string &l) { observed.push_back(l); });
    m_bench.run();
    std::string path = m_bench.host().files->nativePath(m_bench.log->LogFilePath());
    std::vector<std::string> file = test::readLogFile(path);
    EXPECT_EQ(file, observed);
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(file[1], "*************************************************************");
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(m_bench.temp.programFolder()) / "logs");
    EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(),
                                 std::regex(R"(Zephrane_Log_\d{8}_\d{2}_\d{2}_\d{2}\.TXT)")));
}

TEST_F(ResetRunTest, OkOnTheClosingMessageOpensTheLogInTheTextViewer) {
    test::SubscriberFacts s = find([&](const auto &f) { return ordinary(f); });
    m_bench.addRow(s.objectId);
    m_bench.run(MsgAnswer::OK);
    ASSERT_EQ(m_bench.shell().started.size(), 1u);
    EXPECT_EQ(m_bench.shell().started[0],
              "notepad " + m_bench.host().files->nativePath(m_bench.log->LogFilePath()));
    EXPECT_EQ(m_bench.shell().styles[0], WindowStyle::Normal);
    EXPECT_TRUE(m_bench.page->summary()->viewLog);
}

TEST_F(ResetRunTest, AViewerThatCannotStartIsSaid) {
    test::SubscriberFacts s = find([&](const auto &f) { return ordinary(f); });
    m_bench.addRow(s.objectId);
    m_bench.shell().startResult = false;
    m_bench.ui().expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    m_bench.ui().expectBox("Subscriber mailbox reset process complete", MsgAnswer::OK);
    m_bench.ui().expectBox("The run log could not be opened in a text viewer.");
    m_bench.page->cmdResetSubscribers_Click();
    m_bench.ui().verifyAllShown();
}

TEST_F(ResetRunTest, WhenEverySubscriberIsSkippedOnlyTheSkipLinesAreWritten) {
    // No directory id, a conflicting extension, and an id the cached table does not hold.
    test::SubscriberFacts noDirectory = find([](const auto &f) { return f.directoryId.empty(); });
    test::SubscriberFacts conflict =
        find([&](const auto &f) { return !f.directoryId.empty() && conflicting(f); });
    m_bench.addRow(noDirectory.objectId);
    m_bench.addRow(conflict.objectId);
    m_bench.addRawRow("ghost", "{00000000-0000-0000-0000-000000000001}");
    test::Snapshot before = m_bench.snapshot();

    std::vector<std::string> expected = startLines(noDirectory);
    expected.push_back("(error) the directory ID value for this subscriber is NULL which usually "
                       "means they are not represented in the directory.  Skipping resetting "
                       "this subscriber");
    append(expected, startLines(conflict));
    expected.push_back("    Checking for DTMFAccessID uniqueness in dialing domain for this user");
    expected.push_back("(error) This subscriber has a conflicting ID with another object in the "
                       "database.  This will cause the reset for this user to fail so they are "
                       "being skipped.");
    expected.push_back("All objects found using this DTMFAccessID:");
    DbRowSet users = m_bench.sql("SELECT * FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID=?",
                                 {conflict.extension});
    ASSERT_GE(users.rows.size(), 2u);
    for (const auto &r : users.rows) {
        std::int64_t type = 0;
        std::string name;
        for (std::size_t c = 0; c < users.columns.size(); ++c) {
            if (db::equalsIgnoreCase(users.columns[c].name, "ObjectType"))
                type = db::valueLong(r[c]);
            if (db::equalsIgnoreCase(users.columns[c].name, "DisplayName"))
                name = db::valueText(r[c]);
        }
        const char *word = type == 1   ? "Subscriber"
                           : type == 2 ? "Distribution List"
                                       : "Call Handler";
        expected.push_back(std::string("    ") + word + " with a Display Name= " + name + ".  ");
    }
    append(expected, {"** Resetting Subscriber **", "    Alias=ghost",
                      "    ObjectID={00000000-0000-0000-0000-000000000001}",
                      "(error) could not find subscriber in database using objectID - skipping "
                      "user"});

    std::vector<std::string> lines = m_bench.run();
    EXPECT_EQ(withoutEnd(lines), expected);
    expectEnd(lines, false);
    EXPECT_EQ(m_bench.closingMessage(), closingText(0, 3));
    EXPECT_EQ(errorLines(lines), 3);
    EXPECT_EQ(m_bench.page->ProgressBar.Value, 3);
    EXPECT_EQ(m_bench.page->ProgressBar.Max, 3);
    EXPECT_EQ(m_bench.page->lblSubscribersAddedCount, "0");
    // Skipped subscribers are left untouched; only the lists' synchronisation ran.
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteSubscriber"), 0);
    EXPECT_EQ(m_bench.db().callCount("sp_CreateSubscriber"), 0);
    EXPECT_EQ(m_bench.db().callCount("sp_SqlDirectorySync"), 1);
    test::expectSame(before, m_bench.snapshot());
}

TEST_F(ResetRunTest, UncheckedRowsMoveTheProgressAndWriteNothing) {
    test::SubscriberFacts s = find([&](const auto &f) { return ordinary(f); });
    auto all = m_bench.subscribers();
    for (const auto &[alias, id] : all) {
        if (id != s.objectId)
            m_bench.addRow(id, false);
    }
    m_bench.addRow(s.objectId, true);
    m_bench.addRow(all.front().second, false);
    std::vector<std::string> expected = happyLines(s);
    // This subscriber's voice name may be missing or elsewhere: take its lines as they come.
    std::vector<std::string> lines = m_bench.run();
    EXPECT_EQ(withoutEnd(lines), expected);
    EXPECT_EQ(m_bench.page->ProgressBar.Value, static_cast<int>(all.size()) + 1);
    EXPECT_EQ(m_bench.page->ProgressBar.Max, static_cast<int>(all.size()) + 1);
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteSubscriber"), 1);
    EXPECT_EQ(m_bench.page->summary()->subscribersReset, 1);
}

TEST_F(ResetRunTest, AnsweringNoLeavesNoLogAndChangesNothing) {
    test::SubscriberFacts s = find([&](const auto &f) { return ordinary(f); });
    m_bench.addRow(s.objectId);
    test::Snapshot before = m_bench.snapshot();
    m_bench.ui().expectBox(ResetPage::kConfirmation, MsgAnswer::No);
    m_bench.page->cmdResetSubscribers_Click();
    m_bench.ui().verifyAllShown();
    ASSERT_EQ(m_bench.ui().boxes().size(), 1u);
    EXPECT_EQ(m_bench.ui().boxes()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(m_bench.ui().boxes()[0].title, "Zephrane");
    EXPECT_FALSE(fs::exists(m_bench.temp.programFolder() + "/logs"));
    EXPECT_TRUE(m_bench.log->LogFilePath().empty());
    EXPECT_TRUE(m_bench.db().calls.empty());
    EXPECT_EQ(m_bench.ui().busyChanges(), 0);
    EXPECT_EQ(m_bench.ui().doEventsCount(), 0);
    EXPECT_TRUE(m_bench.page->cmdResetSubscribers.Enabled);
    EXPECT_TRUE(m_bench.page->cmdPrevious.Enabled);
    EXPECT_TRUE(m_bench.page->cmdExit.Enabled);
    EXPECT_EQ(m_bench.page->ProgressBar.Value, 0);
    EXPECT_FALSE(m_bench.page->finished());
    test::expectSame(before, m_bench.snapshot());

    // The operator may still run it afterwards.
    m_bench.run();
    EXPECT_TRUE(m_bench.page->finished());
}

TEST_F(ResetRunTest, OnePageRunsOnce) {
    test::SubscriberFacts s = find([&](const auto &f) { return ordinary(f); });
    m_bench.addRow(s.objectId);
    m_bench.run();
    std::size_t boxes = m_bench.ui().boxes().size();
    m_bench.page->cmdResetSubscribers_Click(); // no question, no run
    EXPECT_EQ(m_bench.ui().boxes().size(), boxes);
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteSubscriber"), 1);
}

TEST_F(ResetRunTest, TheListsSynchroniseAtTheEndUnlessSkipped) {
    test::SubscriberFacts s = find([](const auto &f) { return f.directoryId.empty(); });
    m_bench.addRow(s.objectId);
    m_bench.run();
    const test::ProcedureCall &call = m_bench.db().lastCall("sp_SqlDirectorySync");
    ASSERT_EQ(call.args.size(), 1u);
    EXPECT_EQ(call.args[0].name, "@SyncDistributionList");
    EXPECT_EQ(call.args[0].type, DbParamType::Integer);
    EXPECT_EQ(call.args[0].value, DbValue(std::int64_t{1}));
}

TEST(ResetRunSkip, TheCheckedSkipBoxLeavesTheListsAlone) {
    test::ResetBench bench(6, 1);
    bench.host().commandLine = "SKIPDLSYNC";
    ResetInputs inputs;
    inputs.grid = [&]() -> const SubscriberGrid & { return bench.grid; };
    inputs.templateAlias = [&] { return bench.templateAlias; };
    inputs.preserveAlternateExtensions = [] { return false; };
    bench.page = std::make_unique<ResetPage>(bench.host(), *bench.registry, *bench.tarvoDb,
                                             *bench.log, inputs);
    bench.page->Form_Load();
    EXPECT_TRUE(bench.page->chkSkipDLResynch.Visible);
    EXPECT_FALSE(bench.page->chkSkipDLResynch.Value);
    bench.page->chkSkipDLResynch.Value = true;
    bench.addRawRow("ghost", "{00000000-0000-0000-0000-000000000002}");
    std::vector<std::string> lines = bench.run();
    expectEnd(lines, true);
    EXPECT_EQ(bench.db().callCount("sp_SqlDirectorySync"), 0);
}

TEST(ResetPageLoad, TheSkipBoxShowsOnlyForTheWordInAnyCase) {
    struct Case {
        const char *commandLine;
        bool visible;
    } cases[] = {{"", false},
                 {"Advanced", false},
                 {"SkipDLSync", true},
                 {"skipdlsync", true},
                 {"/Advanced /SKIPDLSYNCNOW", true},
                 {"Skip DL Sync", false}};
    test::TempHost temp(0);
    RegistryAPI registry(*temp.host().registry);
    db::modTarvoDB tarvoDb(*temp.host().database);
    Logging log(temp.host());
    for (const Case &c : cases) {
        temp.host().commandLine = c.commandLine;
        ResetPage page(temp.host(), registry, tarvoDb, log, {});
        EXPECT_FALSE(page.chkSkipDLResynch.Visible);
        page.Form_Load();
        EXPECT_EQ(page.chkSkipDLResynch.Visible, c.visible) << c.commandLine;
        EXPECT_FALSE(page.chkSkipDLResynch.Value);
        EXPECT_FALSE(page.cmdNext.Enabled);
        EXPECT_EQ(page.lblSubscribersAddedCount, "0");
        // The load step runs once.
        temp.host().commandLine = c.visible ? "" : "SkipDLSync";
        page.Form_Load();
        EXPECT_EQ(page.chkSkipDLResynch.Visible, c.visible) << c.commandLine;
    }
}

} // namespace

namespace {

// Each procedure gets exactly its named arguments, typed, in the order the server documents.
TEST_F(ResetRunTest, ProceduresGetTheirArgumentsByNameTypeAndValue) {
    // A subscriber without first and last name: they go as empty text, not NULL.
    test::SubscriberFacts s = m_bench.find([&](const auto &f) {
        return ordinary(f) &&
               m_bench.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE SubscriberObjectID=? AND "
                                "FirstName IS NULL AND LastName IS NULL",
                                {f.objectId}) == 1;
    });
    std::string display = m_bench.sqlText(
        "SELECT DisplayName FROM vw_Subscriber WHERE SubscriberObjectID=?", {s.objectId});
    m_bench.templateAlias = "salesTemplateEast";
    m_bench.addRow(s.objectId);
    m_bench.run();
    EXPECT_EQ(m_bench.page->summary()->errorCount, 0);

    using T = DbParamType;
    auto expectArgs = [](const test::ProcedureCall &call,
                         const std::vector<std::tuple<std::string, T, DbValue>> &args) {
        ASSERT_EQ(call.args.size(), args.size()) << call.name;
        for (std::size_t i = 0; i < args.size(); ++i) {
            EXPECT_EQ(call.args[i].name, std::get<0>(args[i])) << call.name;
            EXPECT_EQ(call.args[i].type, std::get<1>(args[i])) << call.args[i].name;
            EXPECT_EQ(call.args[i].value, std::get<2>(args[i])) << call.args[i].name;
        }
    };
    const test::ProcedureCall &removal = m_bench.db().lastCall("sp_DeleteSubscriber");
    ASSERT_EQ(removal.args.size(), 4u);
    std::string ticket = db::valueText(removal.args[3].value);
    EXPECT_EQ(ticket.size(), 38u);
    expectArgs(removal, {{"@SubscriberObjectID", T::Guid, s.objectId},
                         {"@DirectorySync", T::Integer, std::int64_t{1}},
                         {"@ForceRemove", T::Integer, std::int64_t{0}},
                         {"@DirectorySyncTicket", T::Guid, ticket}});
    expectArgs(m_bench.db().lastCall("sp_CreateSubscriber"),
               {{"@Alias", T::Text, s.alias},
                {"@DtmfAccessId", T::Text, s.extension},
                {"@templateAlias", T::Text, std::string("salesTemplateEast")},
                {"@SubscriberType", T::Integer, std::int64_t{1}},
                {"@Undeletable", T::Integer, std::int64_t{0}},
                {"@DisplayName", T::Text, display},
                {"@DirectoryID", T::Guid, s.directoryId},
                {"@Uid", T::Text, s.alias},
                {"@FirstName", T::Text, std::string()},
                {"@LastName", T::Text, std::string()},
                {"@DirectorySync", T::Integer, std::int64_t{0}}});
    const test::ProcedureCall &modify = m_bench.db().lastCall("sp_ModifySubscriber");
    ASSERT_EQ(modify.args.size(), 3u);
    std::string second = db::valueText(modify.args[1].value);
    EXPECT_NE(second, ticket);
    expectArgs(modify, {{"@SubscriberObjectID", T::Guid, s.objectId},
                        {"@DirectorySyncTicket", T::Guid, second},
                        {"@DirectorySync", T::Integer, std::int64_t{1}}});
    // Both tickets were waited for and removed.
    EXPECT_EQ(m_bench.db().callCount("sp_DeleteDirectorySyncTicket"), 2);
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM vw_DirectorySyncTicket"), 0);
    // The run's procedures, in order.
    std::vector<std::string> names;
    for (const auto &call : m_bench.db().calls)
        names.push_back(call.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"sp_DeleteSubscriber", "sp_DeleteDirectorySyncTicket",
                                        "sp_CreateSubscriber", "sp_ModifySubscriber",
                                        "sp_DeleteDirectorySyncTicket", "sp_SqlDirectorySync"}));
}

} // namespace
