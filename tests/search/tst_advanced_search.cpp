// The advanced search page on a stand-in host: the statement as the server gets it, the result
// grid, the refusals and the server's own errors, that nothing a text can hold changes the
// database, the import into the selection grid, the editor's buttons and keys, and the history.
#include "search/AdvancedSearchPage.h"
#include "support/TempHost.h"

#include "app/registry/RegistryAPI.h"
#include "db/Command.h"
#include "db/modTarvoDB.h"
#include "platform/Error.h"
#include "select/ChooseSubscribersPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace zeph;
using namespace zeph::search;

namespace {

using Texts = std::vector<std::string>;

constexpr const char *kSecond =
    "Only a single SELECT can run from this interface: the text goes on after \";\"";

std::string text(const DbValue &v) {
    return db::isNull(v) ? std::string() : db::valueText(v);
}

class AdvancedSearchTest : public ::testing::Test {
protected:
    test::TempHost m_temp{24, 5};
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_db;
    std::unique_ptr<ChooseSubscribersPage> m_selection;
    std::unique_ptr<AdvancedSearchPage> m_page;
    int m_unloads = 0;

    Host &host() { return m_temp.host(); }
    test::ScriptedUi &ui() { return m_temp.ui(); }
    AdvancedSearchPage &page() { return *m_page; }

    // Opens the cached tables as start-up does, then the selection page and this page.
    void open() {
        m_registry = std::make_unique<RegistryAPI>(*host().registry);
        m_db = std::make_unique<db::modTarvoDB>(*host().database);
        ASSERT_TRUE(m_db->bOpenDatabase(m_db->DbConnectionString()));
        m_selection =
            std::make_unique<ChooseSubscribersPage>(host(), *m_registry, *m_db, nullptr, "");
        m_page = std::make_unique<AdvancedSearchPage>(host(), *m_registry, *m_db, *m_selection);
        m_page->unload = [this] { ++m_unloads; };
    }

    // A statement run straight on the database file, as the server's administrator would.
    DbRowSet direct(const std::string &sql, const std::vector<DbValue> &params = {}) {
        auto connection = host().database->connect(db::kTarvoConnectionText);
        return connection->query(sql, params, false);
    }
    DbRowSet read(const std::string &sql) {
        auto connection = host().database->connect(db::kTarvoConnectionText);
        return connection->query(sql, {}, true);
    }
    Texts firstColumn(const std::string &sql) {
        Texts out;
        for (const auto &row : read(sql).rows)
            out.push_back(text(row.at(0)));
        return out;
    }

    // The database as bytes: its file and its write-ahead log.
    std::string databaseBytes() {
        std::string bytes = m_temp.readFile("TarvoDb.sqlite");
        bytes += "|wal|" + m_temp.readFile("TarvoDb.sqlite-wal");
        return bytes;
    }

    RegValueTable history() { return m_registry->EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey); }

    Texts gridColumn(const std::string &key) {
        Texts out;
        const SubscriberGrid &grid = m_selection->myGrid;
        for (int row = 1; row < grid.Rows(); ++row)
            out.push_back(grid.TextMatrix(row, grid.ColIndex(key)));
        return out;
    }
    Texts resultColumn(const std::string &field) {
        Texts out;
        const ResultGrid &grid = page().gridSQL;
        auto it = std::find(grid.header.begin(), grid.header.end(), field);
        const int col = static_cast<int>(it - grid.header.begin());
        for (int row = 1; row < grid.Rows(); ++row)
            out.push_back(grid.TextMatrix(row, col));
        return out;
    }

    // Runs a text that must be accepted.
    void execute(const std::string &tail) {
        page().txtSQL = tail;
        page().cmdExecute_Click();
        ui().verifyAllShown();
    }
    // Puts subscribers into the selection grid through its own search for everyone.
    void fillSelectionWithEveryone() {
        m_selection->Form_Load();
        m_selection->chooseCriterion(0); // "All subscribers"
        m_selection->cmdView_Click();
        ASSERT_GT(m_selection->myGrid.Rows(), 5);
    }
};

// --- running a statement ---------------------------------------------------------------------

TEST_F(AdvancedSearchTest, WhereClauseOnAliasFindsThatSubscriber) {
    open();
    const Texts aliases = firstColumn("SELECT Alias FROM vw_Subscriber ORDER BY Alias");
    ASSERT_GE(aliases.size(), 3u);
    execute("WHERE Alias='" + aliases[2] + "'");

    EXPECT_EQ(page().gridSQL.Rows(), 2);
    EXPECT_EQ(resultColumn("Alias"), Texts{aliases[2]});
    EXPECT_TRUE(page().rsResults().IsOpen());
}

