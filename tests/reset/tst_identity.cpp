// The proof of a reset on the stand-in server: the subscriber keeps its ids, names, extension
// and directory account, takes every other setting from the template, loses its recordings and
// messages, keeps its alternate extensions when asked, its list memberships and the auto
// attendant's links to it; the server stays whole and every other subscriber is untouched.
#include "reset_helpers.h"

#include "platform/sim/SimHost.h"
#include "platform/sqlite/StandInServer.h"

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

std::vector<std::string> serverProblems(test::ResetBench &bench) {
    std::string error;
    auto problems = sqlite::checkServerDatabase(sim::databasePath(bench.temp.folder()), error);
    EXPECT_TRUE(problems) << error;
    return problems.value_or(std::vector<std::string>{"not checked"});
}

// What must survive, and what must go, read before the run.
struct Before {
    test::SubscriberFacts facts;
    std::string names; // first | last | display
    std::vector<std::string> alternates;
    std::vector<std::string> lists;
    std::vector<std::string> menuEntriesToIt;
    std::vector<std::string> recordings; // native paths of existing files
};

class IdentityTest : public ::testing::TestWithParam<bool> {
protected:
    test::ResetBench m_bench{20, 1};

    // The subscriber that the most menu entries of other handlers lead to.
    std::string model() {
        return m_bench.sqlText(
            "SELECT s.SubscriberObjectID FROM vw_Subscriber s JOIN MenuEntry m ON "
            "m.TargetHandlerObjectID = s.CallHandlerObjectID AND m.ParentObjectID <> "
            "s.CallHandlerObjectID WHERE s.DirectoryID IS NOT NULL GROUP BY s.SubscriberObjectID "
            "ORDER BY COUNT(*) DESC, s.Alias LIMIT 1");
    }

    Before capture(const std::string &id) {
        Before b;
        b.facts = m_bench.facts(id);
        b.names = namesOf(id);
        b.alternates = alternatesOf(id);
        b.lists = column(m_bench.sql(
            "SELECT DistributionListObjectID FROM DistributionListMember WHERE MemberObjectID=?",
            {id}));
        b.menuEntriesToIt = column(
            m_bench.sql("SELECT MenuEntryObjectID FROM MenuEntry WHERE TargetHandlerObjectID=? AND "
                        "ParentObjectID<>?",
                        {b.facts.callHandlerId, b.facts.callHandlerId}));
        std::vector<std::string> paths =
            column(m_bench.sql("SELECT StreamPath FROM MessagingRule WHERE ParentObjectID=? AND "
                               "StreamPath IS NOT NULL",
                               {b.facts.callHandlerId}));
        if (b.facts.voiceName)
            paths.push_back(*b.facts.voiceName);
        for (const std::string &p : paths) {
            std::string file = m_bench.recordingFile(p);
            if (!file.empty())
                b.recordings.push_back(file);
        }
        return b;
    }
    std::string namesOf(const std::string &id) {
        return m_bench.sqlText("SELECT COALESCE(FirstName,'<NULL>') || '|' || "
                               "COALESCE(LastName,'<NULL>') || '|' || DisplayName FROM "
                               "vw_Subscriber WHERE SubscriberObjectID=?",
                               {id});
    }
    std::vector<std::string> alternatesOf(const std::string &id) {
        return column(m_bench.sql(
            "SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0",
            {id}));
    }
    std::pair<std::string, std::string> newIds() {
        const test::ProcedureCall &call = m_bench.db().lastCall("sp_CreateSubscriber");
        std::pair<std::string, std::string> ids;
        if (!call.result || call.result->rows.size() != 1)
            return ids;
        for (std::size_t c = 0; c < call.result->columns.size(); ++c) {
            const std::string &name = call.result->columns[c].name;
            if (db::equalsIgnoreCase(name, "SubscriberObjectID"))
                ids.first = db::valueText(call.result->rows[0][c]);
            if (db::equalsIgnoreCase(name, "CallHandlerObjectID"))
                ids.second = db::valueText(call.result->rows[0][c]);
        }
        return ids;
    }
};

