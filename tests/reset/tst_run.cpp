// Whole reset runs on a seeded stand-in host: the log line by line, the closing message, the
// journal, the failed-records file, and what reaches the server.
#include "reset_helpers.h"

#include "reset/GetObjectTypeName.h"
#include "reset/RecoveryJournal.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

const char *const kGhost = "{00000000-0000-0000-0000-000000000001}";

// Subscribers the run skips (no directory account, a conflicting extension, unknown) around one
// clean reset, with unchecked rows between.
TEST(ResetRun, SkipsWhatItMustAndResetsTheRestLineByLineWithEveryArgumentBound) {
    test::ResetBench b;
    // Without first and last name: they go as empty text, not NULL.
    test::SubscriberFacts s = b.find([&](const auto &f) {
        return b.ordinary(f) && b.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE "
                                           "SubscriberObjectID=? AND FirstName IS NULL AND "
                                           "LastName IS NULL",
                                           {f.objectId}) == 1;
    });
    const std::string display =
        b.sqlText("SELECT DisplayName FROM vw_Subscriber WHERE SubscriberObjectID=?", {s.objectId});
    b.templateAlias = "salesTemplateEast";
    test::SubscriberFacts noDirectory = b.find([](const auto &f) { return f.directoryId.empty(); });
    test::SubscriberFacts conflict =
        b.find([&](const auto &f) { return !f.directoryId.empty() && b.conflicting(f); });
    b.addRow(noDirectory.objectId);
    b.addRow(conflict.objectId);
    b.addRow(kGhost, false, "other");
    b.addRow(s.objectId);
    b.addRow(kGhost, false, "other");
    b.addRow(kGhost, true, "ghost");

    std::vector<std::string> expected = {
        "** Resetting Subscriber **",
        "    Alias=" + noDirectory.alias,
        "    ObjectID=" + noDirectory.objectId,
        "(error) the directory ID value for this subscriber is NULL which usually means they are "
        "not represented in the directory.  Skipping resetting this subscriber",
        "** Resetting Subscriber **",
        "    Alias=" + conflict.alias,
        "    ObjectID=" + conflict.objectId,
        "    Checking for DTMFAccessID uniqueness in dialing domain for this user",
        "(error) This subscriber has a conflicting ID with another object in the database.  This "
        "will cause the reset for this user to fail so they are being skipped.",
        "All objects found using this DTMFAccessID:"};
    for (const auto &r : b.sql("SELECT ObjectType, DisplayName FROM "
                               "vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID=?",
                               {conflict.extension})
                             .rows)
        expected.push_back("    " + GetObjectTypeName(db::valueLong(r[0])) +
                           " with a Display Name= " + db::valueText(r[1]) + ".  ");
    for (const auto &part : {b.expectedLinesBeforeRemoval(s), test::afterRemovalLines()})
        expected.insert(expected.end(), part.begin(), part.end());
    // Then the unknown one, and the end: a blank line, the lists' synchronisation, a blank line
    // and the time.
    expected.insert(
        expected.end(),
        {"** Resetting Subscriber **", "    Alias=ghost", std::string("    ObjectID=") + kGhost,
         "(error) could not find subscriber in database using objectID - skipping user", "",
         "** Starting synchronization of all distribution lists - application will not "
         "wait for this to complete **",
         ""});

    // No to the question changes nothing; the run may follow.
    const test::Snapshot before = b.snapshot();
    b.ui().expectBox(ResetPage::kConfirmation, MsgAnswer::No);
    b.page->cmdResetSubscribers_Click();
    EXPECT_TRUE(b.db().calls.empty());
    test::expectSame(before, b.snapshot());

    const std::vector<std::string> lines = b.run();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1), expected);
    EXPECT_TRUE(std::regex_match(lines.back(),
                                 std::regex(R"(\*\* Subscriber mailbox reset process complete at )"
                                            R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M)")))
        << lines.back();
    EXPECT_EQ(b.summary().closingMessage,
              "Subscriber mailbox reset process complete, reset 1 subscribers reset.  3 error(s) "
              "encountered.\r\nNOTE: It may take a few minutes for the Recipient Update Service to "
              "complete creating new mailstores for the reset boxes.\r\nOf 4 ticked: 1 reset, "
              "0 reset with errors, 3 skipped, 0 not attempted.\r\nPress OK to view the output "
              "log now.");
    EXPECT_EQ(b.summary().outcome.reset, 1);
    EXPECT_EQ(b.summary().outcome.skipped, 3);
    EXPECT_EQ(b.page->lblSubscribersAddedCount, "1");

    // The journal holds the one finished reset; the failed-records file the skipped ones.
    Result<JournalFile> journal = readJournal(*b.host().files, b.summary().journalPath);
    EXPECT_TRUE(journal && journal->entries.size() == 1 && journal->unfinished().empty());
    EXPECT_EQ(test::readLogFile(b.host().files->nativePath(b.summary().failedRecordsPath)),
              (std::vector<std::string>{
                  "alias,extension,reason",
                  noDirectory.alias + "," + noDirectory.extension + "," + expected[3],
                  conflict.alias + "," + conflict.extension + "," + expected[8],
                  "ghost,," + expected[expected.size() - 4]}));
    // Every procedure's arguments by name, type and value, and the procedures in order.
    using T = DbParamType;
    using Args = std::vector<std::tuple<std::string, T, DbValue>>;
    auto expectArgs = [](const test::ProcedureCall &call, const Args &args) {
        Args actual;
        for (const DbParam &a : call.args)
            actual.emplace_back(a.name, a.type, a.value);
        EXPECT_EQ(actual, args) << call.name;
    };
    const test::ProcedureCall &removal = b.db().lastCall("sp_DeleteSubscriber");
    const std::string ticket = db::valueText(removal.args.at(3).value);
    expectArgs(removal, {{"@SubscriberObjectID", T::Guid, s.objectId},
                         {"@DirectorySync", T::Integer, std::int64_t{1}},
                         {"@ForceRemove", T::Integer, std::int64_t{0}},
                         {"@DirectorySyncTicket", T::Guid, ticket}});
    expectArgs(b.db().lastCall("sp_CreateSubscriber"),
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
    const test::ProcedureCall &modify = b.db().lastCall("sp_ModifySubscriber");
    const std::string second = db::valueText(modify.args.at(1).value);
    EXPECT_NE(second, ticket);
    expectArgs(modify, {{"@SubscriberObjectID", T::Guid, s.objectId},
                        {"@DirectorySyncTicket", T::Guid, second},
                        {"@DirectorySync", T::Integer, std::int64_t{1}}});
    expectArgs(b.db().lastCall("sp_DeleteDirectorySyncTicket"), {{"@Ticket", T::Guid, second}});
    expectArgs(b.db().lastCall("sp_SqlDirectorySync"),
               {{"@SyncDistributionList", T::Integer, std::int64_t{1}}});
    EXPECT_EQ(b.sqlCount("SELECT COUNT(*) FROM vw_DirectorySyncTicket"), 0);
    // One page runs once: a second click asks nothing and does nothing.
    const std::size_t boxes = b.ui().boxes().size();
    b.page->cmdResetSubscribers_Click();
    EXPECT_EQ(b.ui().boxes().size(), boxes);
    std::string names;
    for (const auto &call : b.db().calls)
        names += call.name + " ";
    EXPECT_EQ(names, "sp_DeleteSubscriber sp_DeleteDirectorySyncTicket sp_CreateSubscriber "
                     "sp_ModifySubscriber sp_DeleteDirectorySyncTicket sp_SqlDirectorySync ");
}

} // namespace
