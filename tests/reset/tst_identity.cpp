// The proof of a reset on the stand-in server: the subscriber keeps its ids, names, extension
// and directory account, takes every other setting from the template, loses its recordings and
// messages, keeps all twelve alternate extensions when asked, its list memberships and the auto
// attendant's links to it; the server stays whole and every other subscriber is untouched.
#include "reset_helpers.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> column(const DbRowSet &rows, std::size_t c = 0) {
    std::vector<std::string> out;
    for (const auto &r : rows.rows)
        out.push_back(db::isNull(r[c]) ? "<NULL>" : db::valueText(r[c]));
    std::sort(out.begin(), out.end());
    return out;
}

const char *const kAlternates =
    "SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0";
const char *const kLists =
    "SELECT DistributionListObjectID FROM DistributionListMember WHERE MemberObjectID=?";
const char *const kSubscriberSettings =
    "COSObjectID || '|' || SwitchID || '|' || Language || '|' || TimeZone || '|' || "
    "PlaybackSpeed || '|' || PlaybackVolume || '|' || ListInDirectory || '|' || "
    "MessageSortOrder || '|' || UseBriefPrompts || '|' || ";
class IdentityTest : public ::testing::TestWithParam<bool> {
protected:
    test::ResetBench m_bench;
    std::string text(const std::string &sql, const std::vector<DbValue> &params) {
        return m_bench.sqlText(sql, params);
    }
};

