// The advanced search's guard and resize rules, without a server.
#include "search/AdvancedSearchPage.h"

#include <gtest/gtest.h>

using namespace zeph::search;
using zeph::Status;

TEST(QueryGuard, RefusalsInTheirOrderAndHarmlessTextsPass) {
    const char *second =
        "Only a single SELECT can run from this interface: the text goes on after \";\"";
    auto notAllowed = [](const std::string &word) {
        return "Only a SELECT can run from this interface: " + word + " is not allowed";
    };
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        // The four refusals the window has always made: shortest text, then four words anywhere.
        {"ab", "Invalid SQL query"},
        {"   ", std::nullopt},
        {"\r\n", "Invalid SQL query"},             // a line break is two characters
        {"\xC3\xA4\xC3\xB6", "Invalid SQL query"}, // characters, not bytes
        {"WHERE Alias='delete' OR Alias='update'", "You cannot issue updates from this interface"},
        {"WHERE Alias='deleted'", "You cannot issue DELETEs from this interface"},
        {"WHERE Alias='drop' OR Alias='execute'", "You cannot issue EXECUTEs from this interface"},
        {"WHERE Alias='raindrops'", "You cannot issue DROPs from this interface"},
        {"WHERE Alias='exec'", std::nullopt},
        // What the four words miss and a single read cannot hold.
        {"WHERE 1=1; insert into Subscriber (Alias) VALUES ('x')", second},
        {"WHERE 1=1 /* ; */ ; CREATE TABLE t (x)", second},
        {"WHERE 1=1 -- note\r\n; CREATE TABLE t (x)", second},
        {"WHERE 1=1 MERGE INTO Subscriber USING Subscriber s ON 1=0 WHEN NOT MATCHED THEN "
         "INSERT (Alias) VALUES ('x');",
         notAllowed("MERGE")},
        {"WHERE 1=1 exec sp_CreateSubscriber", notAllowed("EXEC")},
        {"WHERE 1=1 INSERT INTO Subscriber (Alias) SELECT 'x'", notAllowed("INSERT")},
        {"WHERE EXISTS (SELECT * FROM OPENQUERY(srv, 'INSERT x'))", notAllowed("OPENQUERY")},
        // Texts that only look like a second statement or a write.
        {"WHERE 1=1;  \r\n\t", std::nullopt},
        {"WHERE Alias='it''s; insert into'", std::nullopt},
        {"WHERE \"Insert\"=1 OR [Merge]=2", std::nullopt},
        {"WHERE [a]]; insert]=1", std::nullopt},
        {"WHERE Alias='x; INSERT", std::nullopt},
    };
    for (const auto &[text, refusal] : cases) {
        const Status accepted = checkQuery(text);
        EXPECT_EQ(accepted ? std::nullopt : std::optional<std::string>(accepted.error()), refusal)
            << "text: " << text;
    }
}

TEST(AdvancedSearchLayout, AMinimisedWindowKeepsItsLayout) {
    const AdvancedSearchLayout before = Form_Resize(designLayout(), 11000, 8000, false);
    const AdvancedSearchLayout minimised = Form_Resize(before, 0, 0, true);
    EXPECT_EQ(minimised.width, 11000);
    EXPECT_EQ(minimised.gridSQL, before.gridSQL);
}

TEST(ResultGrid, CellsOutsideTheGridReadEmpty) {
    ResultGrid grid;
    grid.header = {"Alias", "DisplayName"};
    grid.cells = {{"a", "A"}, {"b", "B"}};
    EXPECT_EQ(grid.TextMatrix(3, 0), "");
    EXPECT_EQ(grid.TextMatrix(1, 2), "");
    grid.clearRows();
    EXPECT_EQ(grid.Rows(), 1);
}
