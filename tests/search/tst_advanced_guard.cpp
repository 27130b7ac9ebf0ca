// The advanced search's guard and resize rules, without a server.
#include "search/AdvancedSearchPage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace zeph::search;

namespace {

constexpr const char *kInvalid = "Invalid SQL query";
constexpr const char *kUpdates = "You cannot issue updates from this interface";
constexpr const char *kDeletes = "You cannot issue DELETEs from this interface";
constexpr const char *kExecutes = "You cannot issue EXECUTEs from this interface";
constexpr const char *kDrops = "You cannot issue DROPs from this interface";
constexpr const char *kSecond =
    "Only a single SELECT can run from this interface: the text goes on after \";\"";

std::string notAllowed(const std::string &word) {
    return "Only a SELECT can run from this interface: " + word + " is not allowed";
}

void expectRefusals(const std::vector<std::pair<std::string, std::optional<std::string>>> &cases) {
    for (const auto &[text, refusal] : cases)
        EXPECT_EQ(queryRefusal(text), refusal) << "text: " << text;
}

} // namespace

// The four refusals the window has always made: shortest text, then the four words anywhere in
// the text, in this order.
TEST(QueryGuard, TheFourRefusalsInTheirOrder) {
    expectRefusals({
        {"ab", kInvalid},
        {"   ", std::nullopt},
        {"\r\n", kInvalid},             // a line break is two characters
        {"\xC3\xA4\xC3\xB6", kInvalid}, // characters, not bytes
        {"UP", kInvalid},
        {"WHERE Alias='jsmith'", std::nullopt},
        {"WHERE LastUpdateTime IS NULL", kUpdates},
        {"WHERE Alias='deleted'", kDeletes},
        {"WHERE 1=1 -- execute later", kExecutes},
        {"WHERE Alias='raindrops'", kDrops},
        {"WHERE Alias='delete' OR Alias='update'", kUpdates},
        {"WHERE Alias='drop' OR Alias='execute'", kExecutes},
        {"WHERE Alias='exec'", std::nullopt},
        {"WHERE Alias='up\r\ndate'", std::nullopt},
        {"WHERE 1=1; DELETE FROM Subscriber", kDeletes},
    });
}

// What the four words miss and a single read cannot hold.
TEST(QueryGuard, OneSelectOnly) {
    expectRefusals({
        {"WHERE 1=1; insert into Subscriber (Alias) VALUES ('x')", kSecond},
        {"WHERE 1=1 /* ; */ ; CREATE TABLE t (x)", kSecond},
        {"WHERE 1=1 -- note\r\n; CREATE TABLE t (x)", kSecond},
        {"WHERE 1=1 MERGE INTO Subscriber USING Subscriber s ON 1=0 WHEN NOT MATCHED THEN "
         "INSERT (Alias) VALUES ('x');",
         notAllowed("MERGE")},
        {"WHERE 1=1 INSERT INTO Subscriber (Alias) SELECT 'x'", notAllowed("INSERT")},
        {"WHERE 1=1 SELECT * into Intruder FROM Subscriber", notAllowed("INTO")},
        {"WHERE 1=1 exec sp_CreateSubscriber", notAllowed("EXEC")},
        {"WHERE EXISTS (SELECT * FROM OPENQUERY(srv, 'INSERT x'))", notAllowed("OPENQUERY")},
        {"WHERE 1=1 COMMIT", notAllowed("COMMIT")},
    });
}

// Texts that only look like a second statement or a write pass to the server.
TEST(QueryGuard, HarmlessTextsPass) {
    expectRefusals({
        {"WHERE 1=1;  \r\n\t", std::nullopt},
        {"WHERE 1=1; -- the usual ones", std::nullopt},
        {"WHERE Alias='it''s; insert into'", std::nullopt},
        {"WHERE \"Insert\"=1 OR [Merge]=2", std::nullopt},
        {"WHERE [a]]; insert]=1", std::nullopt},
        {"WHERE REPLACE (Alias, 'a', 'b')='x'", std::nullopt},
        {"WHERE Alias='x; INSERT", std::nullopt},
    });
}

TEST(AdvancedSearchLayoutTest, ControlsFollowTheWindowWithinItsLeastSize) {
    const AdvancedSearchLayout d = designLayout();
    for (const auto &[width, height, w, h] : {std::tuple{12000, 9000, 12000, 9000},
                                              {3999, 3599, 4000, 3600},
                                              {8000, 100, 8000, 3600}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        const AdvancedSearchLayout l = Form_Resize(d, width, height, false);
        EXPECT_EQ(l.width, w);
        EXPECT_EQ(l.height, h);
        EXPECT_EQ(l.txtSQL.width, w - 1320);
        EXPECT_EQ(l.cmdExecute.left, w - 1155);
        EXPECT_EQ(l.gridSQL.width, w - 110);
        EXPECT_EQ(l.gridSQL.height, h - 2805);
        EXPECT_EQ(l.cmdCancel.top, h - l.cmdCancel.height - 400);
        EXPECT_EQ(l.cmdCancel.left, w - 1335);
        EXPECT_EQ(l.cmdImport.left, w - 3435);
        EXPECT_EQ(l.cmdPreviousQueries.top, l.cmdCancel.top);
        EXPECT_EQ(l.cmdPreviousQueries.left, d.cmdPreviousQueries.left);
    }
    const AdvancedSearchLayout before = Form_Resize(d, 11000, 8000, false);
    const AdvancedSearchLayout minimised = Form_Resize(before, 0, 0, true);
    EXPECT_EQ(minimised.width, 11000);
    EXPECT_EQ(minimised.gridSQL, before.gridSQL);
}

TEST(ResultGridTest, CellsOutsideTheGridReadEmpty) {
    ResultGrid grid;
    grid.header = {"Alias", "DisplayName"};
    grid.cells = {{"a", "A"}, {"b", "B"}};
    EXPECT_EQ(grid.Rows(), 3);
    EXPECT_EQ(grid.TextMatrix(2, 0), "b");
    EXPECT_EQ(grid.TextMatrix(3, 0), "");
    EXPECT_EQ(grid.TextMatrix(1, 2), "");
    grid.clearRows();
    EXPECT_EQ(grid.Rows(), 1);
    EXPECT_EQ(grid.Cols(), 2);
}
