// The advanced search page on a stand-in host: the statement as the server gets it, that no
// text changes the database, the import into the selection grid, and the history.
#include "search/AdvancedSearchPage.h"
#include "select/select_helpers.h"

#include <filesystem>

using namespace zeph;
using namespace zeph::search;
using zeph::test::Texts;

namespace {

constexpr const char *kSecond =
    "Only a single SELECT can run from this interface: the text goes on after \";\"";

class AdvancedSearchTest : public ::testing::Test {
protected:
    test::SelectionHost h;
    ChooseSubscribersPage *m_selection = nullptr;
    std::unique_ptr<AdvancedSearchPage> m_page;
    int m_unloads = 0;

    // Opens the selection page as start-up does, then this page over it.
    AdvancedSearchPage &open() {
        m_selection = &h.open();
        m_page = std::make_unique<AdvancedSearchPage>(h.temp().host(), h.registry(), h.tarvoDb(),
                                                      m_selection->search());
        m_page->unload = [this] { ++m_unloads; };
        return *m_page;
    }
    // Runs a text (or imports its rows when the text is empty); the boxes given must show.
    void press(const std::string &tail, const Texts &boxes = {}) {
        for (const std::string &box : boxes)
            h.ui().expectBox(box);
        if (tail.empty()) {
            m_page->cmdImport_Click();
        } else {
            m_page->txtSQL = tail;
            m_page->cmdExecute_Click();
        }
        h.ui().verifyAllShown();
    }
};

TEST_F(AdvancedSearchTest, EveryFieldIsAColumnAndTheTextFollowsTheFixedStart) {
    AdvancedSearchPage &p = open();
    press("   ");
    EXPECT_EQ(p.gridSQL.header, h.column("SELECT name FROM pragma_table_info('vw_Subscriber')"));
    // A join, a line break and an ordering: only the server's reading of the whole text gives
    // this order.
    press("INNER JOIN vw_CallHandler_Primary p\r\nON p.CallHandlerObjectID = "
          "vw_Subscriber.CallHandlerObjectID ORDER BY vw_Subscriber.Alias DESC");
    const Texts expected = h.column(
        "SELECT vw_Subscriber.Alias FROM vw_Subscriber INNER JOIN vw_CallHandler_Primary p ON "
        "p.CallHandlerObjectID = vw_Subscriber.CallHandlerObjectID ORDER BY vw_Subscriber.Alias "
        "DESC");
    ASSERT_GT(expected.size(), 2u);
    for (std::size_t row = 0; row < expected.size(); ++row)
        EXPECT_EQ(p.gridSQL.TextMatrix(static_cast<int>(row) + 1, 1), expected[row]);
    EXPECT_EQ(p.gridSQL.Rows(), static_cast<int>(expected.size()) + 1);
}

// Every refusal empties the grid, keeps the text, and leaves the database file as it was.
TEST_F(AdvancedSearchTest, NoTextChangesTheDatabase) {
    AdvancedSearchPage &p = open();
    const std::string attached = h.temp().folder() + "/intruder.sqlite";
    const std::pair<std::string, std::string> attempts[] = {
        {"WHERE 1=1; DELETE FROM Subscriber", "You cannot issue DELETEs"},
        {"; DROP VIEW vw_Subscriber", "You cannot issue DROPs"},
        {"WHERE 1=1; INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType) "
         "VALUES ('{00000000-0000-0000-0000-0000000000AA}', 'intruder', 1)",
         kSecond},
        {"; ATTACH DATABASE '" + attached + "' AS intruder", kSecond},
        {"WHERE 1=1 SELECT * INTO Intruder FROM Subscriber", "Only a SELECT can run"},
    };
    press("   ");
    auto bytes = [&] {
        return h.temp().readFile("TarvoDb.sqlite") + "|" + h.temp().readFile("TarvoDb.sqlite-wal");
    };
    const std::string before = bytes();
    for (const auto &[tail, refusal] : attempts) {
        SCOPED_TRACE(tail);
        ASSERT_GT(p.gridSQL.Rows(), 1);
        press(tail, {refusal});
        EXPECT_EQ(h.ui().boxes().back().text.rfind(refusal, 0), 0u);
        EXPECT_EQ(p.gridSQL.Rows(), 1);
        EXPECT_EQ(p.txtSQL, tail);
        EXPECT_EQ(bytes(), before);
        press("   ");
    }
    EXPECT_FALSE(std::filesystem::exists(attached));
}

TEST_F(AdvancedSearchTest, ImportTakesOnlyRowsTheCachedTablesHold) {
    const Texts five = h.column(
        "SELECT Alias FROM Subscriber WHERE SubscriberType IN (1,3) ORDER BY Alias LIMIT 5");
    ASSERT_EQ(five.size(), 5u);
    // The third one's call handler is no longer primary, the fourth one has none.
    h.column("UPDATE CallHandler SET IsPrimary = 0 WHERE CallHandlerObjectID = (SELECT "
             "CallHandlerObjectID FROM Subscriber WHERE Alias = ?)",
             {five[2]});
    h.column("UPDATE Subscriber SET CallHandlerObjectID = NULL WHERE Alias = ?", {five[3]});
    h.plant({.alias = "contact", .type = 2}); // a contact is never added
    AdvancedSearchPage &p = open();
    h.plant({.alias = "latecomer"}); // created after start-up: not in the cached subscribers
    std::string list = "'latecomer','contact'";
    for (const std::string &alias : five)
        list += ",'" + alias + "'";
    press("WHERE Alias IN (" + list + ") ORDER BY Alias");
    ASSERT_EQ(p.gridSQL.Rows(), 8);
    press("", {"3 new subscribers added to grid"});
    EXPECT_EQ(h.gridColumn("Alias"), (Texts{five[0], five[1], five[4]}));
    EXPECT_EQ(m_selection->myGrid.checkedCount(), 3);
    EXPECT_EQ(m_selection->txtUsersInGrid.Text, "3");
    EXPECT_EQ(m_unloads, 1);
    EXPECT_FALSE(p.rsResults().IsOpen());
    EXPECT_FALSE(h.ui().busy());
}

TEST_F(AdvancedSearchTest, AnImportFailureIsReportedAndTheNextRecordFollows) {
    open();
    press("WHERE SubscriberType IN (1,3) ORDER BY Alias OFFSET 0 ROWS FETCH NEXT 2 ROWS ONLY");
    h.tarvoDb().rsSubscribers().Close(); // the cached subscribers went away under the import
    press("", {") in procedure cmdImport_Click of Form frmAdvancedSubscriberSearch",
               "(error):", "0 new subscribers added to grid"});
    EXPECT_EQ(m_unloads, 1);
}

TEST_F(AdvancedSearchTest, ImportStopsWhenTheSelectionGridIsFull) {
    open();
    m_selection->myGrid.setRowLimit(2);
    press("WHERE SubscriberType IN (1,3)");
    press("", {"more subscribers than the grid can hold", "2 new subscribers added to grid"});
    EXPECT_EQ(m_selection->myGrid.Rows(), 3);
}

TEST_F(AdvancedSearchTest, HistoryHoldsOnlyStatementsThatRan) {
    AdvancedSearchPage &p = open();
    press("WHERE SubscriberType=1\r\nORDER BY Alias");
    press("WHERE Aliass='x'", {"Invalid SQL entry:\r\n"});
    // A misspelt column: the driver's description, the grid emptied, the text kept.
    EXPECT_NE(h.ui().boxes().back().text.find("Aliass"), std::string::npos);
    EXPECT_EQ(p.gridSQL.Rows(), 1);
    EXPECT_EQ(p.txtSQL, "WHERE Aliass='x'");
    press("x", {"Invalid SQL query"});
    press("WHERE 1=1; INSERT INTO Subscriber DEFAULT VALUES", {kSecond});
    const RegValueTable stored = h.registry().EnumValues(HKEY_LOCAL_MACHINE, kQueryHistoryKey);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(regText(stored.data[0]), "WHERE SubscriberType=1\r\nORDER BY Alias");
}

} // namespace