TEST_F(AdvancedSearchTest, EveryFieldOfTheViewIsAColumn) {
    open();
    DbRowSet view = read("SELECT * FROM vw_Subscriber WHERE 0");
    Texts expected;
    for (const auto &c : view.columns)
        expected.push_back(c.name);
    execute("   ");

    EXPECT_EQ(page().gridSQL.header, expected);
    EXPECT_EQ(page().gridSQL.Rows() - 1,
              static_cast<int>(read("SELECT 1 FROM Subscriber").rows.size()));
    // A NULL value reads as an empty cell.
    const Texts remote = firstColumn("SELECT RemoteNodeID FROM vw_Subscriber");
    const Texts shown = resultColumn("RemoteNodeID");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), ""),
              std::count(remote.begin(), remote.end(), ""));
}

TEST_F(AdvancedSearchTest, TheTextFollowsTheFixedStartUnchanged) {
    open();
    // A join, a line break and an ordering: only what the server makes of the whole text can
    // give this order.
    execute("INNER JOIN vw_CallHandler_Primary p\r\nON p.CallHandlerObjectID = "
            "vw_Subscriber.CallHandlerObjectID ORDER BY vw_Subscriber.Alias DESC");
    const Texts expected = firstColumn(
        "SELECT vw_Subscriber.Alias FROM vw_Subscriber INNER JOIN vw_CallHandler_Primary p ON "
        "p.CallHandlerObjectID = vw_Subscriber.CallHandlerObjectID ORDER BY vw_Subscriber.Alias "
        "DESC");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(resultColumn("Alias"), expected);
}

TEST_F(AdvancedSearchTest, MisspeltColumnShowsTheDriversDescription) {
    open();
    page().txtSQL = "WHERE Aliass='x'";
    ui().expectBox("Invalid SQL entry:\r\n");
    page().cmdExecute_Click();
    ui().verifyAllShown();

    const std::string box = ui().boxes().back().text;
    EXPECT_EQ(box.rfind("Invalid SQL entry:\r\n", 0), 0u);
    EXPECT_NE(box.find("Aliass"), std::string::npos) << box;
    EXPECT_EQ(page().gridSQL.Rows(), 1);
    EXPECT_EQ(page().txtSQL, "WHERE Aliass='x'");
    EXPECT_TRUE(history().empty());
}

TEST_F(AdvancedSearchTest, RefusalEmptiesTheGridAndKeepsTheText) {
    open();
    execute("   ");
    ASSERT_GT(page().gridSQL.Rows(), 1);
    page().txtSQL = "WHERE LastName='Updater'";
    ui().expectBox("You cannot issue updates from this interface");
    page().cmdExecute_Click();
    ui().verifyAllShown();

    EXPECT_EQ(ui().boxes().back().text, "You cannot issue updates from this interface");
    EXPECT_EQ(page().gridSQL.Rows(), 1);
    EXPECT_EQ(page().txtSQL, "WHERE LastName='Updater'");
}

// --- nothing changes the database --------------------------------------------------------------

struct WriteAttempt {
    std::string tail;
    std::string refusal; // the start of the box the window shows
};

