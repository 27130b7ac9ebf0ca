// The proof of a reset on the stand-in server: the subscriber keeps its ids, names, extension
// and directory account, takes every other setting from the template, loses its recordings and
// messages, keeps all twelve alternate extensions when asked, its list memberships and the auto
// attendant's links to it; the server stays whole and every other subscriber is untouched.
#include "reset_helpers.h"
#include "support/Succeeded.h"

#include "reset/RecoveryJournal.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

class IdentityTest : public ::testing::TestWithParam<bool> {};

// The alternate extensions with their types, or their aliases, in order; "" for none.
const char *const kAlternates =
    "SELECT COALESCE(group_concat(x, ' '), '') FROM (SELECT DTMFAccessID || ':' || "
    "ParentObjectIDType || DTMFAccessIDType AS x FROM DTMFAccessID WHERE ParentObjectID=? AND "
    "IsPrimaryID=0 ORDER BY 1)";
const char *const kAliases =
    "SELECT group_concat(Alias, ' ') FROM (SELECT Alias FROM DTMFAccessID WHERE ParentObjectID=? "
    "AND IsPrimaryID=0 ORDER BY 1)";
const char *const kSettings = "SELECT COSObjectID || '|' || SwitchID || '|' || Language || '|' || "
                              "TimeZone || '|' || PlaybackSpeed || '|' || PlaybackVolume || '|' || "
                              "ListInDirectory || '|' || MessageSortOrder || '|' || "
                              "UseBriefPrompts || '|' || ";
// Ids, names, extension, directory account, the global entry, its call handler's owner, its
// lists and the menu entries that lead to it; NULL when one of them is missing.
const char *const kIdentity =
    "SELECT s.Alias || '|' || s.CallHandlerObjectID || '|' || s.DTMFAccessID || '|' || "
    "s.DirectoryID || '|' || COALESCE(s.FirstName, '-') || '|' || COALESCE(s.LastName, '-') || "
    "'|' || s.DisplayName || '|' || g.SubscriberObjectID || '|' || g.CallHandlerObjectID || '|' || "
    "h.AdministratorObjectID || '|' || h.RecipientObjectID || '|' || h.IsPrimary || '|' || (SELECT "
    "group_concat(x) FROM (SELECT DistributionListObjectID AS x FROM DistributionListMember WHERE "
    "MemberObjectID = s.SubscriberObjectID ORDER BY 1)) || '|' || (SELECT group_concat(x) FROM "
    "(SELECT m.MenuEntryObjectID AS x FROM MenuEntry m WHERE m.TargetHandlerObjectID = "
    "s.CallHandlerObjectID AND m.ParentObjectID <> s.CallHandlerObjectID ORDER BY 1)) FROM "
    "vw_Subscriber s JOIN GlobalSubscriber g ON g.SubscriberObjectID = s.SubscriberObjectID JOIN "
    "CallHandler h ON h.CallHandlerObjectID = s.CallHandlerObjectID WHERE s.SubscriberObjectID=?";