TEST_P(IdentityTest, TheResetSubscriberKeepsItsIdentityAndTakesTheTemplate) {
    const bool preserve = GetParam();
    m_bench.templateAlias = "salesTemplate";
    m_bench.preserve = preserve;
    // The subscriber with more alternate extensions than the server once kept (twelve).
    const std::string id = m_bench.sqlText(
        "SELECT ParentObjectID FROM vw_DTMFAccessID WHERE IsPrimaryID=0 AND ObjectType=1 GROUP BY "
        "ParentObjectID HAVING COUNT(*) > 11");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(m_bench.serverProblems().empty());
    const test::SubscriberFacts s = m_bench.facts(id);
    const std::string namesQuery = "SELECT COALESCE(FirstName,'<NULL>') || '|' || "
                                   "COALESCE(LastName,'<NULL>') || '|' || DisplayName FROM "
                                   "vw_Subscriber WHERE SubscriberObjectID=?";
    const std::string names = text(namesQuery, {id});
    const std::vector<std::string> alternates = column(m_bench.sql(kAlternates, {id}));
    const std::vector<std::string> lists = column(m_bench.sql(kLists, {id}));
    const std::vector<std::string> menuEntries = column(
        m_bench.sql("SELECT MenuEntryObjectID FROM MenuEntry WHERE TargetHandlerObjectID=? AND "
                    "ParentObjectID<>?",
                    {s.callHandlerId, s.callHandlerId}));
    std::vector<std::string> recordings;
    std::vector<std::string> exclude = {id, s.callHandlerId, s.directoryId, s.alias};
    for (std::string path : column(m_bench.sql("SELECT StreamPath FROM MessagingRule WHERE "
                                               "ParentObjectID=? AND StreamPath IS NOT NULL",
                                               {s.callHandlerId}))) {
        if (std::string file = m_bench.recordingFile(path); !file.empty())
            recordings.push_back(file);
    }
    if (s.voiceName && !m_bench.recordingFile(*s.voiceName).empty())
        recordings.push_back(m_bench.recordingFile(*s.voiceName));
    for (const std::string &file : recordings)
        exclude.push_back(fs::path(file).filename().string());
    ASSERT_FALSE(alternates.empty() || lists.empty() || menuEntries.empty() || recordings.empty())
        << "the model subscriber has work for every step";
    ASSERT_GT(m_bench.messagesOf(s), 0);

    const std::string templateRow = text(std::string("SELECT ") + kSubscriberSettings +
                                             "SubscriberTemplateObjectID FROM SubscriberTemplate "
                                             "WHERE Alias=?",
                                         {m_bench.templateAlias});
    auto subscriberSettings = [&] {
        return text(std::string("SELECT ") + kSubscriberSettings +
                        "COALESCE(SubscriberTemplateObjectID, '') FROM Subscriber WHERE "
                        "SubscriberObjectID=?",
                    {id});
    };
    ASSERT_NE(subscriberSettings(), templateRow) << "the template must differ to prove anything";
    const test::Snapshot othersBefore = m_bench.snapshot(exclude);

    m_bench.addRow(id);
    const std::vector<std::string> lines = m_bench.run();
    EXPECT_EQ(m_bench.summary().errorCount, 0) << ::testing::PrintToString(lines);
    EXPECT_EQ(m_bench.summary().subscribersReset, 1);
    const auto [newId, newHandler] = m_bench.lastCreatedIds();
    ASSERT_FALSE(newId.empty());
    EXPECT_NE(newId, id);

    // Old ids back; names, extension and directory account unchanged; no row holds a new id.
    const test::SubscriberFacts after = m_bench.facts(id);
    EXPECT_EQ(std::tie(after.alias, after.callHandlerId, after.extension, after.directoryId),
              std::tie(s.alias, s.callHandlerId, s.extension, s.directoryId));
    EXPECT_EQ(text(namesQuery, {id}), names);
    EXPECT_EQ(text("SELECT SubscriberObjectID || '|' || CallHandlerObjectID FROM GlobalSubscriber "
                   "WHERE SubscriberObjectID=?",
                   {id}),
              id + "|" + s.callHandlerId);
    EXPECT_EQ(text("SELECT AdministratorObjectID || '|' || RecipientObjectID || '|' || IsPrimary "
                   "FROM CallHandler WHERE CallHandlerObjectID=?",
                   {s.callHandlerId}),
              id + "|" + id + "|1");
    for (const auto &[table, rows] : m_bench.snapshot()) {
        for (const std::string &row : rows) {
            EXPECT_EQ(row.find(newId), std::string::npos) << table << ": " << row;
            EXPECT_EQ(row.find(newHandler), std::string::npos) << table << ": " << row;
        }
    }
    // Every other setting, and the number of each kind of rule, from the template.
    EXPECT_EQ(subscriberSettings(), templateRow);
    const std::string tplId =
        text("SELECT SubscriberTemplateObjectID FROM SubscriberTemplate WHERE Alias=?",
             {m_bench.templateAlias});
    const std::string handlerTpl =
        text("SELECT CallHandlerTemplateObjectID FROM SubscriberTemplate WHERE Alias=?",
             {m_bench.templateAlias});
    for (const char *table : {"MessagingRule", "ContactRule", "MenuEntry", "NotificationDevice",
                              "NotificationRule", "NotificationMWI"}) {
        const bool ofHandler = std::string(table).find("Notification") == std::string::npos;
        const std::string count =
            std::string("SELECT COUNT(*) FROM ") + table + " WHERE ParentObjectID=?";
        EXPECT_EQ(m_bench.sqlCount(count, {ofHandler ? s.callHandlerId : id}),
                  m_bench.sqlCount(count, {ofHandler ? handlerTpl : tplId}))
            << table;
    }

    // Recordings gone and no StreamPath names them; mail folders there and empty.
    for (const std::string &file : recordings)
        EXPECT_FALSE(fs::exists(file)) << file;
    for (auto [table, key, value] : {std::tuple{"Subscriber", "SubscriberObjectID", id},
                                     {"GlobalSubscriber", "SubscriberObjectID", id},
                                     {"MessagingRule", "ParentObjectID", s.callHandlerId},
                                     {"CallHandler", "CallHandlerObjectID", s.callHandlerId}})
        EXPECT_EQ(m_bench.sqlCount(std::string("SELECT COUNT(*) FROM ") + table + " WHERE " + key +
                                       "=? AND StreamPath IS NOT NULL",
                                   {value}),
                  0)
            << table;
    for (const char *folder : {"Inbox", "Sent Items", "Deleted Items"})
        EXPECT_TRUE(fs::is_directory(m_bench.mailboxFolder(s) + "/" + folder));
    EXPECT_EQ(m_bench.messagesOf(s), 0);

    // Alternate extensions back when asked for, gone when not.
    if (preserve) {
        ASSERT_EQ(alternates.size(), 12u);
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "    12 alternate extensiosn found for user - saving"),
                  lines.end());
        EXPECT_EQ(column(m_bench.sql(kAlternates, {id})), alternates);
        DbRowSet rows = m_bench.sql("SELECT Alias, ParentObjectIDType, DTMFAccessIDType FROM "
                                    "DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0",
                                    {id});
        std::vector<std::string> aliases;
        for (std::size_t n = 1; n <= alternates.size(); ++n)
            aliases.push_back("SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n));
        std::sort(aliases.begin(), aliases.end());
        EXPECT_EQ(column(rows, 0), aliases);
        EXPECT_EQ(column(rows, 1), std::vector<std::string>(alternates.size(), "1"));
        EXPECT_EQ(column(rows, 2), std::vector<std::string>(alternates.size(), "1"));
    } else {
        EXPECT_TRUE(m_bench.sql(kAlternates, {id}).rows.empty());
    }

    // After the lists' synchronisation it is in every list it was in, and the auto attendant
    // still leads to it.
    EXPECT_EQ(column(m_bench.sql(kLists, {id})), lists);
    for (const std::string &entry : menuEntries) {
        EXPECT_EQ(text("SELECT s.SubscriberObjectID FROM MenuEntry m JOIN CallHandler h ON "
                       "h.CallHandlerObjectID = m.TargetHandlerObjectID JOIN Subscriber s ON "
                       "s.CallHandlerObjectID = h.CallHandlerObjectID WHERE m.MenuEntryObjectID=?",
                       {entry}),
                  id)
            << entry;
    }
    EXPECT_EQ(m_bench.serverProblems(), std::vector<std::string>{});
    test::expectSame(othersBefore, m_bench.snapshot(exclude));
}

INSTANTIATE_TEST_SUITE_P(PreserveAlternateExtensions, IdentityTest, ::testing::Bool(),
                         [](const auto &param) { return param.param ? "Kept" : "Dropped"; });

} // namespace