TEST_P(IdentityTest, TheResetSubscriberKeepsItsIdentityAndTakesTheTemplate) {
    const bool preserve = GetParam();
    m_bench.templateAlias = "salesTemplate";
    m_bench.preserve = preserve;
    const std::string id = model();
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(serverProblems(m_bench).empty());
    Before b = capture(id);
    const test::SubscriberFacts &s = b.facts;
    ASSERT_FALSE(b.alternates.empty()) << "the model subscriber has alternate extensions";
    ASSERT_FALSE(b.lists.empty()) << "the model subscriber is in distribution lists";
    ASSERT_FALSE(b.menuEntriesToIt.empty()) << "the auto attendant leads to it";
    ASSERT_FALSE(b.recordings.empty()) << "it has recordings";
    ASSERT_GT(m_bench.messagesIn(s, "Inbox") + m_bench.messagesIn(s, "Sent Items") +
                  m_bench.messagesIn(s, "Deleted Items"),
              0);
    const std::string templateRow = m_bench.sqlText(
        "SELECT COSObjectID || '|' || SwitchID || '|' || Language || '|' || TimeZone || '|' || "
        "PlaybackSpeed || '|' || PlaybackVolume || '|' || ListInDirectory || '|' || "
        "MessageSortOrder || '|' || UseBriefPrompts || '|' || SubscriberTemplateObjectID FROM "
        "SubscriberTemplate WHERE Alias=?",
        {m_bench.templateAlias});
    auto subscriberSettings = [&] {
        return m_bench.sqlText(
            "SELECT COSObjectID || '|' || SwitchID || '|' || Language || '|' || TimeZone || '|' "
            "|| PlaybackSpeed || '|' || PlaybackVolume || '|' || ListInDirectory || '|' || "
            "MessageSortOrder || '|' || UseBriefPrompts || '|' || "
            "COALESCE(SubscriberTemplateObjectID, '') FROM Subscriber WHERE SubscriberObjectID=?",
            {id});
    };
    const std::string handlerTemplateRow = m_bench.sqlText(
        "SELECT h.Language || '|' || h.MaxMsgLength || '|' || h.EditMsg || '|' || "
        "h.PlayAfterMessage || '|' || h.SendUrgentMsg || '|' || h.IsMsgSecure FROM "
        "CallHandlerTemplate h JOIN SubscriberTemplate t ON t.CallHandlerTemplateObjectID = "
        "h.CallHandlerTemplateObjectID WHERE t.Alias=?",
        {m_bench.templateAlias});
    auto handlerSettings = [&] {
        return m_bench.sqlText("SELECT Language || '|' || MaxMsgLength || '|' || EditMsg || '|' "
                               "|| PlayAfterMessage || '|' || SendUrgentMsg || '|' || IsMsgSecure "
                               "FROM CallHandler WHERE CallHandlerObjectID=?",
                               {s.callHandlerId});
    };
    ASSERT_NE(subscriberSettings(), templateRow) << "the template must differ to prove anything";
    ASSERT_NE(handlerSettings(), handlerTemplateRow);

    std::vector<std::string> exclude = {id, s.callHandlerId, s.directoryId, s.alias};
    for (const std::string &file : b.recordings)
        exclude.push_back(fs::path(file).filename().string());
    test::Snapshot othersBefore = m_bench.snapshot(exclude);

    m_bench.addRow(id);
    std::vector<std::string> lines = m_bench.run();
    EXPECT_EQ(m_bench.page->summary()->errorCount, 0) << ::testing::PrintToString(lines);
    EXPECT_EQ(m_bench.page->summary()->subscribersReset, 1);
    auto [newId, newHandler] = newIds();
    ASSERT_FALSE(newId.empty());
    EXPECT_NE(newId, id);
    EXPECT_NE(newHandler, s.callHandlerId);

    // Old ids back; names, extension and directory account unchanged.
    test::SubscriberFacts after = m_bench.facts(id);
    EXPECT_EQ(after.alias, s.alias);
    EXPECT_EQ(after.callHandlerId, s.callHandlerId);
    EXPECT_EQ(after.extension, s.extension);
    EXPECT_EQ(after.directoryId, s.directoryId);
    EXPECT_EQ(namesOf(id), b.names);
    EXPECT_EQ(
        m_bench.sqlText("SELECT SubscriberObjectID FROM vw_Subscriber WHERE Alias=?", {s.alias}),
        id);
    EXPECT_EQ(m_bench.sqlText("SELECT SubscriberObjectID || '|' || CallHandlerObjectID FROM "
                              "GlobalSubscriber WHERE SubscriberObjectID=?",
                              {id}),
              id + "|" + s.callHandlerId);
    EXPECT_EQ(m_bench.sqlText("SELECT AdministratorObjectID || '|' || RecipientObjectID || '|' || "
                              "IsPrimary FROM CallHandler WHERE CallHandlerObjectID=?",
                              {s.callHandlerId}),
              id + "|" + id + "|1");
    // No row holds a new id any more.
    EXPECT_TRUE(m_bench.snapshot({}).tables.size() > 0);
    for (const auto &[table, rows] : m_bench.snapshot().tables) {
        for (const std::string &row : rows) {
            EXPECT_EQ(row.find(newId), std::string::npos) << table << ": " << row;
            EXPECT_EQ(row.find(newHandler), std::string::npos) << table << ": " << row;
        }
    }
    // Every other setting from the template.
    EXPECT_EQ(subscriberSettings(), templateRow);
    EXPECT_EQ(handlerSettings(), handlerTemplateRow);
    const std::string tplId =
        m_bench.sqlText("SELECT SubscriberTemplateObjectID FROM SubscriberTemplate WHERE Alias=?",
                        {m_bench.templateAlias});
    const std::string handlerTpl =
        m_bench.sqlText("SELECT CallHandlerTemplateObjectID FROM SubscriberTemplate WHERE Alias=?",
                        {m_bench.templateAlias});
    for (const char *table : {"MessagingRule", "ContactRule", "MenuEntry"}) {
        std::string count =
            std::string("SELECT COUNT(*) FROM ") + table + " WHERE ParentObjectID=?";
        EXPECT_EQ(m_bench.sqlCount(count, {s.callHandlerId}), m_bench.sqlCount(count, {handlerTpl}))
            << table;
    }
    for (const char *table : {"NotificationDevice", "NotificationRule", "NotificationMWI"}) {
        std::string count =
            std::string("SELECT COUNT(*) FROM ") + table + " WHERE ParentObjectID=?";
        EXPECT_EQ(m_bench.sqlCount(count, {id}), m_bench.sqlCount(count, {tplId})) << table;
    }

    // Recordings gone, every StreamPath of it NULL; mail folders empty.
    for (const std::string &file : b.recordings)
        EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE SubscriberObjectID=? AND "
                               "StreamPath IS NOT NULL",
                               {id}),
              0);
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM GlobalSubscriber WHERE SubscriberObjectID=? "
                               "AND StreamPath IS NOT NULL",
                               {id}),
              0);
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM MessagingRule WHERE ParentObjectID=? AND "
                               "StreamPath IS NOT NULL",
                               {s.callHandlerId}),
              0);
    EXPECT_EQ(m_bench.sqlCount("SELECT COUNT(*) FROM CallHandler WHERE CallHandlerObjectID=? AND "
                               "StreamPath IS NOT NULL",
                               {s.callHandlerId}),
              0);
    for (const char *folder : {"Inbox", "Sent Items", "Deleted Items"}) {
        EXPECT_TRUE(fs::is_directory(m_bench.mailboxFolder(s) + "/" + folder));
        EXPECT_EQ(m_bench.messagesIn(s, folder), 0) << folder;
    }

    // Alternate extensions back when asked for, gone when not.
    if (preserve) {
        EXPECT_EQ(alternatesOf(id), b.alternates);
        DbRowSet rows = m_bench.sql("SELECT Alias, ParentObjectIDType, DTMFAccessIDType FROM "
                                    "DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0",
                                    {id});
        std::vector<std::string> aliases = column(rows, 0);
        for (std::size_t n = 1; n <= b.alternates.size(); ++n)
            EXPECT_NE(std::find(aliases.begin(), aliases.end(),
                                "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n)),
                      aliases.end());
        EXPECT_EQ(column(rows, 1), std::vector<std::string>(b.alternates.size(), "1"));
        EXPECT_EQ(column(rows, 2), std::vector<std::string>(b.alternates.size(), "1"));
    } else {
        EXPECT_TRUE(alternatesOf(id).empty());
    }

    // After the lists' synchronisation it is in every list it was in.
    EXPECT_EQ(
        column(m_bench.sql("SELECT DistributionListObjectID FROM DistributionListMember WHERE "
                           "MemberObjectID=?",
                           {id})),
        b.lists);
    // The auto attendant still leads to it.
    for (const std::string &entry : b.menuEntriesToIt) {
        EXPECT_EQ(m_bench.sqlText("SELECT s.SubscriberObjectID FROM MenuEntry m JOIN CallHandler "
                                  "h ON h.CallHandlerObjectID = m.TargetHandlerObjectID JOIN "
                                  "Subscriber s ON s.CallHandlerObjectID = h.CallHandlerObjectID "
                                  "WHERE m.MenuEntryObjectID=?",
                                  {entry}),
                  id)
            << entry;
    }
    EXPECT_EQ(serverProblems(m_bench), std::vector<std::string>{});
    // Everything else byte for byte as it was.
    test::expectSame(othersBefore, m_bench.snapshot(exclude));
}