TEST_P(IdentityTest, TheResetSubscriberKeepsItsIdentityAndTakesTheTemplate) {
    test::ResetBench b;
    b.templateAlias = "salesTemplate";
    b.preserve = GetParam();
    // The subscriber with more alternate extensions than the server once kept (twelve).
    const std::string id =
        b.sqlText("SELECT ParentObjectID FROM vw_DTMFAccessID WHERE IsPrimaryID=0 AND "
                  "ObjectType=1 GROUP BY ParentObjectID HAVING COUNT(*) > 11");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(b.serverProblems().empty());
    const test::SubscriberFacts s = b.facts(id);
    const std::string identity = b.sqlText(kIdentity, {id});
    ASSERT_NE(identity, "") << "the model subscriber has lists and menu entries";
    const std::string alternates = b.sqlText(kAlternates, {id});
    std::vector<std::string> recordings, exclude = {id, s.callHandlerId, s.directoryId, s.alias};
    DbRowSet paths = b.sql("SELECT StreamPath FROM MessagingRule WHERE ParentObjectID=? AND "
                           "StreamPath IS NOT NULL",
                           {s.callHandlerId});
    paths.rows.push_back({s.voiceName.value_or("")});
    for (const auto &r : paths.rows) {
        if (std::string file = b.recordingFile(db::valueText(r[0])); !file.empty()) {
            recordings.push_back(file);
            exclude.push_back(fs::path(file).filename().string());
        }
    }
    ASSERT_EQ(std::count(alternates.begin(), alternates.end(), ':'), 12);
    ASSERT_FALSE(recordings.empty());
    ASSERT_GT(b.messagesOf(s), 0);
    auto settings = [&](const std::string &from, const std::string &key) {
        return b.sqlText(std::string(kSettings) + "COALESCE(SubscriberTemplateObjectID, '') FROM " +
                             from + "=?",
                         {key});
    };
    const std::string templateRow = settings("SubscriberTemplate WHERE Alias", b.templateAlias);
    ASSERT_NE(settings("Subscriber WHERE SubscriberObjectID", id), templateRow)
        << "the template must differ to prove anything";
    const test::Snapshot othersBefore = b.snapshot(exclude);

    b.addRow(id);
    const std::vector<std::string> lines = b.run();
    EXPECT_EQ(b.summary().errorCount, 0) << ::testing::PrintToString(lines);
    const Result<JournalFile> journal = readJournal(*b.host().files, b.summary().journalPath);
    ASSERT_TRUE(test::succeeded(journal));
    ASSERT_EQ(journal->entries.size(), 1u);
    const std::string newId = journal->entries[0].created.newSubscriberId;
    const std::string newHandler = journal->entries[0].created.newCallHandlerId;
    ASSERT_FALSE(newId.empty() || newHandler.empty());

    // Its identity as it was (after the lists' synchronisation), and no row holds a new id.
    EXPECT_EQ(b.sqlText(kIdentity, {id}), identity);
    for (const auto &[table, rows] : b.snapshot()) {
        for (const std::string &row : rows)
            EXPECT_TRUE(row.find(newId) == row.npos && row.find(newHandler) == row.npos)
                << table << ": " << row;
    }
    // Every other setting, and the number of each kind of rule, from the template.
    EXPECT_EQ(settings("Subscriber WHERE SubscriberObjectID", id), templateRow);
    for (const std::string table : {"MessagingRule", "ContactRule", "MenuEntry",
                                    "NotificationDevice", "NotificationRule", "NotificationMWI"}) {
        const bool ofHandler = table.find("Notification") == std::string::npos;
        EXPECT_EQ(b.sqlCount("SELECT (SELECT COUNT(*) FROM " + table +
                                 " WHERE ParentObjectID=?) - "
                                 "(SELECT COUNT(*) FROM " +
                                 table + " WHERE ParentObjectID=(SELECT " +
                                 (ofHandler ? "CallHandler" : "Subscriber") +
                                 "TemplateObjectID FROM SubscriberTemplate WHERE Alias=?))",
                             {ofHandler ? s.callHandlerId : id, b.templateAlias}),
                  0)
            << table;
    }

    // Recordings gone and no StreamPath names them; mail folders there and empty.
    for (const std::string &file : recordings)
        EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_EQ(
        b.sqlCount("SELECT (SELECT COUNT(StreamPath) FROM Subscriber WHERE SubscriberObjectID=?) "
                   "+ (SELECT COUNT(StreamPath) FROM GlobalSubscriber WHERE "
                   "SubscriberObjectID=?) + (SELECT COUNT(StreamPath) FROM MessagingRule "
                   "WHERE ParentObjectID=?) + (SELECT COUNT(StreamPath) FROM CallHandler "
                   "WHERE CallHandlerObjectID=?)",
                   {id, id, s.callHandlerId, s.callHandlerId}),
        0);
    for (const char *folder : {"Inbox", "Sent Items", "Deleted Items"})
        EXPECT_TRUE(fs::is_directory(b.mailboxFolder(s) + "/" + folder));
    EXPECT_EQ(b.messagesOf(s), 0);

    // Alternate extensions back under the system's names when asked for, gone when not.
    std::string aliases;
    for (int n : {1, 10, 11, 12, 2, 3, 4, 5, 6, 7, 8, 9})
        aliases += (aliases.empty() ? "" : " ") + ("SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n));
    EXPECT_EQ(b.sqlText(kAlternates, {id}), b.preserve ? alternates : "");
    EXPECT_EQ(b.sqlText(kAliases, {id}), b.preserve ? aliases : "");
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "    12 alternate extensiosn found for user - saving"),
              b.preserve ? 1 : 0);
    EXPECT_EQ(b.serverProblems(), std::vector<std::string>{});
    test::expectSame(othersBefore, b.snapshot(exclude));
}

INSTANTIATE_TEST_SUITE_P(PreserveAlternateExtensions, IdentityTest, ::testing::Bool(),
                         [](const auto &param) { return param.param ? "Kept" : "Dropped"; });

} // namespace
