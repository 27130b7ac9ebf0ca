// Values the server may hold as NULL, and the ids the fix-up lines name.
#include "reset_helpers.h"
#include "support/Succeeded.h"

#include "reset/RecoveryJournal.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace zeph;

namespace {

const std::string kNullRead = "(error):94 (Invalid use of Null) in procedure "
                              "cmdResetSubscribers_Click of Form frmResetSubscribers";

std::size_t countOf(const std::vector<std::string> &lines, const std::string &line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// A subscriber without a display name is reset after the one line its unreadable name gives,
// and comes back without one; the run counts it as reset with errors.
TEST(NullNames, ASubscriberWithoutADisplayNameIsResetAfterOneLine) {
    test::ResetBench b;
    b.templateAlias = "salesTemplateEast";
    const test::SubscriberFacts s = b.find([&](const auto &f) { return b.ordinary(f); });
    b.sql("UPDATE Subscriber SET DisplayName=NULL WHERE SubscriberObjectID=?", {s.objectId}, false);
    // The run reads the names from the tables cached at start.
    b.reopenTables();
    b.addRow(s.objectId);

    const std::vector<std::string> lines = b.run();
    EXPECT_EQ(countOf(lines, kNullRead), 1u);
    EXPECT_EQ(countOf(lines, "    Directory sync complete for creation"), 1u);
    // The line comes with the capture, before any change.
    const auto nullAt = std::find(lines.begin(), lines.end(), kNullRead);
    const auto removalAt =
        std::find(lines.begin(), lines.end(), "    Removing subscriber from SQL");
    EXPECT_LT(nullAt, removalAt);
    EXPECT_EQ(b.summary().errorCount, 1);
    EXPECT_EQ(b.summary().subscribersReset, 1);
    EXPECT_EQ(b.summary().outcome.resetWithErrors, 1);
    EXPECT_EQ(b.summary().outcome.skipped, 0);
    EXPECT_EQ(b.sqlCount("SELECT COUNT(*) FROM vw_Subscriber WHERE SubscriberObjectID=? AND "
                         "Alias=? AND CallHandlerObjectID=?",
                         {s.objectId, s.alias, s.callHandlerId}),
              1);
    ASSERT_EQ(b.summary().failedRecords.size(), 1u);
    EXPECT_EQ(b.summary().failedRecords[0].reason, kNullRead);
    EXPECT_EQ(b.serverProblems(), std::vector<std::string>{});
}

// The primary call handler is looked for by its new id; when it is not found, the lines of the
// owner's fix-up name the new subscriber, and the id's fix-up the new call handler.
TEST(FixUpLines, TheCallHandlerOwnerLinesNameTheNewSubscriber) {
    test::ResetBench b;
    b.templateAlias = "salesTemplateEast";
    const test::SubscriberFacts s = b.find([&](const auto &f) { return b.ordinary(f); });
    b.addRow(s.objectId);
    // The re-created primary call handler moves away once the global subscriber row has its
    // old ids back (the fix-up before the call handler's).
    b.sql("CREATE TRIGGER moveNewHandler AFTER UPDATE ON GlobalSubscriber BEGIN "
          "UPDATE CallHandler SET CallHandlerObjectID='{0BADBEEF-0000-0000-0000-000000000001}' "
          "WHERE CallHandlerObjectID=OLD.CallHandlerObjectID; END",
          {}, false);

    const std::vector<std::string> lines = b.run();
    const Result<JournalFile> journal = readJournal(*b.host().files, b.summary().journalPath);
    ASSERT_TRUE(test::succeeded(journal));
    ASSERT_EQ(journal->entries.size(), 1u);
    const IdentityMap &created = journal->entries[0].created;
    std::string all;
    for (const std::string &line : lines)
        all += line + "\n";
    ASSERT_FALSE(created.newSubscriberId.empty()) << all;
    ASSERT_NE(created.newSubscriberId, created.newCallHandlerId);
    EXPECT_EQ(countOf(lines, "(error) no primary call handler found for SubscriberObjectID=" +
                                 created.newSubscriberId),
              1u);
    EXPECT_EQ(countOf(lines, "(error) could not find new primary call handler for subscriber by "
                             "ObjectID=" +
                                 created.newCallHandlerId),
              1u);
}

} // namespace