TEST_F(AdvancedSearchTest, NoTextChangesTheDatabase) {
    open();
    const std::string attached = m_temp.folder() + "/intruder.sqlite";
    const std::vector<WriteAttempt> attempts = {
        {"WHERE 1=1; INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) "
         "VALUES ('{00000000-0000-0000-0000-0000000000AA}', 'intruder', 1)",
         kSecond},
        {"; TRUNCATE TABLE Subscriber", kSecond},
        {"; ALTER TABLE Subscriber ADD COLUMN Intruder TEXT", kSecond},
        {"WHERE 1=1 MERGE INTO Subscriber USING Subscriber s ON 1=0 WHEN NOT MATCHED THEN "
         "INSERT (Alias) VALUES ('x');",
         "Only a SELECT can run from this interface: MERGE"},
        {"; ATTACH DATABASE '" + attached + "' AS intruder", kSecond},
        {"; PRAGMA user_version=42", kSecond},
        {"; pragma journal_mode=MEMORY", kSecond},
        {"WHERE 1=1; DELETE FROM Subscriber", "You cannot issue DELETEs"},
        {"WHERE 1=1; Update Subscriber SET Alias='x'", "You cannot issue updates"},
        {"; DROP VIEW vw_Subscriber", "You cannot issue DROPs"},
        {"; REPLACE INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) "
         "VALUES ('{00000000-0000-0000-0000-0000000000AB}', 'x', 1)",
         kSecond},
        {"WHERE 1=1 SELECT * INTO Intruder FROM Subscriber", "Only a SELECT can run"},
        {"; VACUUM", kSecond},
        {"; CREATE TABLE Intruder (x)", kSecond},
        {"WHERE 1=1 /* ; */ ; BEGIN IMMEDIATE", kSecond},
    };
    const std::string before = databaseBytes();
    const Texts subscribersBefore = firstColumn("SELECT Alias FROM Subscriber ORDER BY Alias");
    for (const auto &attempt : attempts) {
        SCOPED_TRACE(attempt.tail);
        page().txtSQL = attempt.tail;
        ui().expectBox(attempt.refusal);
        page().cmdExecute_Click();
        ui().verifyAllShown();
        EXPECT_EQ(ui().boxes().back().text.rfind(attempt.refusal, 0), 0u)
            << ui().boxes().back().text;
        EXPECT_EQ(databaseBytes(), before);
    }
    EXPECT_EQ(firstColumn("SELECT Alias FROM Subscriber ORDER BY Alias"), subscribersBefore);
    EXPECT_FALSE(std::filesystem::exists(attached));
    EXPECT_TRUE(history().empty());
}

// Behind the window's own refusals the server holds a text command to one read: the same
// attempts, sent as the window sends its statement, are refused there too.
TEST_F(AdvancedSearchTest, TheServerRefusesWritesOfATextCommand) {
    open();
    const std::string attached = m_temp.folder() + "/intruder.sqlite";
    const Texts statements = {
        "SELECT vw_Subscriber.* FROM vw_Subscriber WHERE 1=1; INSERT INTO Subscriber "
        "(SubscriberObjectID, Alias, SubscriberType) VALUES ('{00000000-0000-0000-0000-"
        "0000000000AA}', 'intruder', 1)",
        "SELECT vw_Subscriber.* FROM vw_Subscriber; DELETE FROM Subscriber",
        "SELECT vw_Subscriber.* FROM vw_Subscriber; -- note\nDELETE FROM Subscriber",
        "SELECT vw_Subscriber.* FROM vw_Subscriber; SELECT 1",
        "INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) VALUES "
        "('{00000000-0000-0000-0000-0000000000AA}', 'intruder', 1)",
        "DELETE FROM Subscriber",
        "UPDATE Subscriber SET Alias = Alias || 'x'",
        "WITH s AS (SELECT 1) DELETE FROM Subscriber",
        "REPLACE INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) VALUES "
        "('{00000000-0000-0000-0000-0000000000AB}', 'x', 1)",
        "ATTACH DATABASE '" + attached + "' AS intruder",
        "PRAGMA user_version=42",
        "PRAGMA journal_mode=DELETE",
        "PRAGMA query_only=0",
        "CREATE TABLE Intruder (x)",
        "CREATE TEMP TABLE Intruder (x)",
        "DROP VIEW vw_Subscriber",
        "ALTER TABLE Subscriber ADD COLUMN Intruder TEXT",
        "VACUUM",
        "VACUUM INTO '" + attached + "'",
        "ANALYZE",
        "REINDEX",
        "BEGIN IMMEDIATE",
        "SAVEPOINT intruder",
    };
    const std::string before = databaseBytes();
    for (const auto &sql : statements) {
        SCOPED_TRACE(sql);
        db::Command command(*host().database);
        command.ActiveConnection(db::kTarvoConnectionText);
        command.CommandType(db::adCmdText);
        command.CommandText(sql);
        long affected = 0;
        EXPECT_THROW(command.Execute(&affected), Error);
        EXPECT_EQ(databaseBytes(), before);
    }
    EXPECT_FALSE(std::filesystem::exists(attached));
    // The connections that refused stay good for reading.
    db::Command read(*host().database);
    read.ActiveConnection(db::kTarvoConnectionText);
    read.CommandText("SELECT count(*) FROM Subscriber");
    EXPECT_TRUE(read.Execute().IsOpen());
}

// --- import ----------------------------------------------------------------------------------

