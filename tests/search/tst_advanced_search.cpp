// The advanced search page on a stand-in host: the statement as the server gets it, that no
// text changes the database, the import into the selection grid, and the history.
#include "search/AdvancedSearchPage.h"
#include "support/TempHost.h"

#include "app/registry/RegistryAPI.h"
#include "db/DbValues.h"
#include "db/modTarvoDB.h"
#include "select/ChooseSubscribersPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

using namespace zeph;
using namespace zeph::search;

namespace {

using Texts = std::vector<std::string>;

constexpr const char *kSecond =
    "Only a single SELECT can run from this interface: the text goes on after \";\"";

class AdvancedSearchTest : public ::testing::Test {
protected:
    test::TempHost m_temp{24, 5};
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_db;
    std::unique_ptr<ChooseSubscribersPage> m_selection;
    std::unique_ptr<AdvancedSearchPage> m_page;
    int m_unloads = 0;

    test::ScriptedUi &ui() { return m_temp.ui(); }
    AdvancedSearchPage &page() { return *m_page; }

    // Opens the cached tables as start-up does, then the selection page and this page.
    void open() {
        Host &host = m_temp.host();
        m_registry = std::make_unique<RegistryAPI>(*host.registry);
        m_db = std::make_unique<db::modTarvoDB>(*host.database);
        ASSERT_TRUE(m_db->bOpenDatabase(m_db->DbConnectionString()));
        m_selection =
            std::make_unique<ChooseSubscribersPage>(host, *m_registry, *m_db, nullptr, "");
        m_page = std::make_unique<AdvancedSearchPage>(host, *m_registry, *m_db, *m_selection);
        m_page->unload = [this] { ++m_unloads; };
    }