INSTANTIATE_TEST_SUITE_P(PreserveAlternateExtensions, IdentityTest, ::testing::Bool(),
                         [](const auto &param) { return param.param ? "Kept" : "Dropped"; });

TEST(IdentityMend, TwelveAlternateExtensionsAllComeBack) {
    test::ResetBench bench(20, 1);
    bench.preserve = true;
    std::string id = bench.sqlText("SELECT ParentObjectID FROM vw_DTMFAccessID WHERE "
                                   "IsPrimaryID=0 AND ObjectType=1 GROUP BY ParentObjectID "
                                   "HAVING COUNT(*) > 11");
    ASSERT_FALSE(id.empty());
    std::vector<std::string> before = column(bench.sql(
        "SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE ParentObjectID=? AND IsPrimaryID=0", {id}));
    ASSERT_EQ(before.size(), 12u);
    bench.addRow(id);
    std::vector<std::string> lines = bench.run();
    EXPECT_EQ(bench.page->summary()->errorCount, 0) << ::testing::PrintToString(lines);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "    12 alternate extensiosn found for user - saving"),
              lines.end());
    EXPECT_EQ(column(bench.sql("SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE ParentObjectID=? "
                               "AND IsPrimaryID=0",
                               {id})),
              before);
    EXPECT_EQ(bench.sqlCount("SELECT COUNT(*) FROM DTMFAccessID WHERE ParentObjectID=? AND "
                             "Alias='SYSTEM_DEFINED_ALT_EXT_12'",
                             {id}),
              1);
    EXPECT_EQ(serverProblems(bench), std::vector<std::string>{});
}

TEST(IdentityWholeHost, ResettingEverySubscriberLeavesTheServerWhole) {
    test::ResetBench bench(24, 3);
    bench.preserve = true;
    auto all = bench.subscribers();
    std::map<std::string, std::vector<std::string>> lists;
    for (const auto &[alias, id] : all) {
        bench.addRow(id);
        lists[id] = column(bench.sql("SELECT DistributionListObjectID FROM DistributionListMember "
                                     "WHERE MemberObjectID=?",
                                     {id}));
    }
    bench.run();
    EXPECT_GT(bench.page->summary()->subscribersReset, static_cast<int>(all.size()) / 2);
    EXPECT_EQ(serverProblems(bench), std::vector<std::string>{});
    for (const auto &[alias, id] : all) {
        EXPECT_EQ(
            bench.sqlText("SELECT SubscriberObjectID FROM vw_Subscriber WHERE Alias=?", {alias}),
            id);
        EXPECT_EQ(column(bench.sql("SELECT DistributionListObjectID FROM DistributionListMember "
                                   "WHERE MemberObjectID=?",
                                   {id})),
                  lists[id])
            << alias;
    }
}

} // namespace