TEST_F(AdvancedSearchTest, ImportWithoutResultsLeavesTheSelectionAlone) {
    open();
    fillSelectionWithEveryone();
    const Texts before = gridColumn("Alias");
    ui().expectBox("You must create a query to select subscribers first");
    page().cmdImport_Click();
    ui().verifyAllShown();

    EXPECT_EQ(ui().boxes().back().text, "You must create a query to select subscribers first");
    EXPECT_EQ(gridColumn("Alias"), before);
    EXPECT_EQ(m_unloads, 0);
}

TEST_F(AdvancedSearchTest, ImportSkipsSubscribersWithoutAPrimaryCallHandler) {
    const Texts five = firstColumn(
        "SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) ORDER BY Alias LIMIT 5");
    ASSERT_EQ(five.size(), 5u);
    // The third one's call handler is no longer primary: it is missing from the cached table.
    direct("UPDATE CallHandler SET IsPrimary = 0 WHERE CallHandlerObjectID = (SELECT "
           "CallHandlerObjectID FROM Subscriber WHERE Alias = ?)",
           {five[2]});
    open();
    fillSelectionWithEveryone();

    execute("WHERE Alias IN ('" + five[0] + "','" + five[1] + "','" + five[2] + "','" + five[3] +
            "','" + five[4] + "') ORDER BY Alias");
    ASSERT_EQ(page().gridSQL.Rows(), 6);
    ui().expectBox("4 new subscribers added to grid");
    page().cmdImport_Click();
    ui().verifyAllShown();

    EXPECT_EQ(ui().boxes().back().text, "4 new subscribers added to grid");
    EXPECT_EQ(gridColumn("Alias"), (Texts{five[0], five[1], five[3], five[4]}));
    EXPECT_EQ(gridColumn("Selected").size(), 4u);
    EXPECT_EQ(m_selection->myGrid.checkedCount(), 4);
    EXPECT_EQ(m_selection->txtUsersInGrid.Text, "4");
    EXPECT_EQ(m_unloads, 1);
    EXPECT_TRUE(page().unloadRequested());
    EXPECT_FALSE(page().rsResults().IsOpen());
    EXPECT_FALSE(ui().busy());
}

TEST_F(AdvancedSearchTest, ImportSkipsRowsTheCachedTablesDoNotHold) {
    const Texts two = firstColumn(
        "SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) ORDER BY Alias LIMIT 2");
    ASSERT_EQ(two.size(), 2u);
    // No call handler at all in the result row.
    direct("UPDATE Subscriber SET CallHandlerObjectID = NULL WHERE Alias = ?", {two[0]});
    open();
    // Created after start-up: not in the cached subscribers.
    direct("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) VALUES "
           "('{00000000-0000-0000-0000-0000000000CC}', 'latecomer', 1)");
    // Neither 1 nor 3: never added to the grid.
    const Texts others = firstColumn("SELECT Alias FROM Subscriber WHERE SubscriberType NOT IN "
                                     "(1,3) AND CallHandlerObjectID IS NOT NULL LIMIT 1");

    std::string list = "'" + two[0] + "','" + two[1] + "','latecomer'";
    for (const auto &alias : others)
        list += ",'" + alias + "'";
    execute("WHERE Alias IN (" + list + ")");
    ASSERT_EQ(page().gridSQL.Rows(), 4 + static_cast<int>(others.size()));
    ui().expectBox("1 new subscribers added to grid");
    page().cmdImport_Click();
    ui().verifyAllShown();

    EXPECT_EQ(gridColumn("Alias"), Texts{two[1]});
    EXPECT_EQ(m_selection->txtUsersInGrid.Text, "1");
}

TEST_F(AdvancedSearchTest, ImportFailureIsReportedAndTheNextRecordFollows) {
    open();
    execute("WHERE SubscriberType IN (1,3) ORDER BY Alias LIMIT 2");
    ASSERT_EQ(page().gridSQL.Rows(), 3);
    // The cached subscribers went away under the import: every record fails on its own.
    m_db->rsSubscribers().Close();
    ui().expectBox("(error):");
    ui().expectBox("(error):");
    ui().expectBox("0 new subscribers added to grid");
    page().cmdImport_Click();
    ui().verifyAllShown();

    const std::string report = ui().boxes().at(0).text;
    EXPECT_EQ(report.rfind("(error):", 0), 0u);
    const std::string tail = ") in procedure cmdImport_Click of Form frmAdvancedSubscriberSearch";
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail) << report;
    EXPECT_EQ(m_selection->txtUsersInGrid.Text, "0");
    EXPECT_EQ(m_unloads, 1);
}