    // A statement run straight on the database; the first column of its rows.
    Texts direct(const std::string &sql, const std::vector<DbValue> &params = {}) {
        Texts out;
        auto connection = m_temp.host().database->connect(db::kTarvoConnectionText);
        const DbRowSet set = connection->query(sql, params, false);
        std::size_t at = 0; // key columns fetched for saving come hidden
        while (at + 1 < set.columns.size() && set.columns[at].hidden)
            ++at;
        for (const auto &row : set.rows)
            out.push_back(db::isNull(row.at(at)) ? std::string() : db::valueText(row.at(at)));
        return out;
    }
    Texts resultColumn(const std::string &field) {
        Texts out;
        const ResultGrid &grid = page().gridSQL;
        const auto col = std::find(grid.header.begin(), grid.header.end(), field);
        for (int row = 1; row < grid.Rows(); ++row)
            out.push_back(grid.TextMatrix(row, static_cast<int>(col - grid.header.begin())));
        return out;
    }
    // Runs a text; the boxes given must show.
    void execute(const std::string &tail, const Texts &boxes = {}) {
        page().txtSQL = tail;
        for (const std::string &box : boxes)
            ui().expectBox(box);
        page().cmdExecute_Click();
        ui().verifyAllShown();
    }
    void importExpecting(const Texts &boxes) {
        for (const std::string &box : boxes)
            ui().expectBox(box);
        page().cmdImport_Click();
        ui().verifyAllShown();
    }
};

TEST_F(AdvancedSearchTest, EveryFieldIsAColumnAndTheTextFollowsTheFixedStart) {
    open();
    execute("   ");
    auto connection = m_temp.host().database->connect(db::kTarvoConnectionText);
    Texts fields;
    for (const auto &c : connection->query("SELECT * FROM vw_Subscriber WHERE 0", {}, true).columns)
        fields.push_back(c.name);
    EXPECT_EQ(page().gridSQL.header, fields);
    const Texts remote = direct("SELECT RemoteNodeID FROM vw_Subscriber");
    const Texts shown = resultColumn("RemoteNodeID");
    ASSERT_EQ(shown.size(), remote.size());
    EXPECT_EQ(std::count(shown.begin(), shown.end(), ""),
              std::count(remote.begin(), remote.end(), ""));
    // A join, a line break and an ordering: only the server's reading of the whole text gives
    // this order.
    execute("INNER JOIN vw_CallHandler_Primary p\r\nON p.CallHandlerObjectID = "
            "vw_Subscriber.CallHandlerObjectID ORDER BY vw_Subscriber.Alias DESC");
    const Texts expected = direct(
        "SELECT vw_Subscriber.Alias FROM vw_Subscriber INNER JOIN vw_CallHandler_Primary p ON "
        "p.CallHandlerObjectID = vw_Subscriber.CallHandlerObjectID ORDER BY vw_Subscriber.Alias "
        "DESC");
    ASSERT_GT(expected.size(), 2u);
    EXPECT_EQ(resultColumn("Alias"), expected);
}

// Every refusal empties the grid, keeps the text, and leaves the database file as it was.
TEST_F(AdvancedSearchTest, NoTextChangesTheDatabase) {
    open();
    const std::string attached = m_temp.folder() + "/intruder.sqlite";
    const std::pair<std::string, std::string> attempts[] = {
        {"WHERE 1=1; DELETE FROM Subscriber", "You cannot issue DELETEs"},
        {"; DROP VIEW vw_Subscriber", "You cannot issue DROPs"},
        {"WHERE 1=1; INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) "
         "VALUES ('{00000000-0000-0000-0000-0000000000AA}', 'intruder', 1)",
         kSecond},
        {"; ATTACH DATABASE '" + attached + "' AS intruder", kSecond},
        {"; pragma journal_mode=MEMORY", kSecond},
        {"WHERE 1=1 /* ; */ ; BEGIN IMMEDIATE", kSecond},
        {"WHERE 1=1 SELECT * INTO Intruder FROM Subscriber", "Only a SELECT can run"},
    };
    execute("   ");
    auto bytes = [&] {
        return m_temp.readFile("TarvoDb.sqlite") + "|" + m_temp.readFile("TarvoDb.sqlite-wal");
    };
    const std::string before = bytes();
    for (const auto &[tail, refusal] : attempts) {
        SCOPED_TRACE(tail);
        ASSERT_GT(page().gridSQL.Rows(), 1);
        execute(tail, {refusal});
        EXPECT_EQ(ui().boxes().back().text.rfind(refusal, 0), 0u) << ui().boxes().back().text;
        EXPECT_EQ(page().gridSQL.Rows(), 1);
        EXPECT_EQ(page().txtSQL, tail);
        EXPECT_EQ(bytes(), before);
        execute("   ");
    }
    EXPECT_FALSE(std::filesystem::exists(attached));
}

TEST_F(AdvancedSearchTest, ImportTakesOnlyRowsTheCachedTablesHold) {
    const Texts five =
        direct("SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) ORDER BY Alias LIMIT 5");
    ASSERT_EQ(five.size(), 5u);
    // The third one's call handler is no longer primary, the fourth one has none.
    direct("UPDATE CallHandler SET IsPrimary = 0 WHERE CallHandlerObjectID = (SELECT "
           "CallHandlerObjectID FROM Subscriber WHERE Alias = ?)",
           {five[2]});
    direct("UPDATE Subscriber SET CallHandlerObjectID = NULL WHERE Alias = ?", {five[3]});
    open();
    // Created after start-up: not in the cached subscribers. A contact is never added.
    direct("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) VALUES "
           "('{00000000-0000-0000-0000-0000000000CC}', 'latecomer', 1)");
    const Texts contact = direct("SELECT Alias FROM Subscriber WHERE SubscriberType NOT IN (1,3) "
                                 "AND CallHandlerObjectID IS NOT NULL LIMIT 1");
    ASSERT_EQ(contact.size(), 1u);
    std::string list = "'latecomer','" + contact[0] + "'";
    for (const std::string &alias : five)
        list += ",'" + alias + "'";
    execute("WHERE Alias IN (" + list + ") ORDER BY Alias");
    ASSERT_EQ(page().gridSQL.Rows(), 8);
    importExpecting({"3 new subscribers added to grid"});
    const SubscriberGrid &grid = m_selection->myGrid;
    Texts aliases;
    for (int row = 1; row < grid.Rows(); ++row)
        aliases.push_back(grid.TextMatrix(row, grid.ColIndex("Alias")));
    EXPECT_EQ(aliases, (Texts{five[0], five[1], five[4]}));
    EXPECT_EQ(grid.checkedCount(), 3);
    EXPECT_EQ(m_selection->txtUsersInGrid.Text, "3");
    EXPECT_EQ(m_unloads, 1);
    EXPECT_FALSE(page().rsResults().IsOpen());
    EXPECT_FALSE(ui().busy());
}

TEST_F(AdvancedSearchTest, AnImportFailureIsReportedAndTheNextRecordFollows) {
    open();
    execute("WHERE SubscriberType IN (1,3) ORDER BY Alias LIMIT 2");
    m_db->rsSubscribers().Close(); // the cached subscribers went away under the import
    importExpecting({"(error):", "(error):", "0 new subscribers added to grid"});
    const std::string report = ui().boxes().at(0).text;
    const std::string tail = ") in procedure cmdImport_Click of Form frmAdvancedSubscriberSearch";
    ASSERT_GT(report.size(), tail.size());
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail) << report;
    EXPECT_EQ(m_unloads, 1);
}

TEST_F(AdvancedSearchTest, ImportStopsWhenTheSelectionGridIsFull) {
    open();
    m_selection->myGrid.setRowLimit(2);
    execute("WHERE SubscriberType IN (1,3)");
    ASSERT_GT(page().gridSQL.Rows(), 4);
    importExpecting({"more subscribers than the grid can hold", "2 new subscribers added to grid"});
    EXPECT_EQ(m_selection->myGrid.Rows(), 3);
}

TEST_F(AdvancedSearchTest, HistoryHoldsOnlyStatementsThatRan) {
    open();
    execute("WHERE SubscriberType=1\r\nORDER BY Alias");
    execute("WHERE Aliass='x'", {"Invalid SQL entry:\r\n"});
    // A misspelt column: the driver's description, the grid emptied, the text kept.
    EXPECT_NE(ui().boxes().back().text.find("Aliass"), std::string::npos);
    EXPECT_EQ(page().gridSQL.Rows(), 1);
    EXPECT_EQ(page().txtSQL, "WHERE Aliass='x'");
    execute("x", {"Invalid SQL query"});
    execute("WHERE 1=1; INSERT INTO Subscriber DEFAULT VALUES", {kSecond});
    const RegValueTable stored = m_registry->EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(regText(stored.data[0]), "WHERE SubscriberType=1\r\nORDER BY Alias");
}

} // namespace