TEST_F(AdvancedSearchTest, ImportStopsWhenTheSelectionGridIsFull) {
    open();
    m_selection->myGrid.setRowLimit(2);
    execute("WHERE SubscriberType IN (1,3)");
    ASSERT_GT(page().gridSQL.Rows(), 4);
    ui().expectBox("more subscribers than the grid can hold");
    ui().expectBox("2 new subscribers added to grid");
    page().cmdImport_Click();
    ui().verifyAllShown();
    EXPECT_EQ(m_selection->myGrid.Rows(), 3);
}

// --- editor buttons, keys and closing ----------------------------------------------------------

TEST_F(AdvancedSearchTest, PasteReplacesTheWholeTextAndClearEmptiesIt) {
    open();
    page().txtSQL = "WHERE Alias='old'";
    ui().setClipboardText("WHERE Alias='new'\nORDER BY Alias");
    page().cmdPaste_Click();
    EXPECT_EQ(page().txtSQL, "WHERE Alias='new'\r\nORDER BY Alias");
    page().cmdClear_Click();
    EXPECT_EQ(page().txtSQL, "");
}

TEST_F(AdvancedSearchTest, KeysRecolourCopyAndCut) {
    open();
    page().txtSQL = "where alias='x and y'\r\norder by alias";
    KeyDownEffect effect = page().txtSQL_KeyDown('A', 0, 5, 5, 0);
    ASSERT_TRUE(effect.colors);
    EXPECT_EQ(page().txtSQL, "WHERE alias='x AND y'\r\nORDER BY alias");
    EXPECT_EQ(effect.colors->text, page().txtSQL);
    EXPECT_EQ(effect.colors->caret, 5);

    // Ctrl+C copies the selection (here across the line break) as it stands.
    page().txtSQL_KeyDown(17, 2, 0, 0, 0);
    effect = page().txtSQL_KeyDown('C', 2, 0, 15, 12);
    EXPECT_EQ(effect.action, QueryKeyAction::CopyPlainText);
    EXPECT_EQ(ui().clipboardText(), "AND y'\r\nORDE");
    EXPECT_FALSE(effect.removeSelection);

    effect = page().txtSQL_KeyDown('X', 2, 0, 0, 6);
    EXPECT_EQ(effect.action, QueryKeyAction::CutPlainText);
    EXPECT_TRUE(effect.removeSelection);
    EXPECT_EQ(ui().clipboardText(), "WHERE ");
    EXPECT_EQ(page().txtSQL, "alias='x AND y'\r\nORDER BY alias");

    page().txtSQL_KeyUp(17, 0);
    effect = page().txtSQL_KeyDown('C', 0, 0, 0, 0);
    EXPECT_EQ(effect.action, QueryKeyAction::Recolor);
}

TEST_F(AdvancedSearchTest, CancelClosesTheResultsAndUnloads) {
    open();
    execute("   ");
    ASSERT_TRUE(page().rsResults().IsOpen());
    page().cmdCancel_Click();
    EXPECT_FALSE(page().rsResults().IsOpen());
    EXPECT_EQ(m_unloads, 1);
    page().Form_Unload(); // closing the window after it: nothing more to do
    EXPECT_FALSE(page().rsResults().IsOpen());
}

// --- history ---------------------------------------------------------------------------------

TEST_F(AdvancedSearchTest, HistoryHoldsOnlyStatementsThatRan) {
    open();
    execute("WHERE SubscriberType=1\r\nORDER BY Alias");
    RegValueTable stored = history();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(regText(stored.data[0]), "WHERE SubscriberType=1\r\nORDER BY Alias");

    page().txtSQL = "WHERE Nonsense=1";
    ui().expectBox("Invalid SQL entry:");
    page().cmdExecute_Click();
    page().txtSQL = "x";
    ui().expectBox("Invalid SQL query");
    page().cmdExecute_Click();
    page().txtSQL = "WHERE 1=1; INSERT INTO Subscriber DEFAULT VALUES";
    ui().expectBox(kSecond);
    page().cmdExecute_Click();
    ui().verifyAllShown();
    EXPECT_EQ(history().size(), 1u);

    // And it comes back from the menu, recoloured.
    const auto &items = page().ShowPreviousQueries();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].caption, "WHERE SubscriberType=1 ORDER BY Alias");
    page().txtSQL.clear();
    QueryColors colors = page().mnuPreviousQuery_Click(0);
    EXPECT_EQ(page().txtSQL, "WHERE SubscriberType=1\r\nORDER BY Alias");
    EXPECT_EQ(colors.text, page().txtSQL);
    EXPECT_FALSE(colors.runs.empty());
}

} // namespace
